#include "ax-mapping.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace pelko::computer::linux_desktop {
namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isOneOf(uint32_t role, std::initializer_list<AtspiRole> roles) {
    // Compared as numbers: an app may report a role no enumerator names, which the enum cannot
    // hold.
    return std::any_of(roles.begin(), roles.end(),
                       [role](AtspiRole known) { return static_cast<uint32_t>(known) == role; });
}

// Roles that map one to one; the rest are decided in `axRoleOf`.
const std::map<uint32_t, const char*> plainRoles = {
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_CAPTION, "AXStaticText"},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText"},
    {ATSPI_ROLE_DESCRIPTION_TERM, "AXStaticText"},
    {ATSPI_ROLE_DESCRIPTION_VALUE, "AXStaticText"},
    {ATSPI_ROLE_ENTRY, "AXTextField"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXTextField"},
    {ATSPI_ROLE_EDITBAR, "AXTextField"},
    {ATSPI_ROLE_TERMINAL, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_TEXT, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_EMAIL, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_DIAL, "AXSlider"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator"},
    {ATSPI_ROLE_ANIMATION, "AXBusyIndicator"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_RULER, "AXRuler"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TREE_TABLE, "AXOutline"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TABLE_ROW, "AXRow"},
    {ATSPI_ROLE_TREE_ITEM, "AXRow"},
    {ATSPI_ROLE_LIST_ITEM, "AXRow"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_DESKTOP_ICON, "AXImage"},
    {ATSPI_ROLE_DATE_EDITOR, "AXDateField"},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXColorWell"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_UNKNOWN, "AXUnknown"},
    {ATSPI_ROLE_INVALID, "AXUnknown"},
};

// Roles that stand for a window of their own when they are an application's child.
bool isWindowRole(uint32_t role) {
    return isOneOf(role,
                   {ATSPI_ROLE_FRAME, ATSPI_ROLE_WINDOW, ATSPI_ROLE_DIALOG, ATSPI_ROLE_ALERT,
                    ATSPI_ROLE_FILE_CHOOSER, ATSPI_ROLE_FONT_CHOOSER, ATSPI_ROLE_COLOR_CHOOSER});
}

// GTK 4 names a widget without a name after its class: one word of capitalised parts
// ("GtkButton", "AdwGizmo", "HistoryView").
bool isClassName(std::string_view name) {
    if (name.size() < 4 || !std::isupper(static_cast<unsigned char>(name[0]))) return false;
    int capitals = 0;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
        if (std::isupper(static_cast<unsigned char>(c))) ++capitals;
    }
    return capitals >= 2 && std::islower(static_cast<unsigned char>(name[1]));
}

}  // namespace

Toolkit toolkitOf(std::string_view name, std::string_view version) {
    const std::string lower = lowerAscii(name);
    if (lower == "gtk") return version.starts_with("4") ? Toolkit::gtk4 : Toolkit::gtk3;
    if (lower == "qt") return Toolkit::qt;
    if (lower == "gecko") return Toolkit::gecko;
    if (lower == "chromium") return Toolkit::chromium;
    return Toolkit::other;
}

std::string shownName(std::string_view name, Toolkit toolkit) {
    const size_t begin = name.find_first_not_of(" \t\n\r");
    if (begin == std::string_view::npos) return "";
    const size_t end = name.find_last_not_of(" \t\n\r");
    std::string_view trimmed = name.substr(begin, end - begin + 1);
    if (toolkit != Toolkit::gtk4) return std::string(trimmed);
    if (isClassName(trimmed)) return "";
    // "4 4", "_Retry Retry": the label's text twice, once for the button (with its mnemonic
    // mark) and once for its label.
    const size_t underscores = static_cast<size_t>(std::count(trimmed.begin(), trimmed.end(), '_'));
    const size_t firstLength = (trimmed.size() - 1 + underscores) / 2;
    if (firstLength < trimmed.size() && trimmed[firstLength] == ' ') {
        std::string first(trimmed.substr(0, firstLength));
        std::erase(first, '_');
        if (first == trimmed.substr(firstLength + 1))
            return std::string(trimmed.substr(firstLength + 1));
    }
    return std::string(trimmed);
}

