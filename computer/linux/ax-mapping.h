// How AT-SPI objects read through the accessibility seam: AT-SPI roles, states and actions
// onto the role vocabulary, states and action names the program's logic uses. Pure functions
// of what an object reports, so the whole table is tested without a desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko::computer::linux_desktop {

/// AT-SPI states as one 64-bit set (bit n is the state numbered n).
using StateSet = uint64_t;
/// Whether `states` holds the state numbered `state` (an `AtspiStateType`).
constexpr bool hasState(StateSet states, int state) {
    return state >= 0 && state < 64 && ((states >> state) & 1) != 0;
}

/// The AT-SPI interfaces an object implements, one bit each.
enum InterfaceBit : uint32_t {
    accessibleInterface = 1u << 0,
    actionInterface = 1u << 1,
    applicationInterface = 1u << 2,
    componentInterface = 1u << 3,
    editableTextInterface = 1u << 4,
    imageInterface = 1u << 5,
    selectionInterface = 1u << 6,
    tableInterface = 1u << 7,
    textInterface = 1u << 8,
    valueInterface = 1u << 9,
    hyperlinkInterface = 1u << 10,
    documentInterface = 1u << 11,
    collectionInterface = 1u << 12,
};
/// The bit of a D-Bus interface name ("org.a11y.atspi.Text"); 0 for names we do not use.
uint32_t interfaceBit(std::string_view name);

/// The accessibility dialect an application speaks: its toolkit, as the application's
/// "ToolkitName" and "Version" say. Each toolkit sets states, names and actions its own way.
enum class Toolkit { other, gtk3, gtk4, qt, gecko, chromium };
/// The toolkit from the application's "ToolkitName" ("GTK", "Qt", "Gecko", "Chromium") and
/// "Version" ("4.8.3").
Toolkit toolkitOf(std::string_view name, std::string_view version);

/// The name an object goes by, from its accessible name: blanks at the ends trimmed; GTK 4 names
/// an unnamed widget after its class ("GtkButton", "AdwGizmo"), which is no name, and repeats a
/// button's label in its name ("4 4"), which counts once.
std::string shownName(std::string_view name, Toolkit toolkit);

/// What the mapping needs to know about an object.
struct ObjectTraits {
    uint32_t role = 0;  ///< an `AtspiRole`
    StateSet states = 0;
    uint32_t interfaces = 0;
    uint32_t parentRole = 0;  ///< the parent's `AtspiRole`; 0 (invalid) when unknown
    /// A combo box with an editable text inside takes typing, like a combo box field.
    bool hasEditableChild = false;
    Toolkit toolkit = Toolkit::other;
    /// The object has children; a static text's text then holds theirs too.
    bool hasChildren = false;
};

/// A role and subrole in the seam's vocabulary.
struct AXRole {
    std::string role;
    std::optional<std::string> subrole;
    bool operator==(const AXRole&) const = default;
};
/// The seam role of an object (table in docs/linux-desktop.md).
AXRole axRoleOf(const ObjectTraits& object);

/// Where an object's "AXValue" comes from.
enum class ValueSource {
    none,
    checkState,  ///< 1 checked, 0 not, 2 mixed: check boxes, radio buttons, toggles
    name,        ///< the accessible name: a pop-up shows its chosen item as its name
    text,        ///< the text interface's whole text: fields, text areas, static text
    number,      ///< the value interface's current value: sliders, progress, levels
};
/// How the object's value is read; `hasName` tells whether its accessible name is not empty.
ValueSource valueSourceOf(const ObjectTraits& object, const AXRole& role, bool hasName);
/// Whether the object's name is its title. Pop-ups show their value as their name, and a static
/// text without a name shows its text as its value.
bool nameIsTitle(const AXRole& role);

/// Whether the object's text is set through the editable-text interface. Gecko answers those
/// calls with success and changes nothing, so its fields take keys instead.
bool takesTextEdits(const ObjectTraits& object);

