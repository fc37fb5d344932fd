#include "tree-writer.h"

#include <utf8proc.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "ax-readers.h"
#include "graphemes.h"
#include "utf8.h"

namespace pelko::computer {

const std::map<std::string, std::string> roleWords = {
    {"AXButton", "button"},
    {"AXStaticText", "text"},
    {"AXTextField", "field"},
    {"AXTextArea", "textarea"},
    {"AXCheckBox", "checkbox"},
    {"AXRadioButton", "radio"},
    {"AXPopUpButton", "popup"},
    {"AXMenuButton", "menubutton"},
    {"AXComboBox", "combobox"},
    {"AXSlider", "slider"},
    {"AXLink", "link"},
    {"AXImage", "image"},
    {"AXRow", "row"},
    {"AXCell", "cell"},
    {"AXColumn", "column"},
    {"AXTable", "table"},
    {"AXOutline", "outline"},
    {"AXList", "list"},
    {"AXTabGroup", "tabs"},
    {"AXRadioGroup", "radiogroup"},
    {"AXToolbar", "toolbar"},
    {"AXSheet", "sheet"},
    {"AXDialog", "dialog"},
    {"AXWindow", "window"},
    {"AXMenu", "menu"},
    {"AXGroup", "group"},
    {"AXMenuItem", "menuitem"},
    {"AXMenuBarItem", "menubaritem"},
    {"AXDisclosureTriangle", "disclosure"},
    {"AXIncrementor", "stepper"},
    {"AXScrollArea", "scrollarea"},
    {"AXWebArea", "webpage"},
    {"AXHeading", "heading"},
    {"AXSplitGroup", "split"},
    {"AXSegmentedControl", "segments"},
    {"AXColorWell", "colorwell"},
    {"AXDateField", "datefield"},
    {"AXProgressIndicator", "progress"},
    {"AXValueIndicator", "indicator"},
    {"AXLevelIndicator", "level"},
    {"AXBusyIndicator", "busy"},
};

const std::map<std::string, std::string> subroleWords = {
    {"AXSearchField", "search field"},
    {"AXTabButton", "tab"},
    {"AXCloseButton", "close button"},
    {"AXMinimizeButton", "minimize button"},
    {"AXZoomButton", "zoom button"},
    {"AXFullScreenButton", "full screen button"},
    {"AXToggle", "switch"},
    {"AXSwitch", "switch"},
};

const std::set<std::string> actionable = {
    "AXButton",      "AXTextField",
    "AXTextArea",    "AXCheckBox",
    "AXRadioButton", "AXPopUpButton",
    "AXMenuButton",  "AXComboBox",
    "AXSlider",      "AXLink",
    "AXRow",         "AXCell",
    "AXMenuItem",    "AXDisclosureTriangle",
    "AXIncrementor", "AXSegmentedControl",
    "AXColorWell",   "AXDateField",
    "AXTabGroup",
};

const std::set<std::string> skippedRoles = {"AXScrollBar", "AXRuler", "AXRulerMarker", "AXGrowArea",
                                            "AXLayoutItem"};

const std::set<std::string> expandable = {"AXDisclosureTriangle", "AXRow",      "AXOutline",
                                          "AXPopUpButton",        "AXComboBox", "AXMenuButton",
                                          "AXDisclosureGroup"};

const std::set<std::string> menuRoles = {"AXPopUpButton", "AXMenuButton", "AXComboBox",
                                         "AXMenuBarItem"};

namespace {

// Actions a line never lists: pressing is what every element offers, and the rest are plumbing.
const std::set<std::string> quietActions = {"AXPress", "AXScrollToVisible", "AXShowDefaultUI",
                                            "AXShowAlternateUI"};
constexpr size_t maxActionLabels = 6;
constexpr size_t maxPeekWords = 3;

// Clip limits.
constexpr size_t titleLimit = 120;
constexpr size_t staticTextValueLimit = 300;
constexpr size_t valueLimit = 160;
constexpr size_t placeholderLimit = 80;
constexpr size_t peekWordLimit = 40;

// A number's text as the platform writes it: integers as plain digits, fractions in their
// shortest exact form. Booleans are numbers on the platform.
std::optional<std::string> numberText(const Value& value) {
    if (const auto* number = value.as<int64_t>()) return std::to_string(*number);
    if (const auto* flag = value.as<bool>()) return *flag ? "1" : "0";
    if (const auto* number = value.as<double>()) {
        char buffer[64];
        const auto written = std::to_chars(buffer, buffer + sizeof buffer, *number);
        return std::string(buffer, written.ptr);
    }
    return std::nullopt;
}

// Whether a number is not zero, by its integer part.
std::optional<bool> numberIsOn(const Value& value) {
    if (const auto* number = value.as<int64_t>()) return *number != 0;
    if (const auto* flag = value.as<bool>()) return *flag;
    if (const auto* number = value.as<double>()) return std::trunc(*number) != 0;
    return std::nullopt;
}

// Trims invisible characters from both ends.
std::string_view trimInvisible(std::string_view text) {
    size_t begin = text.size(), end = 0;
    for (const CodePoint& codePoint : CodePoints(text)) {
        if (isInvisible(codePoint.value)) continue;
        begin = std::min(begin, codePoint.offset);
        end = codePoint.offset + codePoint.length;
    }
    return begin >= end ? std::string_view() : text.substr(begin, end - begin);
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

void appendQuoted(std::string& line, std::string_view name, const std::string& text, size_t limit) {
    line += ' ';
    line += name;
    line += "=\"";
    line += clip(text, limit);
    line += '"';
}

}  // namespace

bool isInvisible(char32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF || c == 0xFFFC)
        return true;
    if (c >= 0xE000 && c <= 0xF8FF) return true;
    const auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
           category == UTF8PROC_CATEGORY_ZP;
}

bool isInvisibleOnly(std::string_view text) {
    return trimInvisible(text).empty();
}

namespace {

// Line breaks become " ⏎ " and double quotes apostrophes: whatever an app reports, it cannot
// start a line of its own in the outline or close a quoted text early.
std::string oneLine(std::string_view text) {
    std::string cleaned(text);
    replaceAll(cleaned, "\n", " \u23CE ");
    std::replace(cleaned.begin(), cleaned.end(), '"', '\'');
    return cleaned;
}

}  // namespace

std::string clip(std::string_view text, size_t limit) {
    std::string cleaned = oneLine(text);
    if (graphemeCount(cleaned) <= limit) return cleaned;
    std::string cut(graphemePrefix(cleaned, limit));
    cut += "\u2026";
    return cut;
}

// What the walk reads about one shown element.
struct TreeWriter::Facts {
    std::string role;
    std::optional<std::string> subrole;
    bool secure = false;
    std::optional<std::string> title, description, value, placeholder, help;
    std::optional<bool> check;
    std::vector<Element> kids;