uint32_t interfaceBit(std::string_view name) {
    static const std::map<std::string_view, uint32_t> bits = {
        {"org.a11y.atspi.Accessible", accessibleInterface},
        {"org.a11y.atspi.Action", actionInterface},
        {"org.a11y.atspi.Application", applicationInterface},
        {"org.a11y.atspi.Component", componentInterface},
        {"org.a11y.atspi.EditableText", editableTextInterface},
        {"org.a11y.atspi.Image", imageInterface},
        {"org.a11y.atspi.Selection", selectionInterface},
        {"org.a11y.atspi.Table", tableInterface},
        {"org.a11y.atspi.Text", textInterface},
        {"org.a11y.atspi.Value", valueInterface},
        {"org.a11y.atspi.Hyperlink", hyperlinkInterface},
        {"org.a11y.atspi.Document", documentInterface},
        {"org.a11y.atspi.Collection", collectionInterface},
    };
    const auto found = bits.find(name);
    return found == bits.end() ? 0 : found->second;
}

AXRole axRoleOf(const ObjectTraits& object) {
    const uint32_t role = object.role;
    const StateSet states = object.states;
    // Frames, windows, dialogs and alerts are windows wherever the toolkit puts them; the
    // chooser roles only when they stand on their own (inside a dialog they are its content).
    const bool chooser =
        isOneOf(role, {ATSPI_ROLE_FILE_CHOOSER, ATSPI_ROLE_FONT_CHOOSER, ATSPI_ROLE_COLOR_CHOOSER});
    // An alert inside a window (a web page's, a browser's bar) is part of it.
    const bool embedded =
        object.parentRole != ATSPI_ROLE_APPLICATION && object.parentRole != ATSPI_ROLE_INVALID;
    const bool standsAlone = (!chooser && role != ATSPI_ROLE_ALERT) || !embedded;
    if (isWindowRole(role) && standsAlone) {
        const bool dialog = (role != ATSPI_ROLE_FRAME && role != ATSPI_ROLE_WINDOW) ||
                            hasState(states, ATSPI_STATE_MODAL);
        return {"AXWindow", dialog ? "AXDialog" : "AXStandardWindow"};
    }
    switch (role) {
        case ATSPI_ROLE_PASSWORD_TEXT:
            return {"AXTextField", "AXSecureTextField"};
        case ATSPI_ROLE_TEXT:
            // Entries are single-line text; everything else that edits text is a text area.
            return {hasState(states, ATSPI_STATE_SINGLE_LINE) ? "AXTextField" : "AXTextArea", {}};
        case ATSPI_ROLE_PARAGRAPH:
        case ATSPI_ROLE_SECTION:
        case ATSPI_ROLE_BLOCK_QUOTE:
            return {hasState(states, ATSPI_STATE_EDITABLE) ? "AXTextArea" : "AXGroup", {}};
        case ATSPI_ROLE_TOGGLE_BUTTON:
            // A button that stays pressed: a check box that looks like a button.
            if (hasState(states, ATSPI_STATE_HAS_POPUP)) return {"AXMenuButton", {}};
            return {"AXCheckBox", "AXToggle"};
        case ATSPI_ROLE_COMBO_BOX:
            return {object.hasEditableChild ? "AXComboBox" : "AXPopUpButton", {}};
        case ATSPI_ROLE_PAGE_TAB:
            return {"AXRadioButton", "AXTabButton"};
        case ATSPI_ROLE_MENU:
            // A menu inside a menu bar is a menu-bar item, inside a menu it is an item that
            // opens a submenu; on its own (a pop-up) it is a menu.
            if (object.parentRole == ATSPI_ROLE_MENU_BAR) return {"AXMenuBarItem", {}};
            if (isOneOf(object.parentRole, {ATSPI_ROLE_MENU, ATSPI_ROLE_POPUP_MENU}))
                return {"AXMenuItem", {}};
            return {"AXMenu", {}};
        case ATSPI_ROLE_MENU_ITEM:
            // Qt's menu-bar entries are items with a pop-up menu below them.
            if (object.parentRole == ATSPI_ROLE_MENU_BAR) return {"AXMenuBarItem", {}};
            return {"AXMenuItem", {}};
        case ATSPI_ROLE_SEPARATOR:
            if (isOneOf(object.parentRole, {ATSPI_ROLE_MENU, ATSPI_ROLE_POPUP_MENU}))
                return {"AXMenuItem", {}};
            return {"AXSplitter", {}};
        default:
            break;
    }
    if (const auto plain = plainRoles.find(role); plain != plainRoles.end())
        return {plain->second, {}};
    return {"AXGroup", {}};
}