/// Whether the object's own text holds words that no child of it shows: Gecko keeps the
/// sentences of a paragraph, a heading or a cell in the container's text, with no objects of
/// their own (fields, text areas, static text and pop-ups show their text as their value).
bool holdsOwnText(const ObjectTraits& object, const AXRole& role);

/// A piece of a container's text: words of its own, or the place of one of its children.
struct TextPiece {
    std::string text;
    std::optional<size_t> child;
    bool operator==(const TextPiece&) const = default;
};
/// The container's text cut at its embedded-object characters (U+FFFC), each of which stands
/// for the next child; pieces of blanks only are left out. Nothing when the text marks another
/// number of children than `childCount` (then it is not in that form).
std::optional<std::vector<TextPiece>> textPieces(std::string_view text, size_t childCount);

/// The check state of a two- or three-state control: 1 on, 0 off, 2 mixed.
int64_t checkValue(StateSet states);

/// Whether a role has a number for a value (sliders, progress, levels, scroll bars): only these
/// read the value interface, which some toolkits put on every button.
bool hasNumericValue(const AXRole& role);

/// Whether the object counts as hidden: not on screen (windows never count as hidden; their
/// own state says minimized). GTK 4 sets "showing" on windows only; "visible" stands for it.
bool isHidden(const ObjectTraits& object);
/// Whether the object reports an expanded state at all, and whether it is expanded.
std::optional<bool> expandedState(const ObjectTraits& object);
/// Whether the object is enabled: toolkits set "enabled" (Chromium, Gecko, Qt), "sensitive"
/// (GTK 4) or both (GTK 3) on what takes input. GTK 3 sets neither on notebook tabs, which a
/// click selects all the same.
bool isEnabled(const ObjectTraits& object);

/// What a toolkit action name stands for in the seam's vocabulary.
enum class ActionKind {
    press,     ///< the element's default action ("click", "press", "doDefault", "check", ...)
    showMenu,  ///< its context menu ("showContextMenu", "menu.popup", Qt's "ShowMenu")
    hidden,    ///< not the element's to offer: an action that forwards the click to an
               ///< ancestor ("clickAncestor"), GTK 4's internal action names ("win.close",
               ///< "clipboard.copy"), focus and steps the seam offers otherwise
    own,       ///< any other action, shown by its name
};
ActionKind actionKind(std::string_view name);

/// One of the object's own actions.
struct ToolkitAction {
    std::string name;
    std::string keyBinding;
};
/// The action names the seam shows for an object: its own actions (the first press action as
/// "AXPress", the first context-menu action as "AXShowMenu", the hidden ones left out, the
/// others by name), then the ones this backend adds: "AXShowMenu" (the press) on pop-ups, combo
/// boxes, menu buttons and menu-bar items that can be pressed, "AXIncrement" and "AXDecrement"
/// on values that can be set, "AXRaise" on windows, "AXScrollToVisible" on everything on
/// screen.
std::vector<std::string> axActionNames(const std::vector<ToolkitAction>& actions,
                                       const ObjectTraits& object, const AXRole& role);
/// The toolkit action an AX action name stands for: the index among `actions`, or nothing when
/// it is not one of the object's own (the added actions, a hidden one, or an unknown name).
std::optional<size_t> toolkitActionFor(const std::vector<ToolkitAction>& actions,
                                       std::string_view axName, const AXRole& role);

/// A menu item's shortcut as the seam reads it: the character (a key name for keys that type
/// none, such as "f5" or "forwarddelete") and the modifier bits of "AXMenuItemCmdModifiers"
/// (1 shift, 2 option, 4 control, 8 no command key). Control, the command key of Linux
/// shortcuts, reads as the command key.
struct MenuShortcut {
    std::string character;
    int64_t modifiers = 0;
    bool operator==(const MenuShortcut&) const = default;
};
/// The shortcut from a toolkit key binding: "<Control>s", "<Primary><Shift>n", or the
/// three-part "mnemonic;path;accelerator" form of menu items (the accelerator counts).
std::optional<MenuShortcut> menuShortcutOf(std::string_view keyBinding);

}  // namespace pelko::computer::linux_desktop