    bool hasText() const { return title || description || value || placeholder || help; }
};

// What visiting one element leaves for the walk to do below it.
struct TreeWriter::Visit {
    std::vector<Element> kids;  // empty when nothing below is walked
    int depth = 0;
};

TreeWriter::TreeWriter(Accessibility& ax, Clock& clock, int64_t maxChars,
                       std::optional<Rect> bounds, bool overview, int64_t firstIndex)
    : next(firstIndex),
      maxChars(maxChars),
      bounds(bounds),
      overview(overview),
      started(clock.now()),
      ax_(&ax),
      clock_(&clock) {}

std::string TreeWriter::outline() const {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return text;
}

bool TreeWriter::outOfBudget() const {
    return visited > visitBudget || chars > maxChars || clock_->now() - started > timeBudget;
}

// Reads the attributes that decide visibility in one round trip, and, for a shown element, its
// texts and children in a second. Reads have no side effects, so reading a few together that the
// rules would read one after the other changes nothing but the number of round trips. A secure
// field's value is never asked for.
std::optional<TreeWriter::Facts> TreeWriter::shownFacts(const Element& element) {
    std::vector<std::string> names = {"AXHidden", "AXRole", "AXSubrole"};
    if (bounds) names.insert(names.end(), {"AXPosition", "AXSize"});
    const auto first = ax_->copyAttributes(element, names);
    if (first.size() != names.size()) return std::nullopt;
    if (bounds) {
        const auto frame = frameOf(first[3], first[4]);
        if (frame && frame->size.width > 0 && frame->size.height > 0 && !frame->intersects(*bounds))
            return std::nullopt;
    }
    if (boolAttr(first[0]) == true) return std::nullopt;
    Facts facts;
    facts.role = str(first[1]).value_or("");
    if (skippedRoles.count(facts.role)) return std::nullopt;
    facts.subrole = str(first[2]);
    facts.secure = facts.subrole == "AXSecureTextField";
    return facts;
}

bool TreeWriter::shown(const Element& element) {
    return shownFacts(element).has_value();
}

TreeWriter::Visit TreeWriter::visit(const Element& element, int depth, int levels) {
    auto found = shownFacts(element);
    if (!found) return {};
    Facts& facts = *found;

    std::vector<std::string> names = {"AXChildren", "AXTitle", "AXDescription",
                                      "AXPlaceholderValue", "AXHelp"};
    if (!facts.secure) names.push_back("AXValue");
    const auto reads = ax_->copyAttributes(element, names);
    if (reads.size() != names.size()) return {};
    facts.kids = elementsOf(reads[0]);
    facts.title = str(reads[1]);
    facts.description = str(reads[2]);
    facts.placeholder = str(reads[3]);
    // Help speaks only for an element that has neither title nor description.
    if (!facts.title && !facts.description) facts.help = str(reads[4]);
    if (const Value* raw = facts.secure ? nullptr : valueOf(reads[5])) {
        if (const auto* text = raw->as<std::string>()) {
            if (!isInvisibleOnly(*text)) facts.value = *text;
        } else if (facts.role == "AXCheckBox" || facts.role == "AXRadioButton") {
            facts.check = numberIsOn(*raw);
        } else if (facts.role != "AXStaticText") {
            facts.value = numberText(*raw);
        }
    }

    std::optional<Peek> fold;
    if (overview && levels >= overviewLevels) {
        Peek look = peekBelow(facts.kids);
        if (look.nodes > smallPartNodes) fold = std::move(look);
    }
    const bool written =
        facts.hasText() || facts.secure || actionable.count(facts.role) || fold.has_value();
    if (!written) return {std::move(facts.kids), depth};  // transparent: children move up
    std::string text = line(element, facts, depth, fold ? &*fold : nullptr);
    chars += static_cast<int64_t>(graphemeCount(text)) + 1;
    lines.push_back(std::move(text));
    if (fold) {
        ++cuts;
        return {};
    }
    return {std::move(facts.kids), depth + 1};
}

void TreeWriter::walk(const Element& element, int depth, int levels) {
    if (truncated) return;
    ++visited;
    if (outOfBudget()) {
        truncated = true;
        return;
    }
    // The visit's own reads are released before walking below, so deep trees stay cheap on the
    // stack.
    Visit below = visit(element, depth, levels);
    const int childLevels = below.kids.size() > 1 ? levels + 1 : levels;
    for (const auto& kid : below.kids) {
        walk(kid, below.depth, childLevels);
        if (truncated) break;
    }
}

std::string TreeWriter::line(const Element& element, const Facts& facts, int depth,
                             const Peek* fold) {
    const int64_t index = next++;
    elements[index] = element;

    std::string word;
    if (facts.secure) {
        word = "password field";
    } else if (const auto sub =
                   facts.subrole ? subroleWords.find(*facts.subrole) : subroleWords.end();
               sub != subroleWords.end()) {
        word = sub->second;
    } else if (const auto known = roleWords.find(facts.role); known != roleWords.end()) {
        word = known->second;
    } else {
        word = facts.role.starts_with("AX") ? facts.role.substr(2) : facts.role;
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        word = oneLine(word);
    }

    std::string text(2 * static_cast<size_t>(std::clamp(depth, 0, indentationCap)), ' ');
    text += "[" + std::to_string(index) + "] " + word;
    if (facts.title) text += " \"" + clip(*facts.title, titleLimit) + "\"";
    if (facts.description && facts.description != facts.title)
        appendQuoted(text, "desc", *facts.description, titleLimit);
    if (facts.value && facts.value != facts.title)
        appendQuoted(text, "value", *facts.value,
                     facts.role == "AXStaticText" ? staticTextValueLimit : valueLimit);
    if (facts.secure) text += " (hidden)";
    if (facts.placeholder && !facts.value)
        appendQuoted(text, "placeholder", *facts.placeholder, placeholderLimit);
    if (facts.help) appendQuoted(text, "help", *facts.help, placeholderLimit);

    // States and actions only decorate a line, so they are read only for written elements.
    const bool expands = expandable.count(facts.role) > 0;
    std::vector<std::string> names = {"AXFocused", "AXEnabled", "AXSelected"};
    if (expands) names.push_back("AXExpanded");
    const auto reads = ax_->copyAttributes(element, names);
    auto flag = [&](size_t at) {
        return at < reads.size() ? boolAttr(reads[at]) : std::optional<bool>();
    };
    std::vector<std::string> states;
    if (flag(0) == true) states.push_back("focused");
    if (flag(1) == false) states.push_back("disabled");
    if (facts.check) states.push_back(*facts.check ? "on" : "off");
    if (flag(2) == true) states.push_back("selected");
    if (expands) {
        if (const auto expanded = flag(3)) states.push_back(*expanded ? "expanded" : "collapsed");
    }
    if (!states.empty()) {
        text += " (";
        for (size_t i = 0; i < states.size(); ++i) text += (i ? ", " : "") + states[i];
        text += ")";
    }

    const bool menuRole = menuRoles.count(facts.role) > 0;
    std::vector<std::string> labels;
    for (const auto& action : actionsOf(*ax_, element)) {
        if (quietActions.count(action) || (!menuRole && action == "AXShowMenu")) continue;
        labels.push_back(oneLine(actionLabel(action)));
        if (labels.size() == maxActionLabels) break;
    }
    if (!labels.empty()) {
        text += " actions: ";
        for (size_t i = 0; i < labels.size(); ++i) text += (i ? ", " : "") + labels[i];
    }

    if (fold) {
        text += " \u2014 more inside";
        for (size_t i = 0; i < fold->words.size(); ++i)
            text += (i ? ", \"" : ": \"") + clip(fold->words[i], peekWordLimit) + "\"";
    }
    return text;
}

TreeWriter::Peek TreeWriter::peek(const Element& element) {
    const auto reads = ax_->copyAttributes(element, {"AXChildren"});
    return peekBelow(reads.empty() ? std::vector<Element>{} : elementsOf(reads[0]));
}

TreeWriter::Peek TreeWriter::peekBelow(const std::vector<Element>& kids) {
    // Positions past `peekVisits` are never taken; one entry beyond it is enough to tell that a
    // part had more to examine.
    constexpr size_t queueCap = peekVisits + 1;
    std::vector<Element> queue(kids.begin(), kids.begin() + std::min(kids.size(), peekVisits));
    Peek found;
    for (size_t position = 0; position < queue.size();) {
        if (found.nodes >= peekNodes) break;
        if (position == peekVisits) {
            found.nodes = peekNodes;  // mostly hidden parts this large still count as big
            break;
        }
        const Element element = queue[position++];
        ++visited;
        const auto facts = shownFacts(element);
        if (!facts) continue;
        const bool wantWord = found.words.size() < maxPeekWords && !facts->secure;
        std::vector<std::string> names = {"AXChildren"};
        if (wantWord) {
            names.insert(names.end(), {"AXTitle", "AXDescription"});
            if (facts->role == "AXStaticText") names.push_back("AXValue");
        }
        const auto reads = ax_->copyAttributes(element, names);
        if (reads.size() != names.size()) continue;
        if (wantWord) {
            auto text = str(reads[1]);
            if (!text) text = str(reads[2]);
            if (!text && reads.size() > 3) text = str(reads[3]);
            if (text && !isInvisibleOnly(*text) &&
                std::find(found.words.begin(), found.words.end(), *text) == found.words.end())
                found.words.push_back(*text);
        }
        const auto below = elementsOf(reads[0]);
        for (size_t i = 0; i < below.size() && i < peekVisits && queue.size() < queueCap; ++i)
            queue.push_back(below[i]);
        ++found.nodes;
    }
    return found;
}

TreeWriter readTree(Accessibility& ax, Clock& clock, const Element& root,
                    std::optional<Rect> bounds, int64_t maxChars, int64_t firstIndex,
                    bool overviewOnly) {
    if (!overviewOnly) {
        TreeWriter full(ax, clock, maxChars, bounds, false, firstIndex);
        full.walk(root, 0, 0);
        if (!full.truncated) return full;
    }
    TreeWriter overview(ax, clock, maxChars, bounds, true, firstIndex);
    overview.walk(root, 0, 0);
    return overview;
}

}  // namespace pelko::computer
