// What the simulated desktop's standard controls do when the program acts on them: a focused
// field becomes the one keys type into, text fields keep a selection that "AXSelectedText"
// replaces, scroll bars and "AXScrollToVisible" move a scroll area's content, and a key
// equivalent chooses its menu item.
#include <algorithm>
#include <cctype>
#include <deque>

#include "sim-desktop.h"
#include "text.h"
#include "utf8.h"

namespace pelko::computer::sim {
namespace {

std::u32string scalarsOf(const std::string& text) {
    std::u32string scalars;
    for (const CodePoint& point : CodePoints(text)) scalars.push_back(point.value);
    return scalars;
}

std::string utf8Of(const std::u32string& scalars) {
    std::string text;
    for (const char32_t scalar : scalars) appendUTF8(text, scalar);
    return text;
}

double number(const JSON& value) {
    return value.is_number() ? value.get<double>() : 0;
}

// How far content of `length` may move inside an area of `visible` length.
double scrollRange(double length, double visible) {
    return std::max(0.0, length - visible);
}

// The modifier flags of a menu item's key equivalent (bits: 1 shift, 2 option, 4 control,
// 8 no command key).
EventFlags menuItemFlags(const JSON& modifiers) {
    if (!modifiers.is_number()) return eventFlagCommand;
    const auto bits = static_cast<int64_t>(modifiers.get<double>());
    EventFlags flags = bits & 8 ? 0 : eventFlagCommand;
    if (bits & 1) flags |= eventFlagShift;
    if (bits & 2) flags |= eventFlagAlternate;
    if (bits & 4) flags |= eventFlagControl;
    return flags;
}

}  // namespace

// ---- focus and text (mutex held) ----

void SimDesktop::focus(Node& node) {
    App* app = appOf(node.pid);
    if (!app) return;
    auto& appAttributes = nodes_[app->element].attributes;
    if (const auto before = appAttributes.find("AXFocusedUIElement");
        before != appAttributes.end()) {
        const Id previous = resolveName(before->second);
        if (previous && previous != node.id && nodes_[previous].attributes.count("AXFocused"))
            nodes_[previous].attributes["AXFocused"] = false;
    }
    appAttributes["AXFocusedUIElement"] = {{"id", node.id}};
}

std::string SimDesktop::selectedText(const Node& node) const {
    const auto value = node.attributes.find("AXValue");
    if (value == node.attributes.end() || !value->second.is_string() || !node.selection) return "";
    const std::u32string scalars = scalarsOf(value->second.get<std::string>());
    const size_t start = std::min(node.selection->first, scalars.size());
    return utf8Of(scalars.substr(start, node.selection->second));
}

void SimDesktop::replaceSelection(Node& node, const std::string& text) {
    JSON& value = node.attributes["AXValue"];
    std::u32string scalars = scalarsOf(value.is_string() ? value.get<std::string>() : "");
    const auto [start, length] = node.selection.value_or(std::pair{scalars.size(), size_t{0}});
    const size_t from = std::min(start, scalars.size());
    const std::u32string inserted = scalarsOf(text);
    scalars.replace(from, std::min(length, scalars.size() - from), inserted);
    value = utf8Of(scalars);
    node.selection = std::pair{from + inserted.size(), size_t{0}};
}

// ---- scrolling (mutex held) ----

std::optional<Rect> SimDesktop::frameOfNode(const Node& node) const {
    const auto position = node.attributes.find("AXPosition");
    const auto size = node.attributes.find("AXSize");
    if (position == node.attributes.end() || size == node.attributes.end() ||
        !position->second.contains("point") || !size->second.contains("size"))
        return std::nullopt;
    const JSON& point = position->second["point"];
    const JSON& extent = size->second["size"];
    return Rect{{number(point[0]), number(point[1])}, {number(extent[0]), number(extent[1])}};
}

void SimDesktop::moveSubtree(Id id, double dx, double dy) {
    Node& node = nodes_[id];
    if (const auto frame = frameOfNode(node))
        node.attributes["AXPosition"] = {{"point", {frame->minX() + dx, frame->minY() + dy}}};
    for (const Id child : node.children) moveSubtree(child, dx, dy);
}

SimDesktop::Id SimDesktop::contentOf(const Node& area) {
    Id content = 0;
    double largest = -1;
    for (const Id child : area.children) {
        const Node& node = nodes_[child];
        const auto frame = node.destroyed ? std::nullopt : frameOfNode(node);
        if (frame && frame->size.width * frame->size.height > largest) {
            content = child;
            largest = frame->size.width * frame->size.height;
        }
    }
    return content;
}

void SimDesktop::scrollBarChanged(const Node& bar) {
    for (auto& [id, area] : nodes_) {
        if (area.destroyed) continue;
        for (const bool vertical : {true, false}) {
            const auto link =
                area.attributes.find(vertical ? "AXVerticalScrollBar" : "AXHorizontalScrollBar");
            if (link == area.attributes.end() || resolveName(link->second) != bar.id) continue;
            const Id content = contentOf(area);
            const auto areaFrame = frameOfNode(area);
            const auto contentFrame = content ? frameOfNode(nodes_[content]) : std::nullopt;
            if (!areaFrame || !contentFrame) return;
            const double value = std::clamp(number(bar.attributes.at("AXValue")), 0.0, 1.0);
            if (vertical) {
                const double range = scrollRange(contentFrame->size.height, areaFrame->size.height);
                moveSubtree(content, 0, areaFrame->minY() - value * range - contentFrame->minY());
            } else {
                const double range = scrollRange(contentFrame->size.width, areaFrame->size.width);
                moveSubtree(content, areaFrame->minX() - value * range - contentFrame->minX(), 0);
            }
            return;
        }
    }
}

void SimDesktop::syncScrollBars(const Node& area) {
    const Id content = contentOf(area);
    const auto areaFrame = frameOfNode(area);
    const auto contentFrame = content ? frameOfNode(nodes_[content]) : std::nullopt;
    if (!areaFrame || !contentFrame) return;
    for (const bool vertical : {true, false}) {
        const auto link =
            area.attributes.find(vertical ? "AXVerticalScrollBar" : "AXHorizontalScrollBar");
        if (link == area.attributes.end()) continue;
        const Id bar = resolveName(link->second);
        if (!bar) continue;
        const double range = vertical
                                 ? scrollRange(contentFrame->size.height, areaFrame->size.height)
                                 : scrollRange(contentFrame->size.width, areaFrame->size.width);
        const double scrolled = vertical ? areaFrame->minY() - contentFrame->minY()
                                         : areaFrame->minX() - contentFrame->minX();
        nodes_[bar].attributes["AXValue"] = range > 0 ? scrolled / range : 0.0;
    }
}

void SimDesktop::scrollIntoView(const Node& node) {
    // The nearest scroll area above the element, and the frame to bring into it.
    const auto target = frameOfNode(node);
    Id areaId = node.parent;
    while (areaId && nodes_[areaId].role() != "AXScrollArea") areaId = nodes_[areaId].parent;
    if (!areaId || !target) return;
    const Node& area = nodes_[areaId];
    const Id content = contentOf(area);
    const auto areaFrame = frameOfNode(area);
    const auto contentFrame = content ? frameOfNode(nodes_[content]) : std::nullopt;
    if (!areaFrame || !contentFrame) return;
    // The least move that shows the element (its start when it is longer than the area), held
    // inside the content's range.
    auto shift = [](double start, double end, double areaStart, double areaEnd, double contentStart,
                    double contentLength) {
        double move = 0;
        if (start < areaStart || end - start > areaEnd - areaStart)
            move = areaStart - start;
        else if (end > areaEnd)
            move = areaEnd - end;
        const double range = scrollRange(contentLength, areaEnd - areaStart);
        const double moved = std::clamp(contentStart + move, areaStart - range, areaStart);
        return moved - contentStart;
    };
    const double dx = shift(target->minX(), target->maxX(), areaFrame->minX(), areaFrame->maxX(),
                            contentFrame->minX(), contentFrame->size.width);
    const double dy = shift(target->minY(), target->maxY(), areaFrame->minY(), areaFrame->maxY(),
                            contentFrame->minY(), contentFrame->size.height);
    moveSubtree(content, dx, dy);
    syncScrollBars(area);
}

// ---- menu key equivalents (mutex held) ----

bool SimDesktop::runMenuShortcut(const App& app, const std::string& typed, EventFlags flags,
                                 std::vector<std::function<void()>>& after) {
    if (!app.menuBar) return false;
    std::deque<Id> queue = {app.menuBar};
    while (!queue.empty()) {
        const Node& item = nodes_[queue.front()];
        queue.pop_front();
        if (item.destroyed) continue;
        queue.insert(queue.end(), item.children.begin(), item.children.end());
        const auto character = item.attributes.find("AXMenuItemCmdChar");
        if (character == item.attributes.end() || !character->second.is_string()) continue;
        const std::string key = character->second.get<std::string>();
        // Shift is part of the combination for letters only: "+" needs it on the keyboard.
        EventFlags mask = eventFlagCommand | eventFlagAlternate | eventFlagControl;
        if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0])))
            mask |= eventFlagShift;
        const EventFlags wanted = menuItemFlags(item.attributes.count("AXMenuItemCmdModifiers")
                                                    ? item.attributes.at("AXMenuItemCmdModifiers")
                                                    : JSON());
        if (lowerCased(key) != lowerCased(typed) || (flags & mask) != (wanted & mask)) continue;
        log_.record("menuShortcut", {{"app", app.info.localizedName.value_or("")},
                                     {"item", logName(&item, handle(item.id))}});
        for (const char* action : {"AXPress", "AXPick"}) {
            const auto effects = item.effects.find(action);
            if (effects == item.effects.end()) continue;
            const JSON commands = effects->second;
            for (const auto& command : commands) runCommand(command, after);
            break;
        }
        return true;
    }
    return false;
}

}  // namespace pelko::computer::sim