bool nameIsTitle(const AXRole& role) {
    return role.role != "AXPopUpButton" && role.role != "AXComboBox";
}

ValueSource valueSourceOf(const ObjectTraits& object, const AXRole& role, bool hasName) {
    if (role.subrole == "AXSecureTextField") return ValueSource::none;
    if (role.role == "AXCheckBox" || role.role == "AXRadioButton") {
        // Tabs say selected, not on and off.
        return role.subrole == "AXTabButton" ? ValueSource::none : ValueSource::checkState;
    }
    if (role.role == "AXPopUpButton" || role.role == "AXComboBox") return ValueSource::name;
    const bool text = (object.interfaces & textInterface) != 0;
    if (role.role == "AXTextField" || role.role == "AXTextArea" || role.role == "AXWebArea")
        return text ? ValueSource::text : ValueSource::none;
    if (role.role == "AXStaticText")
        return text && !hasName && !object.hasChildren ? ValueSource::text : ValueSource::none;
    if ((object.interfaces & valueInterface) && hasNumericValue(role)) return ValueSource::number;
    return ValueSource::none;
}

bool hasNumericValue(const AXRole& role) {
    return role.role == "AXSlider" || role.role == "AXProgressIndicator" ||
           role.role == "AXLevelIndicator" || role.role == "AXScrollBar" ||
           role.role == "AXIncrementor" || role.role == "AXValueIndicator";
}

bool takesTextEdits(const ObjectTraits& object) {
    return (object.interfaces & editableTextInterface) &&
           hasState(object.states, ATSPI_STATE_EDITABLE) && object.toolkit != Toolkit::gecko;
}

bool holdsOwnText(const ObjectTraits& object, const AXRole& role) {
    if (object.toolkit != Toolkit::gecko || !(object.interfaces & textInterface)) return false;
    return role.role != "AXTextField" && role.role != "AXTextArea" && role.role != "AXStaticText" &&
           role.role != "AXPopUpButton" && role.role != "AXComboBox" && role.role != "AXWebArea" &&
           role.role != "AXWindow";
}

std::optional<std::vector<TextPiece>> textPieces(std::string_view text, size_t childCount) {
    static constexpr std::string_view mark = "\xEF\xBF\xBC";  // U+FFFC in UTF-8
    std::vector<TextPiece> pieces;
    size_t child = 0, start = 0;
    auto words = [&](std::string_view part) {
        if (part.find_first_not_of(" \t\n\r") != std::string_view::npos)
            pieces.push_back({std::string(part), std::nullopt});
    };
    for (size_t at = text.find(mark); at != std::string_view::npos; at = text.find(mark, start)) {
        words(text.substr(start, at - start));
        pieces.push_back({"", child++});
        start = at + mark.size();
    }
    words(text.substr(start));
    if (child != childCount) return std::nullopt;
    return pieces;
}

