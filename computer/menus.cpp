#include "menus.h"

#include <algorithm>

#include "apps.h"
#include "ax-readers.h"
#include "computer.h"
#include "input-events.h"
#include "method.h"
#include "text.h"
#include "utf8.h"

namespace pelko::computer {
namespace {

constexpr Duration afterShortcut = std::chrono::milliseconds(30);
// The = key, which types "+" with shift on the standard layout.
constexpr uint16_t equalKeyCode = 24;

// Bits of "AXMenuItemCmdModifiers".
constexpr int64_t menuShiftBit = 1, menuOptionBit = 2, menuControlBit = 4, menuNoCommandBit = 8;

void eraseAll(std::string& text, std::string_view part) {
    for (size_t at; (at = text.find(part)) != std::string::npos;) text.erase(at, part.size());
}

// A menu level: its items and their titles ("" for none), each read once.
struct MenuItems {
    std::vector<Element> items;
    std::vector<std::string> titles;
};

MenuItems readItems(Accessibility& ax, std::vector<Element> items) {
    MenuItems level{std::move(items), {}};
    for (const auto& item : level.items) level.titles.push_back(title(ax, item));
    return level;
}

// The first item whose loose title equals the wanted one, else the first that begins with it.
Element matchItem(const MenuItems& level, const std::string& want) {
    std::vector<std::string> titles;
    for (const auto& text : level.titles) titles.push_back(loose(text));
    for (size_t i = 0; i < titles.size(); ++i) {
        if (titles[i] == want) return level.items[i];
    }
    for (size_t i = 0; i < titles.size(); ++i) {
        if (titles[i].starts_with(want)) return level.items[i];
    }
    return {};
}

// "File, Edit, View": the titles of the first items, untitled ones (separators) left out.
std::string titleList(const MenuItems& level) {
    std::string list;
    for (size_t i = 0; i < level.titles.size() && i < listedMenuTitles; ++i) {
        if (level.titles[i].empty()) continue;
        if (!list.empty()) list += ", ";
        list += level.titles[i];
    }
    return list;
}

Failure disabled(const std::string& entry) {
    return Failure{"The menu item \"" + entry + "\" is disabled now."};
}

}  // namespace

std::string loose(std::string_view title) {
    std::string text = lowerCased(title);
    eraseAll(text, "\u2026");
    eraseAll(text, "...");
    return trimmedBlanks(text);
}

std::string title(Accessibility& ax, const Element& element) {
    return str(ax, element, "AXTitle").value_or("");
}

std::optional<MenuShortcut> menuShortcut(Accessibility& ax, const Element& item) {
    auto character = str(ax, item, "AXMenuItemCmdChar");
    if (!character) return std::nullopt;
    const auto read = attr(ax, item, "AXMenuItemCmdModifiers");
    std::optional<int64_t> bits;
    if (const auto* number = read ? read->as<int64_t>() : nullptr) bits = *number;
    if (const auto* number = read ? read->as<double>() : nullptr)
        bits = static_cast<int64_t>(*number);
    if (!bits) return MenuShortcut{std::move(*character), eventFlagCommand};
    EventFlags flags = 0;
    if (!(*bits & menuNoCommandBit)) flags |= eventFlagCommand;
    if (*bits & menuShiftBit) flags |= eventFlagShift;
    if (*bits & menuOptionBit) flags |= eventFlagAlternate;
    if (*bits & menuControlBit) flags |= eventFlagControl;
    return MenuShortcut{std::move(*character), flags};
}

bool sendShortcut(Platform& platform, const MenuShortcut& shortcut, pid_t pid) {
    EventFlags flags = shortcut.flags;
    uint16_t keyCode;
    if (const auto code = keyCodes.find(lowerCased(shortcut.character)); code != keyCodes.end()) {
        keyCode = code->second;
    } else if (shortcut.character == "+") {
        keyCode = equalKeyCode;
        flags |= eventFlagShift;
    } else {
        return false;
    }
    std::u16string text;
    for (const CodePoint& point : CodePoints(shortcut.character)) appendUTF16(text, point.value);
    for (const bool down : {true, false}) {
        auto event =
            platform.events.createKeyboardEvent(EventSourceState::privateState, keyCode, down);
        if (event) {
            event->flags = flags;
            event->unicode = text;
        }
        postTo(platform, std::move(event), pid);
    }
    platform.clock.sleepFor(afterShortcut);
    return true;
}

std::string chooseMenu(Computer& computer, const RunningApp& app,
                       const std::vector<std::string>& path) {
    Platform& platform = computer.platform;
    Accessibility& ax = platform.accessibility;
    const Element menuBar = elementAttr(ax, ax.applicationElement(app.pid), "AXMenuBar");
    if (!menuBar) throw Failure{displayName(app, "The app") + " has no menu bar to read."};
    MenuItems level = readItems(ax, children(ax, menuBar));
    if (path.empty())
        throw Failure{"Give the menu path, e.g. [\"File\", \"Export\u2026\"].", "bad-input"};

    Element item;
    for (size_t depth = 0; depth < path.size(); ++depth) {
        const std::string& entry = path[depth];
        item = matchItem(level, loose(entry));
        if (!item) {
            throw Failure{
                "No menu item \"" + entry + "\" there. The items are: " + titleList(level) + ".",
                "not-found"};
        }
        if (depth + 1 == path.size()) break;
        Element submenu;
        for (const auto& child : children(ax, item)) {
            if (str(ax, child, "AXRole") == "AXMenu") {
                submenu = child;
                break;
            }
        }
        if (!submenu) throw Failure{"\"" + entry + "\" has no submenu.", "not-found"};
        level = readItems(ax, children(ax, submenu));
    }

    if (boolAttr(ax, item, "AXEnabled") != false) {
        if (offersAction(ax, item, "AXPick") && ax.performAction(item, "AXPick") == axSuccess)
            return "pick";
        if (const int error = ax.performAction(item, "AXPress"); error != axSuccess)
            throw Failure{"The menu item did not respond (" + std::to_string(error) + ")."};
        return "press";
    }
    // A disabled item is often only disabled because its app is not in front; its shortcut
    // reaches the app there without bringing it forward. In front it really is disabled.
    if (isFront(platform, app)) throw disabled(path.back());
    const auto shortcut = menuShortcut(ax, item);
    if (shortcut && sendShortcut(platform, *shortcut, app.pid)) return "shortcut";
    throw disabled(path.back());
}

JSON menu(Computer& computer, const JSON& params) {
    requireAccessibility(computer.platform.accessibility);
    const auto name = param<std::string>(params, "app");
    const auto path = param<std::vector<std::string>>(params, "path");
    // An entry that is blank once loosened would match the first item of its menu.
    const bool blankEntry =
        path && std::any_of(path->begin(), path->end(),
                            [](const std::string& entry) { return loose(entry).empty(); });
    if (!name || !path || path->empty() || blankEntry)
        throw Failure{"Give the app and the menu path.", "bad-input"};
    const RunningApp app = resolveApp(computer.platform, *name, /*launch=*/false);
    return {{"ok", true}, {"via", chooseMenu(computer, app, *path)}};
}

}  // namespace pelko::computer
