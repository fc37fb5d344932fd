// How AT-SPI objects read through the accessibility seam: the role and state table, the action
// names, menu shortcuts, and the tree built from the cache interface's bulk read.
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include "linux/atspi-calls.h"
#include "linux/atspi-client.h"
#include "linux/atspi-tree.h"
#include "linux/ax-mapping.h"

namespace pelko::computer::linux_desktop {
namespace {

constexpr StateSet state(int bit) {
    return StateSet{1} << bit;
}

const StateSet onScreen = state(ATSPI_STATE_SHOWING) | state(ATSPI_STATE_VISIBLE) |
                          state(ATSPI_STATE_ENABLED) | state(ATSPI_STATE_SENSITIVE);

AXRole roleOf(uint32_t role, StateSet states = onScreen, uint32_t parent = ATSPI_ROLE_FILLER,
              bool editableChild = false) {
    return axRoleOf({role, states, 0, parent, editableChild});
}

TEST(LinuxMapping, RolesMapOntoTheVocabularyOfTheOutline) {
    EXPECT_EQ(roleOf(ATSPI_ROLE_PUSH_BUTTON), (AXRole{"AXButton", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_CHECK_BOX), (AXRole{"AXCheckBox", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TOGGLE_BUTTON), (AXRole{"AXCheckBox", "AXToggle"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TOGGLE_BUTTON, onScreen | state(ATSPI_STATE_HAS_POPUP)),
              (AXRole{"AXMenuButton", {}}))
        << "a toggle that opens a pop-up is a menu button";
    EXPECT_EQ(roleOf(ATSPI_ROLE_RADIO_BUTTON), (AXRole{"AXRadioButton", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_PAGE_TAB), (AXRole{"AXRadioButton", "AXTabButton"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_PAGE_TAB_LIST), (AXRole{"AXTabGroup", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_ENTRY), (AXRole{"AXTextField", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_PASSWORD_TEXT), (AXRole{"AXTextField", "AXSecureTextField"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TEXT, onScreen | state(ATSPI_STATE_SINGLE_LINE)),
              (AXRole{"AXTextField", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TEXT, onScreen | state(ATSPI_STATE_MULTI_LINE)),
              (AXRole{"AXTextArea", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_LABEL), (AXRole{"AXStaticText", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_COMBO_BOX), (AXRole{"AXPopUpButton", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_COMBO_BOX, onScreen, ATSPI_ROLE_FILLER, true),
              (AXRole{"AXComboBox", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_SCROLL_PANE), (AXRole{"AXScrollArea", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_SCROLL_BAR), (AXRole{"AXScrollBar", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_SLIDER), (AXRole{"AXSlider", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_SPIN_BUTTON), (AXRole{"AXTextField", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TABLE), (AXRole{"AXTable", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TREE_TABLE), (AXRole{"AXOutline", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TABLE_ROW), (AXRole{"AXRow", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_TABLE_CELL), (AXRole{"AXCell", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_LINK), (AXRole{"AXLink", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_HEADING), (AXRole{"AXHeading", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_IMAGE), (AXRole{"AXImage", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_DOCUMENT_WEB), (AXRole{"AXWebArea", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_MENU_BAR), (AXRole{"AXMenuBar", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_CHECK_MENU_ITEM), (AXRole{"AXMenuItem", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_FILLER), (AXRole{"AXGroup", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_PANEL), (AXRole{"AXGroup", {}}));
}

TEST(LinuxMapping, WindowsAndMenusDependOnWhereTheyStand) {
    EXPECT_EQ(roleOf(ATSPI_ROLE_FRAME, onScreen, ATSPI_ROLE_APPLICATION),
              (AXRole{"AXWindow", "AXStandardWindow"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_DIALOG, onScreen, ATSPI_ROLE_APPLICATION),
              (AXRole{"AXWindow", "AXDialog"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_FRAME, onScreen | state(ATSPI_STATE_MODAL), ATSPI_ROLE_APPLICATION),
              (AXRole{"AXWindow", "AXDialog"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_FILE_CHOOSER, onScreen, ATSPI_ROLE_APPLICATION),
              (AXRole{"AXWindow", "AXDialog"}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_FILE_CHOOSER, onScreen, ATSPI_ROLE_DIALOG), (AXRole{"AXGroup", {}}))
        << "a chooser inside its dialog is the dialog's content";
    EXPECT_EQ(roleOf(ATSPI_ROLE_COLOR_CHOOSER, onScreen, ATSPI_ROLE_FILLER),
              (AXRole{"AXColorWell", {}}));

    EXPECT_EQ(roleOf(ATSPI_ROLE_MENU, onScreen, ATSPI_ROLE_MENU_BAR),
              (AXRole{"AXMenuBarItem", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_MENU, onScreen, ATSPI_ROLE_MENU), (AXRole{"AXMenuItem", {}}))
        << "an item that opens a submenu";
    EXPECT_EQ(roleOf(ATSPI_ROLE_MENU, onScreen, ATSPI_ROLE_COMBO_BOX), (AXRole{"AXMenu", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_SEPARATOR, onScreen, ATSPI_ROLE_MENU), (AXRole{"AXMenuItem", {}}))
        << "a menu's separator is an untitled item, as the menu method expects";
}

TEST(LinuxMapping, ValuesComeFromStatesNamesTextsOrNumbers) {
    const auto source = [](uint32_t role, uint32_t interfaces, bool hasName = false,
                           StateSet states = onScreen) {
        const ObjectTraits traits{role, states, interfaces, ATSPI_ROLE_FILLER, false};
        return valueSourceOf(traits, axRoleOf(traits), hasName);
    };
    EXPECT_EQ(source(ATSPI_ROLE_CHECK_BOX, actionInterface), ValueSource::checkState);
    EXPECT_EQ(source(ATSPI_ROLE_TOGGLE_BUTTON, actionInterface), ValueSource::checkState);
    EXPECT_EQ(source(ATSPI_ROLE_PAGE_TAB, 0), ValueSource::none) << "tabs say selected instead";
    EXPECT_EQ(source(ATSPI_ROLE_COMBO_BOX, actionInterface, true), ValueSource::name);
    EXPECT_EQ(source(ATSPI_ROLE_ENTRY, textInterface | editableTextInterface), ValueSource::text);
    EXPECT_EQ(source(ATSPI_ROLE_PASSWORD_TEXT, textInterface), ValueSource::none)
        << "a password is never read";
    EXPECT_EQ(source(ATSPI_ROLE_SPIN_BUTTON, textInterface | valueInterface), ValueSource::text)
        << "a spin button shows its text";
    EXPECT_EQ(source(ATSPI_ROLE_LABEL, textInterface, true), ValueSource::none)
        << "a label's text is its name, its title";
    EXPECT_EQ(source(ATSPI_ROLE_LABEL, textInterface, false), ValueSource::text);
    EXPECT_EQ(source(ATSPI_ROLE_SLIDER, valueInterface), ValueSource::number);
    EXPECT_EQ(source(ATSPI_ROLE_PUSH_BUTTON, actionInterface, true), ValueSource::none);

    EXPECT_EQ(checkValue(state(ATSPI_STATE_CHECKED)), 1);
    EXPECT_EQ(checkValue(state(ATSPI_STATE_PRESSED)), 1);
    EXPECT_EQ(checkValue(state(ATSPI_STATE_CHECKED) | state(ATSPI_STATE_INDETERMINATE)), 2);
    EXPECT_EQ(checkValue(onScreen), 0);
    EXPECT_FALSE(nameIsTitle({"AXPopUpButton", {}}));
    EXPECT_TRUE(nameIsTitle({"AXButton", {}}));
}

TEST(LinuxMapping, HiddenEnabledAndExpandedStates) {
    const StateSet offScreen = onScreen & ~state(ATSPI_STATE_SHOWING);
    EXPECT_FALSE(isHidden({ATSPI_ROLE_PUSH_BUTTON, onScreen, 0, ATSPI_ROLE_FILLER, false}));
    EXPECT_TRUE(isHidden({ATSPI_ROLE_PUSH_BUTTON, offScreen, 0, ATSPI_ROLE_FILLER, false}));
    EXPECT_FALSE(isHidden({ATSPI_ROLE_FRAME, offScreen, 0, ATSPI_ROLE_APPLICATION, false}))
        << "a minimized window is minimized, not hidden";
    const auto enabled = [](StateSet states, Toolkit toolkit = Toolkit::gtk3,
                            uint32_t role = ATSPI_ROLE_PUSH_BUTTON) {
        return isEnabled({role, states, 0, ATSPI_ROLE_FILLER, false, toolkit});
    };
    const StateSet neither = onScreen & ~state(ATSPI_STATE_SENSITIVE) & ~state(ATSPI_STATE_ENABLED);
    EXPECT_TRUE(enabled(onScreen));
    EXPECT_TRUE(enabled(onScreen & ~state(ATSPI_STATE_ENABLED), Toolkit::gtk4))
        << "GTK 4 says sensitive only";
    EXPECT_TRUE(enabled(onScreen & ~state(ATSPI_STATE_SENSITIVE), Toolkit::chromium));
    EXPECT_FALSE(enabled(neither));
    EXPECT_FALSE(enabled(neither, Toolkit::chromium)) << "Chromium's disabled Back button";
    EXPECT_TRUE(enabled(neither, Toolkit::gtk3, ATSPI_ROLE_PAGE_TAB))
        << "GTK 3 sets neither on notebook tabs, which a click selects";
    EXPECT_FALSE(enabled(neither, Toolkit::qt, ATSPI_ROLE_PAGE_TAB));
    EXPECT_EQ(expandedState({ATSPI_ROLE_COMBO_BOX, onScreen, 0, 0, false}), std::nullopt);
    EXPECT_EQ(expandedState(
                  {ATSPI_ROLE_COMBO_BOX, onScreen | state(ATSPI_STATE_EXPANDABLE), 0, 0, false}),
              false);
    EXPECT_EQ(expandedState({ATSPI_ROLE_TREE_ITEM,
                             onScreen | state(ATSPI_STATE_EXPANDABLE) | state(ATSPI_STATE_EXPANDED),
                             0, 0, false}),
              true);
}

TEST(LinuxMapping, ThePressActionAndTheActionsAdded) {
    const auto names = [](std::vector<ToolkitAction> actions, uint32_t role, uint32_t interfaces,
                          StateSet states = onScreen) {
        const ObjectTraits traits{role, states, interfaces, ATSPI_ROLE_FILLER, false};
        return axActionNames(actions, traits, axRoleOf(traits));
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(names({{"click", ""}}, ATSPI_ROLE_PUSH_BUTTON, actionInterface | componentInterface),
              (Names{"AXPress", "AXScrollToVisible"}));
    EXPECT_EQ(names({{"toggle", ""}, {"activate", ""}}, ATSPI_ROLE_CHECK_BOX, actionInterface),
              (Names{"AXPress", "activate"}))
        << "the first press action is the press; a second keeps its name";
    EXPECT_EQ(names({{"press", ""}}, ATSPI_ROLE_COMBO_BOX, actionInterface),
              (Names{"AXPress", "AXShowMenu"}))
        << "a pop-up that can be pressed shows its menu";
    EXPECT_EQ(names({}, ATSPI_ROLE_COMBO_BOX, 0), Names{})
        << "nothing to press: no menu to show either";
    EXPECT_EQ(
        names({{"expand or contract", ""}, {"edit", ""}}, ATSPI_ROLE_TABLE_CELL, actionInterface),
        (Names{"expand or contract", "edit"}));
    EXPECT_EQ(names({}, ATSPI_ROLE_SLIDER, valueInterface), (Names{"AXIncrement", "AXDecrement"}));
    EXPECT_EQ(names({}, ATSPI_ROLE_SLIDER, valueInterface,
                    onScreen & ~state(ATSPI_STATE_SENSITIVE) & ~state(ATSPI_STATE_ENABLED)),
              Names{})
        << "a disabled slider cannot be moved";
    EXPECT_EQ(names({}, ATSPI_ROLE_PROGRESS_BAR, valueInterface), Names{});

    const std::vector<ToolkitAction> actions = {{"expand or contract", ""}, {"Activate", ""}};
    const AXRole popup{"AXPopUpButton", {}}, cell{"AXCell", {}};
    EXPECT_EQ(toolkitActionFor(actions, "AXPress", popup), 1u);
    EXPECT_EQ(toolkitActionFor(actions, "AXShowMenu", popup), 1u) << "a pop-up's menu is its press";
    EXPECT_EQ(toolkitActionFor(actions, "AXShowMenu", cell), std::nullopt);
    EXPECT_EQ(toolkitActionFor(actions, "expand or contract", cell), 0u);
    EXPECT_EQ(toolkitActionFor(actions, "Activate", cell), std::nullopt)
        << "the press action goes by its seam name only";
    EXPECT_EQ(toolkitActionFor(actions, "AXIncrement", cell), std::nullopt);
}

// Each toolkit's actions as the outline should see them: (toolkit's names, role) → seam names.
TEST(LinuxMapping, EachToolkitsActionsMapOntoPressAndShowMenu) {
    struct Case {
        const char* toolkit;
        std::vector<std::string> actions;
        uint32_t role;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"Chromium button",
         {"press", "showContextMenu"},
         ATSPI_ROLE_PUSH_BUTTON,
         {"AXPress", "AXShowMenu"}},
        {"Chromium text",
         {"doDefault", "showContextMenu"},
         ATSPI_ROLE_STATIC,
         {"AXPress", "AXShowMenu"}},
        {"Chromium text in a link",
         {"clickAncestor", "showContextMenu"},
         ATSPI_ROLE_STATIC,
         {"AXShowMenu"}},
        {"Chromium check box",
         {"check", "showContextMenu"},
         ATSPI_ROLE_CHECK_BOX,
         {"AXPress", "AXShowMenu"}},
        {"Gecko link", {"jump"}, ATSPI_ROLE_LINK, {"AXPress"}},
        {"Gecko label", {"clickAncestor"}, ATSPI_ROLE_LABEL, {}},
        {"GTK 4 button", {"click"}, ATSPI_ROLE_PUSH_BUTTON, {"AXPress"}},
        {"GTK 4 label",
         {"clipboard.copy", "selection.delete", "link.open", "menu.popup", "selection.select-all"},
         ATSPI_ROLE_LABEL,
         {"AXShowMenu"}},
        {"GTK 4 window",
         {"win.undo", "window.close", "default.activate"},
         ATSPI_ROLE_FRAME,
         {"AXRaise"}},
        {"Qt menu", {"ShowMenu"}, ATSPI_ROLE_MENU_ITEM, {"AXShowMenu"}},
        {"Qt field", {"SetFocus"}, ATSPI_ROLE_TEXT, {}},
        {"GTK 3 cell",
         {"expand or contract", "edit"},
         ATSPI_ROLE_TABLE_CELL,
         {"expand or contract", "edit"}},
    };
    for (const Case& test : cases) {
        std::vector<ToolkitAction> actions;
        for (const auto& name : test.actions) actions.push_back({name, ""});
        const ObjectTraits traits{test.role, onScreen, actionInterface, ATSPI_ROLE_FILLER, false};
        EXPECT_EQ(axActionNames(actions, traits, axRoleOf(traits)), test.names) << test.toolkit;
    }
    // A Qt menu-bar entry is an item whose menu its only action shows.
    const ObjectTraits entry{ATSPI_ROLE_MENU_ITEM, onScreen, actionInterface,
                             ATSPI_ROLE_MENU_BAR,  false,    Toolkit::qt};
    EXPECT_EQ(axRoleOf(entry), (AXRole{"AXMenuBarItem", {}}));
    EXPECT_EQ(toolkitActionFor({{"ShowMenu", ""}}, "AXShowMenu", axRoleOf(entry)), 0u);
}

TEST(LinuxMapping, ValuesAndStepsOnlyWhereARoleHasANumber) {
    // LibreOffice's toolbar buttons carry the value interface (value 0).
    const ObjectTraits button{ATSPI_ROLE_PUSH_BUTTON, onScreen, valueInterface | actionInterface,
                              ATSPI_ROLE_TOOL_BAR, false};
    EXPECT_EQ(valueSourceOf(button, axRoleOf(button), true), ValueSource::none);
    EXPECT_EQ(axActionNames({{"click", ""}}, button, axRoleOf(button)),
              std::vector<std::string>{"AXPress"});
    for (const uint32_t role : {ATSPI_ROLE_SLIDER, ATSPI_ROLE_PROGRESS_BAR, ATSPI_ROLE_LEVEL_BAR,
                                ATSPI_ROLE_SCROLL_BAR}) {
        const ObjectTraits traits{role, onScreen, valueInterface, ATSPI_ROLE_FILLER, false};
        EXPECT_EQ(valueSourceOf(traits, axRoleOf(traits), false), ValueSource::number) << role;
    }
    // A static text with children (Chromium's label around its field) shows them instead.
    ObjectTraits label{ATSPI_ROLE_LABEL, onScreen, textInterface, ATSPI_ROLE_FORM, false};
    EXPECT_EQ(valueSourceOf(label, axRoleOf(label), false), ValueSource::text);
    label.hasChildren = true;
    EXPECT_EQ(valueSourceOf(label, axRoleOf(label), false), ValueSource::none);
}

TEST(LinuxMapping, ToolkitsAndTheirNamesStatesAndTexts) {
    EXPECT_EQ(toolkitOf("GTK", "3.24.38"), Toolkit::gtk3);
    EXPECT_EQ(toolkitOf("gtk", "3.24.38"), Toolkit::gtk3) << "LibreOffice's GTK 3 plug-in";
    EXPECT_EQ(toolkitOf("GTK", "4.8.3"), Toolkit::gtk4);
    EXPECT_EQ(toolkitOf("Qt", "5.15.8"), Toolkit::qt);
    EXPECT_EQ(toolkitOf("Gecko", "153.8.0"), Toolkit::gecko);
    EXPECT_EQ(toolkitOf("Chromium", "1.0"), Toolkit::chromium);
    EXPECT_EQ(toolkitOf("", ""), Toolkit::other);

    const std::pair<const char*, const char*> gtk4Names[] = {
        {"GtkButton", ""},
        {"AdwGizmo", ""},
        {"HistoryView", ""},
        {"4 4", "4"},
        {"mod mod", "mod"},
        {"_Retry Retry", "Retry"},
        {"  Undo ", "Undo"},
        {"Basic", "Basic"},
        {"Clear Display", "Clear Display"},
        {"x2", "x2"},
        {"Open a file", "Open a file"},
    };
    for (const auto& [name, shown] : gtk4Names)
        EXPECT_EQ(shownName(name, Toolkit::gtk4), shown) << name;
    EXPECT_EQ(shownName("GtkButton", Toolkit::gtk3), "GtkButton") << "only GTK 4 names so";
    EXPECT_EQ(shownName("4 4", Toolkit::qt), "4 4");

    // GTK 4 sets "showing" on windows only.
    const StateSet visibleOnly = onScreen & ~state(ATSPI_STATE_SHOWING);
    EXPECT_FALSE(isHidden(
        {ATSPI_ROLE_PUSH_BUTTON, visibleOnly, 0, ATSPI_ROLE_FILLER, false, Toolkit::gtk4}));
    EXPECT_TRUE(isHidden({ATSPI_ROLE_PUSH_BUTTON, visibleOnly & ~state(ATSPI_STATE_VISIBLE), 0,
                          ATSPI_ROLE_FILLER, false, Toolkit::gtk4}));
    EXPECT_TRUE(isHidden(
        {ATSPI_ROLE_PUSH_BUTTON, visibleOnly, 0, ATSPI_ROLE_FILLER, false, Toolkit::gtk3}));

    // An alert inside a window is part of it; one of its own is a window.
    EXPECT_EQ(roleOf(ATSPI_ROLE_ALERT, onScreen, ATSPI_ROLE_PANEL), (AXRole{"AXGroup", {}}));
    EXPECT_EQ(roleOf(ATSPI_ROLE_ALERT, onScreen, ATSPI_ROLE_APPLICATION),
              (AXRole{"AXWindow", "AXDialog"}));

    const uint32_t editable = textInterface | editableTextInterface;
    const StateSet edits = onScreen | state(ATSPI_STATE_EDITABLE);
    EXPECT_TRUE(takesTextEdits({ATSPI_ROLE_ENTRY, edits, editable, 0, false, Toolkit::gtk3}));
    EXPECT_FALSE(takesTextEdits({ATSPI_ROLE_ENTRY, edits, editable, 0, false, Toolkit::gecko}))
        << "Gecko answers text edits with success and changes nothing";
    EXPECT_FALSE(takesTextEdits({ATSPI_ROLE_ENTRY, onScreen, editable, 0, false, Toolkit::gtk3}));
}

TEST(LinuxMapping, GeckosContainersTextIsCutAtItsChildren) {
    const ObjectTraits paragraph{ATSPI_ROLE_PARAGRAPH, onScreen, textInterface,
                                 ATSPI_ROLE_FORM,      false,    Toolkit::gecko};
    EXPECT_TRUE(holdsOwnText(paragraph, axRoleOf(paragraph)));
    ObjectTraits chromium = paragraph;
    chromium.toolkit = Toolkit::chromium;
    EXPECT_FALSE(holdsOwnText(chromium, axRoleOf(chromium))) << "Chromium has text objects";
    const ObjectTraits field{ATSPI_ROLE_ENTRY, onScreen, textInterface,
                             ATSPI_ROLE_FORM,  false,    Toolkit::gecko};
    EXPECT_FALSE(holdsOwnText(field, axRoleOf(field))) << "a field's text is its value";

    using Pieces = std::vector<TextPiece>;
    EXPECT_EQ(textPieces("Fill in, tick ￼, then press ￼.", 2),
              (Pieces{{"Fill in, tick ", {}}, {"", 0}, {", then press ", {}}, {"", 1}, {".", {}}}));
    EXPECT_EQ(textPieces("No order yet.", 0), (Pieces{{"No order yet.", {}}}));
    EXPECT_EQ(textPieces("￼ ￼", 2), (Pieces{{"", 0}, {"", 1}}))
        << "blanks between children are no text";
    EXPECT_EQ(textPieces("Name ￼", 2), std::nullopt)
        << "marks for another number of children: not this form";
    EXPECT_EQ(textPieces("", 0), Pieces{});
}

TEST(LinuxMapping, MenuShortcutsFromKeyBindings) {
    EXPECT_EQ(menuShortcutOf("<Control>s"), (MenuShortcut{"s", 0}))
        << "Control is the command key of Linux shortcuts";
    EXPECT_EQ(menuShortcutOf("<Primary><Shift>n"), (MenuShortcut{"n", 1}));
    EXPECT_EQ(menuShortcutOf("<Alt>F4"), (MenuShortcut{"f4", 8 | 2}));
    EXPECT_EQ(menuShortcutOf("F5"), (MenuShortcut{"f5", 8}));
    EXPECT_EQ(menuShortcutOf("<Control>plus"), (MenuShortcut{"+", 0}));
    EXPECT_EQ(menuShortcutOf("<Control>Page_Down"), (MenuShortcut{"pagedown", 0}));
    EXPECT_EQ(menuShortcutOf("Delete"), (MenuShortcut{"forwarddelete", 8}));
    EXPECT_EQ(menuShortcutOf("s;<Alt>f:s;<Control>s"), (MenuShortcut{"s", 0}))
        << "the accelerator of the three-part form";
    EXPECT_EQ(menuShortcutOf("q;<Alt>f:q;"), std::nullopt) << "an item without an accelerator";
    EXPECT_EQ(menuShortcutOf(""), std::nullopt);
    EXPECT_EQ(menuShortcutOf("<Control"), std::nullopt);
}

// A reply of the cache interface's bulk read, built item by item.
class CacheReply {
  public:
    CacheReply() : message_(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN)) {
        dbus_message_iter_init_append(message_.get(), &top_);
        dbus_message_iter_open_container(&top_, DBUS_TYPE_ARRAY, "((so)(so)(so)iiassusau)",
                                         &array_);
    }
    void add(const char* path, const char* parent, int index, int children, uint32_t role,
             const char* name, StateSet states,
             std::vector<const char*> interfaces = {"org.a11y.atspi.Accessible"}) {
        DBusMessageIter item, list;
        dbus_message_iter_open_container(&array_, DBUS_TYPE_STRUCT, nullptr, &item);
        ref(item, ":1.5", path);
        ref(item, ":1.5", "/org/a11y/atspi/accessible/root");
        ref(item, parent[0] == ':' ? ":1.0" : ":1.5", parent[0] == ':' ? parent + 1 : parent);
        dbus_int32_t at = index, count = children;
        dbus_message_iter_append_basic(&item, DBUS_TYPE_INT32, &at);
        dbus_message_iter_append_basic(&item, DBUS_TYPE_INT32, &count);
        dbus_message_iter_open_container(&item, DBUS_TYPE_ARRAY, "s", &list);
        for (const char* interface : interfaces)
            dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_close_container(&item, &list);
        dbus_message_iter_append_basic(&item, DBUS_TYPE_STRING, &name);
        dbus_uint32_t roleNumber = role;
        dbus_message_iter_append_basic(&item, DBUS_TYPE_UINT32, &roleNumber);
        const char* description = "";
        dbus_message_iter_append_basic(&item, DBUS_TYPE_STRING, &description);
        dbus_message_iter_open_container(&item, DBUS_TYPE_ARRAY, "u", &list);
        const dbus_uint32_t words[2] = {static_cast<dbus_uint32_t>(states),
                                        static_cast<dbus_uint32_t>(states >> 32)};
        for (const auto word : words)
            dbus_message_iter_append_basic(&list, DBUS_TYPE_UINT32, &word);
        dbus_message_iter_close_container(&item, &list);
        dbus_message_iter_close_container(&array_, &item);
    }
    DBusMessage* finish() {
        dbus_message_iter_close_container(&top_, &array_);
        return message_.get();
    }

  private:
    static void ref(DBusMessageIter& into, const char* name, const char* path) {
        DBusMessageIter pair;
        dbus_message_iter_open_container(&into, DBUS_TYPE_STRUCT, nullptr, &pair);
        dbus_message_iter_append_basic(&pair, DBUS_TYPE_STRING, &name);
        dbus_message_iter_append_basic(&pair, DBUS_TYPE_OBJECT_PATH, &path);
        dbus_message_iter_close_container(&into, &pair);
    }
    MessagePtr message_;
    DBusMessageIter top_, array_;
};

TEST(LinuxTree, TheBulkReadIsParsedWithEveryField) {
    CacheReply reply;
    const StateSet states = state(ATSPI_STATE_CHECKED) | state(ATSPI_STATE_VISIBLE);
    reply.add("/org/a11y/atspi/accessible/7", "/org/a11y/atspi/accessible/3", 2, 0,
              ATSPI_ROLE_CHECK_BOX, "Bold", states,
              {"org.a11y.atspi.Accessible", "org.a11y.atspi.Action", "org.a11y.atspi.Component",
               "org.a11y.atspi.Collection", "org.a11y.atspi.TableCell"});
    const auto items = parseCacheItems(reply.finish());
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 1u);
    const CacheItem& item = items->front();
    EXPECT_EQ(item.object, (ObjectRef{":1.5", "/org/a11y/atspi/accessible/7"}));
    EXPECT_EQ(item.parent, (ObjectRef{":1.5", "/org/a11y/atspi/accessible/3"}));
    EXPECT_EQ(item.indexInParent, 2);
    EXPECT_EQ(item.childCount, 0);
    EXPECT_EQ(item.interfaces,
              accessibleInterface | actionInterface | componentInterface | collectionInterface)
        << "interfaces this backend does not use are left out";
    EXPECT_EQ(item.name, "Bold");
    EXPECT_EQ(item.role, static_cast<uint32_t>(ATSPI_ROLE_CHECK_BOX));
    EXPECT_EQ(item.states, states);

    MessagePtr wrong(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    const char* text = "not items";
    dbus_message_append_args(wrong.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    EXPECT_EQ(parseCacheItems(wrong.get()), std::nullopt);
}

TEST(LinuxTree, ChildrenAreOrderedByIndexAndUnplaceableOrdersAreAskedFor) {
    CacheReply reply;
    const char* root = "/org/a11y/atspi/accessible/root";
    // The root names the registry's root (same path, other bus) as its parent.
    reply.add(root, ":/org/a11y/atspi/accessible/root", -1, 1, ATSPI_ROLE_APPLICATION, "App", 0);
    reply.add("/w", root, 0, 3, ATSPI_ROLE_FRAME, "Window", onScreen);
    reply.add("/c", "/w", 2, 0, ATSPI_ROLE_PUSH_BUTTON, "C", onScreen);
    reply.add("/a", "/w", 0, 0, ATSPI_ROLE_PUSH_BUTTON, "A", onScreen);
    reply.add("/b", "/w", 1, 1, ATSPI_ROLE_COMBO_BOX, "B", onScreen);
    reply.add("/menu", "/b", 0, -1, ATSPI_ROLE_MENU, "", 0);
    reply.add("/one", "/menu", -1, 0, ATSPI_ROLE_MENU_ITEM, "One", 0);
    reply.add("/two", "/menu", -1, 0, ATSPI_ROLE_MENU_ITEM, "Two", 0);
    AppTree tree = treeFromCache(":1.5", *parseCacheItems(reply.finish()));

    ASSERT_EQ(tree.nodes.size(), 8u);
    const Node* app = tree.find(root);
    ASSERT_TRUE(app);
    EXPECT_TRUE(app->childrenKnown);
    EXPECT_EQ(app->children, (std::vector<ObjectRef>{{":1.5", "/w"}}))
        << "the root is not its own child";
    const Node* window = tree.find("/w");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->childrenKnown);
    EXPECT_EQ(window->children,
              (std::vector<ObjectRef>{{":1.5", "/a"}, {":1.5", "/b"}, {":1.5", "/c"}}));
    EXPECT_TRUE(tree.find("/b")->childrenKnown);
    const Node* menu = tree.find("/menu");
    EXPECT_FALSE(menu->childrenKnown) << "indexes of -1 give no order";
    EXPECT_EQ(menu->children.size(), 2u) << "they are kept until the order is asked for";
    EXPECT_TRUE(tree.find("/one")->childrenKnown);

    CacheReply missing;
    missing.add("/w", "/x", 0, 3, ATSPI_ROLE_FRAME, "Window", onScreen);
    missing.add("/a", "/w", 0, 0, ATSPI_ROLE_PUSH_BUTTON, "A", onScreen);
    missing.add("/b", "/w", 1, 0, ATSPI_ROLE_PUSH_BUTTON, "B", onScreen);
    AppTree partial = treeFromCache(":1.5", *parseCacheItems(missing.finish()));
    EXPECT_FALSE(partial.find("/w")->childrenKnown)
        << "a child the bulk read left out (one a view makes) must be asked for";
}

// Apps answer whatever they like: lists are read up to a cap, so memory stays bounded, and
// role numbers beyond AT-SPI's own are roles like any unknown one.
TEST(LinuxTree, WhatAnAppListsIsReadUpToTheCap) {
    CacheReply reply;
    for (size_t i = 0; i < maxListed + 2; ++i) reply.add("/o", "/w", 0, 0, ATSPI_ROLE_PANEL, "", 0);
    const auto items = parseCacheItems(reply.finish());
    ASSERT_TRUE(items);
    EXPECT_EQ(items->size(), maxListed);

    MessagePtr children(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    DBusMessageIter top, array, pair;
    dbus_message_iter_init_append(children.get(), &top);
    dbus_message_iter_open_container(&top, DBUS_TYPE_ARRAY, "(so)", &array);
    const char* name = ":1.5";
    const char* path = "/o";
    for (size_t i = 0; i < maxListed + 2; ++i) {
        dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &pair);
        dbus_message_iter_append_basic(&pair, DBUS_TYPE_STRING, &name);
        dbus_message_iter_append_basic(&pair, DBUS_TYPE_OBJECT_PATH, &path);
        dbus_message_iter_close_container(&array, &pair);
    }
    dbus_message_iter_close_container(&top, &array);
    DBusMessageIter iter;
    ASSERT_TRUE(dbus_message_iter_init(children.get(), &iter));
    const auto refs = readRefs(iter);
    ASSERT_TRUE(refs);
    EXPECT_EQ(refs->size(), maxListed);

    for (const uint32_t role : {200u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        const ObjectTraits traits{role, onScreen, 0, role, false, Toolkit::gtk3, false};
        EXPECT_EQ(axRoleOf(traits).role, "AXGroup") << role;
    }
}

TEST(LinuxTree, AnObjectOrItsAncestorIsNoChildOfIt) {
    CacheReply reply;
    const char* root = "/org/a11y/atspi/accessible/root";
    reply.add(root, ":/org/a11y/atspi/accessible/root", -1, 1, ATSPI_ROLE_APPLICATION, "App", 0);
    reply.add("/w", root, 0, 1, ATSPI_ROLE_FRAME, "Window", onScreen);
    reply.add("/a", "/w", 0, 1, ATSPI_ROLE_PANEL, "", onScreen);
    reply.add("/b", "/a", 0, -1, ATSPI_ROLE_LABEL, "", onScreen);
    reply.add("/x", "/y", 0, 1, ATSPI_ROLE_PANEL, "", onScreen);  // parents in a circle
    reply.add("/y", "/x", 0, 1, ATSPI_ROLE_PANEL, "", onScreen);
    AppTree tree = treeFromCache(":1.5", *parseCacheItems(reply.finish()));
    const struct {
        const char* path;
        const char* candidate;
        bool expected;
    } cases[] = {
        {"/b", "/b", true}, {"/b", "/a", true},  {"/b", "/w", true},
        {"/b", root, true}, {"/w", "/b", false}, {"/a", "/x", false},
        {"/x", "/y", true}, {"/x", "/z", false}, {"/gone", "/w", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSelfOrAncestor(tree, c.path, c.candidate), c.expected)
            << c.path << " " << c.candidate;
}

TEST(LinuxTree, ATreeServesReadsBrieflyOrThreeTimesItsReadingTime) {
    EXPECT_EQ(treeLifetime(std::chrono::milliseconds(5)), std::chrono::milliseconds(250));
    EXPECT_EQ(treeLifetime(std::chrono::milliseconds(200)), std::chrono::milliseconds(600));
}

}  // namespace
}  // namespace pelko::computer::linux_desktop
