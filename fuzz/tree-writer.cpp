// The outline writer on trees generated from the fuzz input: any roles, texts, numbers, states,
// frames and actions an app could report, wide and deep parts, slow apps.
//
// What must hold for every outline: it is exactly one line per numbered element; each line
// starts with its indentation (at most 12 steps of two spaces) and its index; indexes run from
// the first index without gaps; the character count is the sum of the lines' lengths plus one
// each, and no line starts after the character budget was passed; the visit budget holds
// (a peek may pass it by one peek); a pass that was not cut short ended within the time budget
// (plus one element's reads and peek); only overviews fold; every quoted text is clipped to its
// limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz-support.h"
#include "graphemes.h"
#include "sim/sim-desktop.h"
#include "tree-writer.h"
#include "watched-accessibility.h"

namespace {

using namespace pelko;
using namespace pelko::computer;

[[noreturn]] void fault(const std::string& what, const std::string& detail) {
    pelko::fuzzing::fault("tree-writer", what, detail);
}

constexpr size_t maxNodes = 9000;

const char* const knownRoles[] = {
    "AXButton",      "AXStaticText",
    "AXTextField",   "AXTextArea",
    "AXCheckBox",    "AXRadioButton",
    "AXPopUpButton", "AXMenuButton",
    "AXComboBox",    "AXRow",
    "AXCell",        "AXGroup",
    "AXWindow",      "AXScrollArea",
    "AXWebArea",     "AXOutline",
    "AXList",        "AXDisclosureTriangle",
    "AXIncrementor", "AXScrollBar",
    "AXRuler",       "AXLayoutItem",
    "AXImage",       "AXLink",
    "AXMenuBarItem", "AXFancyThing",
    "Custom",        "",
};
const char* const knownSubroles[] = {
    "AXSecureTextField", "AXSearchField", "AXCloseButton", "AXToggle",
    "AXSwitch",          "AXTabButton",   "AXOther"};
const char* const knownActions[] = {"AXPress",
                                    "AXShowMenu",
                                    "AXScrollToVisible",
                                    "AXShowDefaultUI",
                                    "AXShowAlternateUI",
                                    "AXRaise",
                                    "AXCancel",
                                    "AXConfirm",
                                    "AXIncrement",
                                    "AXDecrement",
                                    "AXPick",
                                    "Name:Copy link\nTarget:0x0",
                                    "Name:\n\nShare",
                                    "AX",
                                    "Open"};
const char* const knownTexts[] = {
    "",
    " ",
    "\u200B\u2060\uFEFF",
    "\uE000\uF8FF",
    "Save",
    "first line\nsecond line",
    "say \"hi\"",
    "e\u0301e\u0301",
    "\U0001F44D\U0001F3FD",
    "\U0001F468\u200D\U0001F469\u200D\U0001F467",
    "\t\n",
    "\xC3",
};

struct Generator {
    FuzzedDataProvider& in;
    bool wild;  // roles and actions may be any text, quotes and line breaks included
    size_t nodes = 0;

