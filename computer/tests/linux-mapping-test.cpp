// How AT-SPI objects read through the accessibility seam: the role and state table, the action
// names, menu shortcuts, and the tree built from the cache interface's bulk read.
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

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
    EXPECT_TRUE(isEnabled(onScreen));
    EXPECT_FALSE(isEnabled(onScreen & ~state(ATSPI_STATE_SENSITIVE)));
    EXPECT_FALSE(isEnabled(onScreen & ~state(ATSPI_STATE_ENABLED)));
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
    EXPECT_EQ(
        names({}, ATSPI_ROLE_SLIDER, valueInterface, onScreen & ~state(ATSPI_STATE_SENSITIVE)),
        Names{})
        << "a disabled slider cannot be moved";
    EXPECT_EQ(names({}, ATSPI_ROLE_PROGRESS_BAR, valueInterface), Names{});

    const std::vector<ToolkitAction> actions = {{"expand or contract", ""}, {"Activate", ""}};
    EXPECT_EQ(toolkitActionFor(actions, "AXPress"), 1u);
    EXPECT_EQ(toolkitActionFor(actions, "AXShowMenu"), 1u);
    EXPECT_EQ(toolkitActionFor(actions, "expand or contract"), 0u);
    EXPECT_EQ(toolkitActionFor(actions, "Activate"), std::nullopt)
        << "the press action goes by its seam name only";
    EXPECT_EQ(toolkitActionFor(actions, "AXIncrement"), std::nullopt);
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
               "org.a11y.atspi.Collection"});
    const auto items = parseCacheItems(reply.finish());
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 1u);
    const CacheItem& item = items->front();
    EXPECT_EQ(item.object, (ObjectRef{":1.5", "/org/a11y/atspi/accessible/7"}));
    EXPECT_EQ(item.parent, (ObjectRef{":1.5", "/org/a11y/atspi/accessible/3"}));
    EXPECT_EQ(item.indexInParent, 2);
    EXPECT_EQ(item.childCount, 0);
    EXPECT_EQ(item.interfaces, accessibleInterface | actionInterface | componentInterface)
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

TEST(LinuxTree, ATreeServesReadsBrieflyOrThreeTimesItsReadingTime) {
    EXPECT_EQ(treeLifetime(std::chrono::milliseconds(5)), std::chrono::milliseconds(250));
    EXPECT_EQ(treeLifetime(std::chrono::milliseconds(200)), std::chrono::milliseconds(600));
}

}  // namespace
}  // namespace pelko::computer::linux_desktop
