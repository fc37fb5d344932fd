// Picking an item from an app's menu bar by its path of titles ("File", then "Export…"),
// through the accessibility interface so that the app may stay in the background. Titles match
// loosely, exactly first and then by their beginning. A disabled item of an app in the
// background is reached through its keyboard shortcut, sent to the app's process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json-line.h"
#include "platform/platform.h"

namespace pelko::computer {

struct Computer;

/// How many titles the message for an entry that matches nothing lists at most.
constexpr size_t listedMenuTitles = 40;

/// A title as menus are matched: lower-cased, every "…" and "..." removed, blanks trimmed.
std::string loose(std::string_view title);

/// The element's "AXTitle", or the empty text.
std::string title(Accessibility& ax, const Element& element);

/// A menu item's key equivalent: the character as the menu shows it and the modifier flags.
struct MenuShortcut {
    std::string character;
    EventFlags flags = 0;
    bool operator==(const MenuShortcut&) const = default;
};

/// The item's shortcut from "AXMenuItemCmdChar" and "AXMenuItemCmdModifiers" (bits: 1 shift,
/// 2 option, 4 control, 8 no command key; unreadable: command only); nothing without a
/// character.
std::optional<MenuShortcut> menuShortcut(Accessibility& ax, const Element& item);

/// Sends the shortcut to process `pid` as a key press; false when its character has no key
/// ("+" is sent as shift and the = key).
bool sendShortcut(Platform& platform, const MenuShortcut& shortcut, pid_t pid);

/// Finds the item at `path` in the app's menu bar and chooses it; returns how: "pick", "press"
/// or "shortcut". Throws "failed" (no menu bar, a refused press, a disabled item), "not-found"
/// (no such item or submenu) and "bad-input" (an empty path).
std::string chooseMenu(Computer& computer, const RunningApp& app,
                       const std::vector<std::string>& path);

/// The "menu" method: {"ok": true, "via": "pick" | "press" | "shortcut"}.
JSON menu(Computer& computer, const JSON& params);

}  // namespace pelko::computer