    std::string text(size_t longest) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return knownTexts[in.ConsumeIntegralInRange<size_t>(0, std::size(knownTexts) - 1)];
            case 1: {
                std::string piece =
                    knownTexts[in.ConsumeIntegralInRange<size_t>(0, std::size(knownTexts) - 1)];
                std::string repeated;
                for (size_t n = in.ConsumeIntegralInRange<size_t>(1, 400); n > 0; --n)
                    repeated += piece.empty() ? "a" : piece;
                return repeated;
            }
            default:
                return in.ConsumeRandomLengthString(longest);
        }
    }

    std::string name(const char* const* pool, size_t count) {
        if (wild && in.ConsumeBool()) return in.ConsumeRandomLengthString(40);
        return pool[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
    }

    JSON value() {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                return in.ConsumeIntegral<int64_t>();
            case 1:
                return in.ConsumeFloatingPoint<double>();
            case 2:
                return in.ConsumeBool();
            default:
                return text(600);
        }
    }

    JSON node(int depth) {
        ++nodes;
        JSON element = JSON::object();
        element["role"] = name(knownRoles, std::size(knownRoles));
        if (in.ConsumeBool()) element["subrole"] = name(knownSubroles, std::size(knownSubroles));
        for (const char* key : {"title", "description", "placeholder", "help"})
            if (in.ConsumeProbability<float>() < 0.3f) element[key] = text(300);
        if (in.ConsumeBool()) element["value"] = value();
        for (const char* key : {"focused", "enabled", "selected", "expanded"})
            if (in.ConsumeProbability<float>() < 0.2f) element[key] = in.ConsumeBool();
        if (in.ConsumeProbability<float>() < 0.05f) element["hidden"] = true;
        if (in.ConsumeBool())
            element["frame"] = {
                in.ConsumeIntegralInRange(-2000, 4000), in.ConsumeIntegralInRange(-2000, 4000),
                in.ConsumeIntegralInRange(-10, 3000), in.ConsumeIntegralInRange(-10, 3000)};
        JSON actions = JSON::array();
        for (int n = in.ConsumeIntegralInRange(0, 10); n > 0; --n)
            actions.push_back(name(knownActions, std::size(knownActions)));
        if (!actions.empty()) element["actions"] = actions;

        JSON children = JSON::array();
        switch (depth > 600 ? 0 : in.ConsumeIntegralInRange(0, 4)) {
            case 1:
            case 2:  // a few different children
                for (int n = in.ConsumeIntegralInRange(1, 6); n > 0 && nodes < maxNodes; --n)
                    children.push_back(node(depth + 1));
                break;
            case 3: {  // one part many times over: wide trees, folds and peek limits
                const size_t before = nodes;
                JSON child = node(depth + 1);
                const size_t size = nodes - before;
                size_t copies = in.ConsumeIntegralInRange<size_t>(2, 300);
                copies = std::min(copies, (maxNodes - std::min(maxNodes, nodes)) / size + 1);
                for (size_t n = 0; n < copies; ++n) children.push_back(child);
                nodes += size * (copies - 1);
                break;
            }
            case 4:  // one child: long chains
                if (nodes < maxNodes) children.push_back(node(depth + 1));
                break;
            default:
                break;
        }
        if (!children.empty()) element["children"] = std::move(children);
        return element;
    }
};

// The limit of the quoted text that follows `context` (the line up to the opening quote).
size_t limitAfter(std::string_view context) {
    if (context.ends_with("desc=")) return 120;
    if (context.ends_with("value=")) return 300;
    if (context.ends_with("placeholder=") || context.ends_with("help=")) return 80;
    if (context.ends_with(": ") || context.ends_with(", ")) return 40;  // a fold's sample words
    return 120;                                                         // the title
}

void checkLine(const std::string& line, int64_t index, bool checkQuotes) {
    if (line.find('\n') != std::string::npos) fault("a line holds a line break", line);
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos || indent % 2 != 0 || indent > 24)
        fault("a line with a wrong indentation", line);
    const std::string start = "[" + std::to_string(index) + "] ";
    if (line.compare(indent, start.size(), start) != 0)
        fault("a line that does not start with its index " + std::to_string(index), line);
    if (!checkQuotes) return;
    // Quoted texts are clipped, and clipping turns their own double quotes into apostrophes,
    // so quotes pair up.
    size_t at = indent + start.size();
    for (;;) {
        const size_t open = line.find('"', at);
        if (open == std::string::npos) break;
        const size_t close = line.find('"', open + 1);
        if (close == std::string::npos) fault("an unpaired quote", line);
        const size_t limit = limitAfter(std::string_view(line).substr(at, open - at));
        const std::string_view quoted = std::string_view(line).substr(open + 1, close - open - 1);
        const size_t length = graphemeCount(quoted);
        if (length > limit + 1) fault("a quoted text longer than its limit", line);
        if (length == limit + 1 && !quoted.ends_with("\u2026"))
            fault("a text cut without an ellipsis", line);
        at = close + 1;
    }
}