int64_t checkValue(StateSet states) {
    if (hasState(states, ATSPI_STATE_INDETERMINATE)) return 2;
    return hasState(states, ATSPI_STATE_CHECKED) || hasState(states, ATSPI_STATE_PRESSED) ? 1 : 0;
}

bool isHidden(const ObjectTraits& object) {
    if (object.role == ATSPI_ROLE_APPLICATION) return false;
    if (isWindowRole(object.role) && object.parentRole == ATSPI_ROLE_APPLICATION) return false;
    if (object.toolkit == Toolkit::gtk4) return !hasState(object.states, ATSPI_STATE_VISIBLE);
    return !hasState(object.states, ATSPI_STATE_SHOWING);
}

std::optional<bool> expandedState(const ObjectTraits& object) {
    if (!hasState(object.states, ATSPI_STATE_EXPANDABLE)) return std::nullopt;
    return hasState(object.states, ATSPI_STATE_EXPANDED);
}

bool isEnabled(const ObjectTraits& object) {
    if (hasState(object.states, ATSPI_STATE_ENABLED) ||
        hasState(object.states, ATSPI_STATE_SENSITIVE))
        return true;
    return object.toolkit == Toolkit::gtk3 && object.role == ATSPI_ROLE_PAGE_TAB;
}

ActionKind actionKind(std::string_view name) {
    const std::string lower = lowerAscii(name);
    static const std::set<std::string> press = {"click", "press",     "activate", "toggle",
                                                "jump",  "dodefault", "check",    "uncheck",
                                                "cycle", "switch",    "open",     "select"};
    static const std::set<std::string> showMenu = {"showcontextmenu", "menu.popup", "showmenu",
                                                   "context menu"};
    static const std::set<std::string> hidden = {"clickancestor", "click ancestor", "setfocus",
                                                 "increase", "decrease"};
    if (press.contains(lower)) return ActionKind::press;
    if (showMenu.contains(lower)) return ActionKind::showMenu;
    if (hidden.contains(lower) || lower.empty()) return ActionKind::hidden;
    // GTK 4 lists its widgets' internal actions, "group.name", which no user picks by name.
    if (lower.find('.') != std::string::npos && lower.find(' ') == std::string::npos)
        return ActionKind::hidden;
    return ActionKind::own;
}

namespace {

std::optional<size_t> firstOfKind(const std::vector<ToolkitAction>& actions, ActionKind kind) {
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actionKind(actions[i].name) == kind) return i;
    }
    return std::nullopt;
}

bool opensMenu(const AXRole& role) {
    return role.role == "AXPopUpButton" || role.role == "AXComboBox" ||
           role.role == "AXMenuButton" || role.role == "AXMenuBarItem";
}

// A pop-up's menu is the one its press opens (Qt's menu-bar entries only show theirs);
// elsewhere it is the context menu.
std::optional<size_t> menuAction(const std::vector<ToolkitAction>& actions, const AXRole& role) {
    if (opensMenu(role)) {
        if (const auto press = firstOfKind(actions, ActionKind::press)) return press;
    }
    return firstOfKind(actions, ActionKind::showMenu);
}

}  // namespace

std::vector<std::string> axActionNames(const std::vector<ToolkitAction>& actions,
                                       const ObjectTraits& object, const AXRole& role) {
    std::vector<std::string> names;
    const auto press = firstOfKind(actions, ActionKind::press);
    const auto menu = menuAction(actions, role);
    for (size_t i = 0; i < actions.size(); ++i) {
        if (i == press) {
            names.push_back("AXPress");
        } else if (i == menu) {
            names.push_back("AXShowMenu");
        } else if (const ActionKind kind = actionKind(actions[i].name);
                   kind == ActionKind::own || kind == ActionKind::press) {
            names.push_back(actions[i].name);
        }
    }
    if (menu && menu == press) names.push_back("AXShowMenu");
    if ((object.interfaces & valueInterface) && hasNumericValue(role) && isEnabled(object) &&
        !hasState(object.states, ATSPI_STATE_READ_ONLY) && role.role != "AXProgressIndicator" &&
        role.role != "AXLevelIndicator" && role.role != "AXScrollBar") {
        names.push_back("AXIncrement");
        names.push_back("AXDecrement");
    }
    if (role.role == "AXWindow") names.push_back("AXRaise");
    if ((object.interfaces & componentInterface) && role.role != "AXWindow" &&
        role.role != "AXApplication")
        names.push_back("AXScrollToVisible");
    return names;
}