void checkWriter(const TreeWriter& writer, int64_t firstIndex, int64_t maxChars, bool overview,
                 bool wild, Duration elapsed, Duration perRoundTrip) {
    const auto& lines = writer.lines;
    if (writer.elements.size() != lines.size()) fault("numbered elements and lines differ", "");
    if (writer.next != firstIndex + static_cast<int64_t>(lines.size()))
        fault("the next index does not follow the last", std::to_string(writer.next));
    int64_t index = firstIndex, chars = 0;
    for (const auto& [number, element] : writer.elements) {
        if (number != index++) fault("indexes with a gap", std::to_string(number));
        if (!element) fault("a numbered element that is empty", std::to_string(number));
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (chars > maxChars) fault("a line written after the character budget ran out", lines[i]);
        checkLine(lines[i], firstIndex + static_cast<int64_t>(i), !wild);
        chars += static_cast<int64_t>(graphemeCount(lines[i])) + 1;
    }
    if (chars != writer.chars) fault("the character count is off", std::to_string(writer.chars));
    if (writer.visited > visitBudget + 1 + static_cast<int64_t>(peekVisits))
        fault("the visit budget was passed", std::to_string(writer.visited));
    if (!overview && writer.cuts != 0) fault("a full outline folded a part", "");
    if (writer.cuts > static_cast<int64_t>(lines.size())) fault("more folds than lines", "");
    // An element costs at most a few round trips and a peek of `peekVisits` elements two each.
    const Duration slack = perRoundTrip * (2 * static_cast<int64_t>(peekVisits) + 8);
    if (!writer.truncated && elapsed > timeBudget + slack)
        fault("a pass ran past its time budget without stopping",
              std::to_string(inSeconds(elapsed)) + " s");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int64_t maxChars = in.ConsumeIntegralInRange<int64_t>(0, 20000);
    const bool overview = in.ConsumeBool();
    const bool twoPasses = in.ConsumeBool();
    const int64_t firstIndex = in.ConsumeIntegralInRange<int64_t>(1, 90000);
    std::optional<Rect> bounds;
    if (in.ConsumeBool())
        bounds = Rect{{static_cast<double>(in.ConsumeIntegralInRange(-500, 2000)),
                       static_cast<double>(in.ConsumeIntegralInRange(-500, 2000))},
                      {static_cast<double>(in.ConsumeIntegralInRange(0, 3000)),
                       static_cast<double>(in.ConsumeIntegralInRange(0, 3000))}};
    const Duration perRoundTrip = in.ConsumeBool()
                                      ? std::chrono::milliseconds(in.ConsumeIntegralInRange(1, 100))
                                      : Duration{};
    Generator generator{in, in.ConsumeBool()};
    JSON window = generator.node(0);
    window["id"] = "root";

    VirtualClock clock;
    sim::SimDesktop desktop(
        clock, JSON{{"apps", JSON::array({{{"name", "T"}, {"pid", 10}, {"windows", {window}}}})}});
    testing::WatchedAccessibility ax(desktop, &clock, perRoundTrip);
    const Element root = desktop.elementNamed("root");
    const Instant start = clock.now();
    if (twoPasses) {
        const TreeWriter writer = readTree(ax, clock, root, bounds, maxChars, firstIndex, overview);
        // The pass that is returned started when the first one ended.
        checkWriter(writer, firstIndex, maxChars, writer.overview, generator.wild,
                    clock.now() - writer.started, perRoundTrip);
    } else {
        TreeWriter writer(ax, clock, maxChars, bounds, overview, firstIndex);
        writer.walk(root, 0, 0);
        checkWriter(writer, firstIndex, maxChars, overview, generator.wild, clock.now() - start,
                    perRoundTrip);
    }
    return 0;
}