std::optional<size_t> toolkitActionFor(const std::vector<ToolkitAction>& actions,
                                       std::string_view axName, const AXRole& role) {
    const auto press = firstOfKind(actions, ActionKind::press);
    const auto menu = menuAction(actions, role);
    if (axName == "AXPress") return press;
    if (axName == "AXShowMenu") return menu;
    for (size_t i = 0; i < actions.size(); ++i) {
        const ActionKind kind = actionKind(actions[i].name);
        if (actions[i].name == axName && i != press && i != menu &&
            (kind == ActionKind::own || kind == ActionKind::press))
            return i;
    }
    return std::nullopt;
}

std::optional<MenuShortcut> menuShortcutOf(std::string_view keyBinding) {
    // "mnemonic;path;accelerator": the accelerator is the shortcut; a single binding is one.
    std::string_view accelerator = keyBinding;
    if (const size_t first = keyBinding.find(';'); first != std::string_view::npos) {
        const size_t second = keyBinding.find(';', first + 1);
        if (second == std::string_view::npos) return std::nullopt;
        accelerator = keyBinding.substr(second + 1);
        if (const size_t end = accelerator.find(';'); end != std::string_view::npos)
            accelerator = accelerator.substr(0, end);
    }
    int64_t modifiers = 8;  // no command key until Control says otherwise
    std::string_view key = accelerator;
    while (key.starts_with("<")) {
        const size_t close = key.find('>');
        if (close == std::string_view::npos) return std::nullopt;
        const std::string modifier = lowerAscii(key.substr(1, close - 1));
        if (modifier == "control" || modifier == "ctrl" || modifier == "primary")
            modifiers &= ~int64_t{8};
        else if (modifier == "shift")
            modifiers |= 1;
        else if (modifier == "alt" || modifier == "mod1")
            modifiers |= 2;
        else if (modifier == "super" || modifier == "meta")
            modifiers |= 4;
        key = key.substr(close + 1);
    }
    if (key.empty()) return std::nullopt;
    // Keys that type no character go by the names the key table knows.
    static const std::map<std::string, std::string> keyNames = {
        {"plus", "+"},        {"minus", "-"},          {"equal", "="},
        {"comma", ","},       {"period", "."},         {"slash", "/"},
        {"backslash", "\\"},  {"semicolon", ";"},      {"apostrophe", "'"},
        {"grave", "`"},       {"bracketleft", "["},    {"bracketright", "]"},
        {"return", "return"}, {"kp_enter", "return"},  {"tab", "tab"},
        {"space", "space"},   {"backspace", "delete"}, {"delete", "forwarddelete"},
        {"escape", "escape"}, {"left", "left"},        {"right", "right"},
        {"up", "up"},         {"down", "down"},        {"home", "home"},
        {"end", "end"},       {"page_up", "pageup"},   {"page_down", "pagedown"},
        {"prior", "pageup"},  {"next", "pagedown"},
    };
    const std::string name = lowerAscii(key);
    if (const auto known = keyNames.find(name); known != keyNames.end())
        return MenuShortcut{known->second, modifiers};
    if (name.size() >= 2 && name[0] == 'f' &&
        std::all_of(name.begin() + 1, name.end(), [](char c) { return std::isdigit(c); }))
        return MenuShortcut{name, modifiers};
    if (key.size() == 1) return MenuShortcut{lowerAscii(key), modifiers};
    return MenuShortcut{std::string(key), modifiers};
}

}  // namespace pelko::computer::linux_desktop
