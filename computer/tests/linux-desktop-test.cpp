// pelko-computer on a real X11 desktop: applications no one here wrote (GTK's widget factory,
// Mousepad), read through the accessibility bus, with the banner on the X screen and Escape
// pressed by another X client. All run in the one desktop session this program runs in.
// GoogleTest comes before the X headers, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <atspi/atspi.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
// clang-format on
#include <signal.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "decoded-picture.h"
#include "desktop-session.h"
#include "linux/key-mapping.h"
#include "linux/linux-application.h"
#include "linux/linux-events.h"

namespace pelko::computer::testing {
namespace {

using namespace std::chrono_literals;
using pelko::testing::Timeout;

struct DisplayClose {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

/// A window's picture, not a blank: light background and dark text both, sampled every fourth
/// pixel.
void expectWindowNotBlank(const DecodedPicture& decoded) {
    int light = 0, dark = 0;
    for (int y = 0; y < decoded.height; y += 4) {
        for (int x = 0; x < decoded.width; x += 4) {
            const auto [red, green, blue] = decoded.at(x, y);
            if (red + green + blue > 600) ++light;
            if (red + green + blue < 384) ++dark;
        }
    }
    EXPECT_GT(light, 1000) << "the window's light background";
    EXPECT_GT(dark, 20) << "and its dark text";
}

DisplayPtr openSessionDisplay() {
    return DisplayPtr(XOpenDisplay(DesktopSession::get().display.c_str()));
}

// The pixels of a part of the screen, 0xRRGGBB each.
std::vector<uint32_t> screenPixels(Display* display, int x, int y, int width, int height) {
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), x, y, width, height, AllPlanes, ZPixmap);
    std::vector<uint32_t> pixels;
    if (!image) return pixels;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column)
            pixels.push_back(static_cast<uint32_t>(XGetPixel(image, column, row)) & 0xFFFFFF);
    }
    XDestroyImage(image);
    return pixels;
}

// The overlay window of the program, found by its name among the root's children.
Window overlayWindow(Display* display) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name &&
            std::string(name) == "pelko-computer overlay" &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found = children[i];
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

TEST(LinuxDesktop, ListAppsShowsTheWidgetFactoryWithItsWindow) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    EXPECT_EQ(computer.ready()["accessibility"], true);
    EXPECT_EQ(computer.ready()["screenRecording"], true);
    const JSON factory = appNamed(computer.result("listApps"), "Widget Factory");
    ASSERT_FALSE(factory.is_null()) << "the desktop entry's name is the app's name";
    EXPECT_EQ(factory["bundleId"], "gtk3-widget-factory");
    EXPECT_EQ(factory["path"], "/usr/share/applications/gtk3-widget-factory.desktop");
    EXPECT_GT(factory["pid"].get<int>(), 0);
    EXPECT_EQ(factory["hidden"], false);
    EXPECT_EQ(factory["windows"], JSON::array({"gtk3-widget-factory"}))
        << "a window the toolkit leaves untitled has the title the window manager shows";
}

TEST(LinuxDesktop, StateNumbersTheWidgetFactorysControlsAndFoldsWhatTheBudgetCannotHold) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const JSON full = computer.result("state", {{"app", "Widget Factory"}});
    const std::string tree = full.value("tree", "");
    EXPECT_EQ(full["app"]["name"], "Widget Factory");
    EXPECT_EQ(full["window"]["title"], "gtk3-widget-factory");
    EXPECT_GT(full["window"]["width"].get<double>(), 100);
    EXPECT_EQ(full["overview"], false);
    EXPECT_EQ(full["truncated"], false);
    const auto lines = linesOf(tree);
    EXPECT_EQ(full["count"].get<size_t>(), lines.size()) << "every line carries an index";
    ASSERT_GT(lines.size(), 80u) << tree;
    EXPECT_TRUE(hasLine(tree, R"(^\[\d+\] window "gtk3-widget-factory" \(focused\))")) << tree;
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] checkbox "checkbutton" \((on|off)\)$)")) << tree;
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] checkbox "checkbutton" \(disabled, (on|off)\)$)"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] radio "Page 1" \(on\)$)"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] button "Sans Regular"$)"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] field value="entry"$)"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] field placeholder="Click icon to change mode")"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] popup value="Left" actions: showMenu$)"));
    EXPECT_TRUE(hasLine(tree, R"(^  \[\d+\] slider value="50" actions: increment, decrement$)"));
    EXPECT_TRUE(hasLine(tree, R"(^    \[\d+\] tab "page 1" \(selected\)$)"));
    EXPECT_FALSE(hasLine(tree, R"(menuitem "Donald Duck")"))
        << "the items of a closed pop-up are not on screen";

    const JSON overview = computer.result("state", {{"app", "Widget Factory"}, {"maxChars", 1500}});
    const std::string folded = overview.value("tree", "");
    EXPECT_EQ(overview["overview"], true);
    EXPECT_TRUE(hasLine(folded, "— more inside")) << folded;
    EXPECT_LT(linesOf(folded).size(), lines.size());
    const int64_t part = indexOf(folded, R"(group — more inside: .*"togglebutton")");
    ASSERT_GT(part, 0) << folded;

    const JSON region =
        computer.result("state", {{"app", "Widget Factory"}, {"region", part}, {"maxChars", 6000}});
    EXPECT_EQ(region["region"], part);
    const std::string inside = region.value("tree", "");
    EXPECT_TRUE(hasLine(inside, R"(switch "togglebutton" \((on|off)\))")) << inside;
    EXPECT_GT(indexOf(inside, "togglebutton"), overview["count"].get<int64_t>())
        << "a region's indexes follow the window's";
}

TEST(LinuxDesktop, FindAndResolveOpenTheTextEditorFromItsDesktopFileInTheBackground) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    // A copy left by an earlier run would make the editor count as running.
    if (const JSON left = appNamed(computer.result("listApps"), "Mousepad"); !left.is_null())
        endApp(computer, left["pid"].get<pid_t>());

    const JSON found = computer.result("find", {{"app", "mousepad"}});
    EXPECT_EQ(found, JSON({{"name", "Mousepad"},
                           {"path", "/usr/share/applications/org.xfce.mousepad.desktop"},
                           {"bundleId", "org.xfce.mousepad"},
                           {"running", false}}))
        << "by the entry's name, not the settings entry that starts the same program";
    const JSON refused = computer.request("resolve", {{"app", "Mousepad"}});
    EXPECT_EQ(refused["code"], "not-running");

    const JSON opened =
        computer.result("resolve", {{"app", "org.xfce.mousepad"}, {"launch", true}});
    ASSERT_TRUE(opened.contains("pid")) << opened;
    const pid_t pid = opened["pid"].get<pid_t>();
    EXPECT_EQ(opened["name"], "Mousepad");
    EXPECT_EQ(opened["bundleId"], "org.xfce.mousepad");

    // Opened in the background: the app that was in front stays there.
    JSON apps;
    for (int attempt = 0; attempt < 30; ++attempt) {
        apps = computer.result("listApps");
        if (appNamed(apps, "Widget Factory").value("active", false)) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(appNamed(apps, "Widget Factory")["active"], true) << apps;
    const JSON editor = appNamed(apps, "Mousepad");
    EXPECT_EQ(editor["active"], false);
    ASSERT_TRUE(editor.contains("windows"));
    EXPECT_TRUE(hasLine(editor["windows"].dump(), "Mousepad")) << editor;

    const JSON again = computer.result("find", {{"app", "Mousepad"}});
    EXPECT_EQ(again["running"], true);
    EXPECT_EQ(again["pid"], pid);
    const JSON state = computer.result("state", {{"app", "Mousepad"}, {"launch", false}});
    EXPECT_EQ(state["menus"], JSON::array({"File", "Edit", "Search", "View", "Document", "Help"}))
        << "the menu bar of the window";
    EXPECT_TRUE(hasLine(state.value("tree", ""), R"(\] menubaritem "File")"));
    EXPECT_TRUE(hasLine(state.value("tree", ""), R"(\] textarea)"));
    endApp(computer, pid);
}

TEST(LinuxDesktop, TheBannerShowsOnTheScreenTakesNoClicksAndHides) {
    SKIP_WITHOUT_DESKTOP();
    const DisplayPtr display = openSessionDisplay();
    ASSERT_TRUE(display);
    const int screenWidth = DisplayWidth(display.get(), DefaultScreen(display.get()));
    // The strip at the top of the screen where the banner sits.
    const int x = screenWidth / 2 - 300, y = 0, width = 600, height = 60;
    const auto before = screenPixels(display.get(), x, y, width, height);
    DesktopComputer computer;
    EXPECT_EQ(computer.result("banner", {{"show", true}}), JSON({{"ok", true}}));
    std::this_thread::sleep_for(200ms);
    const auto shown = screenPixels(display.get(), x, y, width, height);
    ASSERT_EQ(shown.size(), before.size());
    size_t dark = 0, light = 0;
    for (const uint32_t pixel : shown) {
        const int red = pixel >> 16, green = (pixel >> 8) & 0xFF, blue = pixel & 0xFF;
        if (red < 40 && green < 40 && blue < 40) ++dark;
        if (red > 200 && green > 200 && blue > 200) ++light;
    }
    EXPECT_GT(dark, 400u * 20) << "the dark banner covers the top of the screen";
    EXPECT_GT(light, 100u) << "with its text in white";

    const Window banner = overlayWindow(display.get());
    ASSERT_NE(banner, 0u);
    int count = 0, ordering = 0;
    XRectangle* input = XShapeGetRectangles(display.get(), banner, ShapeInput, &count, &ordering);
    EXPECT_EQ(count, 0) << "an empty input shape: clicks go to the window below";
    if (input) XFree(input);
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display.get(), banner, &attributes));
    EXPECT_TRUE(attributes.override_redirect);
    EXPECT_EQ(attributes.y, 8) << "8 points below the top of the screen";
    EXPECT_EQ(attributes.height, 32);
    EXPECT_NEAR(attributes.x + attributes.width / 2.0, screenWidth / 2.0, 1);

    EXPECT_EQ(computer.result("banner", {{"show", false}}), JSON({{"ok", true}}));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(screenPixels(display.get(), x, y, width, height), before);
    EXPECT_EQ(overlayWindow(display.get()), 0u);
}

TEST(LinuxDesktop, EscapeFromAnotherClientStopsOnlyWhileTheBannerShows) {
    SKIP_WITHOUT_DESKTOP();
    const auto& session = DesktopSession::get();
    DesktopComputer computer;
    ASSERT_EQ(session.run({"xdotool", "key", "Escape"}), 0);
    EXPECT_TRUE(computer.nextEvent(Timeout{700}).is_null()) << "the banner is not shown";
    computer.result("banner", {{"show", true}});
    // The program's own Escape, pressed on the app in front, is told from the user's.
    EXPECT_EQ(computer.result("pressKey", {{"app", "Widget Factory"}, {"key", "Escape"}}),
              JSON({{"via", "front"}, {"front", false}}));
    JSON own = computer.nextEvent(Timeout{700});
    if (own.value("event", "") == "front") own = computer.nextEvent(Timeout{700});
    EXPECT_TRUE(own.is_null()) << own;
    ASSERT_EQ(session.run({"xdotool", "key", "Escape"}), 0);
    EXPECT_EQ(computer.nextEvent(Timeout{5000}), JSON({{"event", "stop"}}));
    ASSERT_EQ(session.run({"xdotool", "key", "F12"}), 0);
    EXPECT_TRUE(computer.nextEvent(Timeout{700}).is_null()) << "only Escape stops";
    computer.result("banner", {{"show", false}});
    ASSERT_EQ(session.run({"xdotool", "key", "Escape"}), 0);
    EXPECT_TRUE(computer.nextEvent(Timeout{700}).is_null());
}

TEST(LinuxDesktop, TheProgramsOwnEscapeIsToldFromTheUsers) {
    SKIP_WITHOUT_DESKTOP();
    RealClock clock;
    MainLoop mainLoop(clock);
    linux_desktop::PostedKeys posted(clock);
    linux_desktop::ChangeCount changes;
    std::string error;
    auto desktopDisplay = linux_desktop::openDisplay(error);
    auto eventsDisplay = linux_desktop::openDisplay(error);
    ASSERT_TRUE(desktopDisplay && eventsDisplay) << error;
    linux_desktop::X11Desktop x11(std::move(desktopDisplay));
    linux_desktop::LinuxEvents events(std::move(eventsDisplay), x11, posted, changes);
    ASSERT_TRUE(events.hasXTest());
    linux_desktop::LinuxApplication application(mainLoop, posted);
    std::mutex mutex;
    std::vector<KeyDown> seen;
    ASSERT_TRUE(application.addGlobalKeyDownMonitor([&](const KeyDown& key) {
        std::lock_guard lock(mutex);
        seen.push_back(key);
    }));
    std::thread loop([&] { mainLoop.run(); });
    auto escapes = [&] {
        std::lock_guard lock(mutex);
        std::vector<int64_t> marks;
        for (const auto& key : seen) {
            if (key.keyCode == 53) marks.push_back(key.sourceUserData);
        }
        return marks;
    };
    auto waitFor = [&](size_t count) {
        for (int i = 0; i < 100 && escapes().size() < count; ++i) std::this_thread::sleep_for(20ms);
    };

    // The monitor's selection reaches the server before the first key.
    std::this_thread::sleep_for(200ms);
    for (const bool down : {true, false}) {
        auto key = events.createKeyboardEvent(EventSourceState::hidSystem, 53, down);
        key->sourceUserData = 0x50454C4B;
        events.postSystem(*key);
    }
    waitFor(1);
    ASSERT_EQ(DesktopSession::get().run({"xdotool", "key", "Escape"}), 0);
    waitFor(2);
    for (const bool down : {true, false}) {
        auto key = events.createKeyboardEvent(EventSourceState::hidSystem, 53, down);
        key->sourceUserData = 0x50454C4B;
        events.postSystem(*key);
    }
    waitFor(3);
    mainLoop.post([&] { mainLoop.quit(); });
    loop.join();
    EXPECT_EQ(escapes(), (std::vector<int64_t>{0x50454C4B, 0, 0x50454C4B}))
        << "the program's own presses carry its mark, the other client's none";
}

TEST(LinuxDesktop, RequestAccessSwitchesToolkitAccessibilityOn) {
    SKIP_WITHOUT_DESKTOP();
    const auto& session = DesktopSession::get();
    auto setEnabled = [&](bool on) {
        return session.run({"dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                            "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                            "string:org.a11y.Status", "string:IsEnabled",
                            std::string("variant:boolean:") + (on ? "true" : "false")});
    };
    ASSERT_EQ(setEnabled(false), 0);
    {
        DesktopComputer computer;
        EXPECT_EQ(computer.ready()["accessibility"], false);
        const JSON apps = computer.result("listApps");
        EXPECT_FALSE(appNamed(apps, "Widget Factory").contains("windows"))
            << "without access no window is read";
        EXPECT_EQ(computer.request("state", {{"app", "Widget Factory"}})["code"], "accessibility");
        EXPECT_EQ(computer.result("requestAccess"),
                  JSON({{"accessibility", true}, {"screenRecording", true}}));
        EXPECT_EQ(computer.result("status")["accessibility"], true);
        EXPECT_GT(computer.result("state", {{"app", "Widget Factory"}})["count"].get<int>(), 50);
        EXPECT_TRUE(hasLine(computer.child().stderrText(), "switched toolkit accessibility on"))
            << computer.child().stderrText();
    }
    setEnabled(true);
}

// Puts the widget factory in front again, as a user would, when the editor a test opened kept
// the focus: on a loaded machine its window can take it after the program handed it back. The
// handing back itself is checked where the editor is opened in the background.
void frontWidgetFactory(DesktopComputer& computer) {
    int steady = 0;
    for (int attempt = 0; attempt < 60 && steady < 3; ++attempt) {
        const bool front =
            appNamed(computer.result("listApps"), "Widget Factory").value("active", false);
        steady = front ? steady + 1 : 0;
        if (!front && attempt % 20 == 19)
            DesktopSession::get().run(
                {"xdotool", "search", "--name", "Widget Factory", "windowactivate"});
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_EQ(steady, 3) << "the widget factory does not stay in front";
}

TEST(LinuxDesktop, ClickingACheckButtonByIndexTogglesIt) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    // The enabled check buttons, in order. GTK 3 takes "enabled" away from the inconsistent
    // one, which still takes clicks ("sensitive"), but keeps it inconsistent: the off one is
    // the one to toggle.
    const std::regex enabled(R"(^  \[(\d+)\] checkbox "checkbutton" \((on|off)\)$)");
    auto buttons = [&] {
        std::vector<std::pair<int64_t, std::string>> found;
        const JSON state = computer.result("state", {{"app", "Widget Factory"}});
        for (const auto& line : linesOf(state.value("tree", ""))) {
            std::smatch match;
            if (std::regex_search(line, match, enabled))
                found.emplace_back(std::stoll(match[1]), match[2]);
        }
        return found;
    };
    const auto before = buttons();
    const auto off = std::find_if(before.begin(), before.end(),
                                  [](const auto& button) { return button.second == "off"; });
    ASSERT_NE(off, before.end());
    const size_t which = static_cast<size_t>(off - before.begin());
    EXPECT_EQ(computer.result("click", {{"app", "Widget Factory"}, {"index", off->first}}),
              JSON({{"via", "press"}}));
    const auto after = buttons();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[which].second, "on");
    computer.result("click", {{"app", "Widget Factory"}, {"index", after[which].first}});
    EXPECT_EQ(buttons()[which].second, "off");
}

TEST(LinuxDesktop, SetValueAndTypeTextReachAnEntry) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const Found entry = findLine(computer, "Widget Factory", R"(^  \[\d+\] field value="entry"$)");
    ASSERT_GT(entry.index, 0);
    EXPECT_EQ(computer.result(
                  "setValue",
                  {{"app", "Widget Factory"}, {"index", entry.index}, {"value", "set by pelko"}}),
              JSON({{"ok", true}}));
    const Found set = findLine(computer, "Widget Factory",
                               R"(^  \[\d+\] field value="set by pelko"( \(focused\))?$)");
    ASSERT_GT(set.index, 0);
    EXPECT_EQ(computer.result("typeText",
                              {{"app", "Widget Factory"}, {"index", set.index}, {"text", "é€ ok"}}),
              JSON({{"via", "insert"}}));
    const Found typed = findLine(computer, "Widget Factory", R"(^  \[\d+\] field value=".*é€ ok")");
    EXPECT_GT(typed.index, 0) << "the typed text, characters beyond ASCII included, reads back";
    computer.result("setValue",
                    {{"app", "Widget Factory"}, {"index", typed.index}, {"value", "entry"}});
}

TEST(LinuxDesktop, ActionsByNameMoveASlider) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const std::string slider =
        R"re(^  \[\d+\] slider value="(\d+)" actions: increment, decrement$)re";
    const Found before = findLine(computer, "Widget Factory", slider);
    ASSERT_GT(before.index, 0);
    const int value =
        std::stoi(std::regex_replace(before.line, std::regex(".*value=\"(\\d+)\".*"), "$1"));
    EXPECT_EQ(computer.result(
                  "action",
                  {{"app", "Widget Factory"}, {"index", before.index}, {"action", "increment"}}),
              JSON({{"ok", true}}));
    const Found after = findLine(computer, "Widget Factory", slider);
    EXPECT_TRUE(hasLine(after.line, "value=\"" + std::to_string(value + 1) + "\"")) << after.line;
    computer.result("action",
                    {{"app", "Widget Factory"}, {"index", after.index}, {"action", "decrement"}});
    const JSON unknown = computer.request(
        "action", {{"app", "Widget Factory"}, {"index", after.index + 1000}, {"action", "press"}});
    EXPECT_EQ(unknown["code"], "stale");
}

// The vertical scroll bars of an app that can scroll, read through libatspi: current values.
std::vector<double> scrollPositions(const std::string& appName) {
    std::vector<double> positions;
    if (atspi_init() < 0) return positions;
    std::function<void(AtspiAccessible*, int)> walk = [&](AtspiAccessible* object, int depth) {
        GError* error = nullptr;
        if (atspi_accessible_get_role(object, &error) == ATSPI_ROLE_SCROLL_BAR) {
            AtspiStateSet* states = atspi_accessible_get_state_set(object);
            AtspiValue* value = atspi_accessible_get_value_iface(object);
            if (value && atspi_state_set_contains(states, ATSPI_STATE_VERTICAL) &&
                atspi_value_get_maximum_value(value, &error) > 0)
                positions.push_back(atspi_value_get_current_value(value, &error));
            if (value) g_object_unref(value);
            g_object_unref(states);
        }
        g_clear_error(&error);
        const int count = atspi_accessible_get_child_count(object, &error);
        g_clear_error(&error);
        for (int i = 0; i < count && depth < 30; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(object, i, &error);
            g_clear_error(&error);
            if (child) {
                walk(child, depth + 1);
                g_object_unref(child);
            }
        }
    };
    AtspiAccessible* desktop = atspi_get_desktop(0);
    GError* error = nullptr;
    for (int i = 0; i < atspi_accessible_get_child_count(desktop, &error); ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, &error);
        if (!app) continue;
        gchar* name = atspi_accessible_get_name(app, &error);
        if (name && appName == name) walk(app, 0);
        g_free(name);
        g_object_unref(app);
    }
    g_clear_error(&error);
    g_object_unref(desktop);
    return positions;
}

TEST(LinuxDesktop, ScrollingTheTextViewMovesItsScrollBar) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    ASSERT_EQ(scrollPositions("gtk3-widget-factory"), std::vector<double>{0})
        << "one text view that can scroll, at its top";
    const Found text = findLine(computer, "Widget Factory", R"(\] textarea value="Lorem ipsum)");
    ASSERT_GT(text.index, 0);
    const JSON down = computer.result(
        "scroll",
        {{"app", "Widget Factory"}, {"index", text.index}, {"direction", "down"}, {"amount", 3}});
    EXPECT_TRUE(down.contains("via")) << down;
    std::vector<double> moved;
    for (int attempt = 0; attempt < 20; ++attempt) {
        moved = scrollPositions("gtk3-widget-factory");
        if (!moved.empty() && moved[0] > 0) break;
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_GT(moved[0], 0) << "scrolled down";
    computer.result(
        "scroll",
        {{"app", "Widget Factory"},
         {"index", findLine(computer, "Widget Factory", R"(\] textarea value="Lorem ipsum)").index},
         {"direction", "up"},
         {"amount", 30}});
    for (int attempt = 0;
         attempt < 20 && scrollPositions("gtk3-widget-factory") != std::vector<double>{0};
         ++attempt)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(scrollPositions("gtk3-widget-factory"), std::vector<double>{0}) << "and back";
}

TEST(LinuxDesktop, AScreenshotOfTheWindowDecodesAtTheSizeItReports) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const JSON state = computer.result("state", {{"app", "Widget Factory"}});
    const JSON picture =
        computer.result("screenshot", {{"app", "Widget Factory"}, {"maxWidth", 683}});
    EXPECT_EQ(picture["mimeType"], "image/jpeg");
    const double width = state["window"]["width"].get<double>();
    const double height = state["window"]["height"].get<double>();
    EXPECT_EQ(picture["window"], JSON({{"x", state["window"]["x"]},
                                       {"y", state["window"]["y"]},
                                       {"width", width},
                                       {"height", height}}))
        << "the window the state read";
    EXPECT_DOUBLE_EQ(picture["scale"].get<double>(), 683 / width);
    EXPECT_EQ(picture["width"], 683);
    EXPECT_EQ(picture["height"], static_cast<int>(683 / width * height));
    const DecodedPicture decoded = decodePicture(picture.value("data", ""));
    ASSERT_TRUE(decoded.valid());
    EXPECT_EQ(decoded.width, picture["width"].get<int>());
    EXPECT_EQ(decoded.height, picture["height"].get<int>());
    expectWindowNotBlank(decoded);
}

TEST(LinuxDesktop, TheTextEditorTakesKeysBehindAndMenusByPath) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const JSON editor = computer.result("resolve", {{"app", "Mousepad"}, {"launch", true}});
    ASSERT_TRUE(editor.contains("pid")) << editor;
    const pid_t pid = editor["pid"].get<pid_t>();
    frontWidgetFactory(computer);
    const Found text = findLine(computer, "Mousepad", R"(\] textarea)");
    ASSERT_GT(text.index, 0);
    EXPECT_EQ(computer.result(
                  "typeText",
                  {{"app", "Mousepad"}, {"index", text.index}, {"text", "first line\nsecond"}}),
              JSON({{"via", "keysBehind"}}))
        << "keys sent to the editor's window, which stays behind";
    // The editor takes the keys a moment after they were sent (longer on a loaded machine).
    EXPECT_GT(
        awaitLine(computer, {{"app", "Mousepad"}}, R"(textarea value="first line ⏎ second")").index,
        0);
    EXPECT_EQ(appNamed(computer.result("listApps"), "Mousepad")["active"], false);

    EXPECT_EQ(
        computer.result("pressKey", {{"app", "Mousepad"}, {"key", "ctrl+a"}, {"front", true}}),
        JSON({{"via", "front"}, {"front", true}}));
    EXPECT_EQ(computer.result("pressKey", {{"app", "Mousepad"}, {"key", "backspace"}}),
              JSON({{"via", "front"}, {"front", false}}));
    EXPECT_TRUE(
        hasLine(findLine(computer, "Mousepad", R"(\] textarea)").line, R"(textarea( \(|$))"))
        << "select all and delete emptied it";

    EXPECT_EQ(computer.result("menu", {{"app", "Mousepad"}, {"path", {"File", "New"}}}),
              JSON({{"ok", true}, {"via", "press"}}));
    // The editor names its window at once and fills the new tab a moment later.
    std::string tree;
    for (int attempt = 0; attempt < 30 && !hasLine(tree, R"(\] tab "Untitled 2)"); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(100ms);
        tree = computer.result("state", {{"app", "Mousepad"}}).value("tree", "");
    }
    EXPECT_TRUE(hasLine(tree, R"(\] tab "Untitled 2)")) << tree;
    const JSON missing =
        computer.request("menu", {{"app", "Mousepad"}, {"path", {"File", "Teleport"}}});
    EXPECT_EQ(missing["code"], "not-found");
    EXPECT_TRUE(hasLine(missing.value("error", ""),
                        R"(^No menu item "Teleport" there\. The items are: New, .*Quit\.$)"))
        << missing;
    endApp(computer, pid);
}

TEST(LinuxDesktop, KeysTypedInFrontReachTheEditorWhateverTheCharacters) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const JSON editor = computer.result("resolve", {{"app", "Mousepad"}, {"launch", true}});
    ASSERT_TRUE(editor.contains("pid")) << editor;
    frontWidgetFactory(computer);
    const Found text = findLine(computer, "Mousepad", R"(\] textarea)");
    ASSERT_GT(text.index, 0);
    // A line break makes it keys; characters that no key of the layout makes are typed on a
    // key code lent to them for the moment.
    EXPECT_EQ(computer.result("typeText", {{"app", "Mousepad"},
                                           {"index", text.index},
                                           {"text", "Grüße, 5 €\n😀 done"},
                                           {"front", true}}),
              JSON({{"via", "keys"}, {"front", true}}));
    EXPECT_GT(
        awaitLine(computer, {{"app", "Mousepad"}}, R"(textarea value="Grüße, 5 € ⏎ 😀 done")").index,
        0);
    endApp(computer, editor["pid"].get<pid_t>());
}

TEST(LinuxDesktop, AnElementItsAppDestroyedIsGone) {
    SKIP_WITHOUT_DESKTOP();
    DesktopComputer computer;
    const JSON editor = computer.result("resolve", {{"app", "Mousepad"}, {"launch", true}});
    ASSERT_TRUE(editor.contains("pid")) << editor;
    computer.result("menu", {{"app", "Mousepad"}, {"path", {"File", "New"}}});
    const JSON state = computer.result("state", {{"app", "Mousepad"}});
    const std::string tree = state.value("tree", "");
    // The text view of the new tab, the last one.
    const std::regex textArea(R"(\[(\d+)\] textarea)");
    int64_t index = 0;
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), textArea);
         it != std::sregex_iterator(); ++it)
        index = std::stoll((*it)[1]);
    ASSERT_GT(index, 0) << tree;
    EXPECT_TRUE(hasLine(tree, R"(\] tab "Untitled 2" \(selected\))")) << tree;
    // Closing the new tab destroys its text view.
    computer.result("menu", {{"app", "Mousepad"}, {"path", {"File", "Close Tab"}}});
    // The tab goes when the app gets to it; reading the tabs on their own (a region) keeps the
    // window's indexes.
    const int64_t tabs = indexOf(tree, R"(\] tabs$)");
    ASSERT_GT(tabs, 0) << tree;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const JSON part = computer.result("state", {{"app", "Mousepad"}, {"region", tabs}});
        if (!hasLine(part.value("tree", ""), R"(tab "Untitled 2")")) break;
        std::this_thread::sleep_for(50ms);
    }
    const JSON gone = computer.request("click", {{"app", "Mousepad"}, {"index", index}});
    EXPECT_EQ(gone, JSON({{"id", gone["id"]},
                          {"error", "Element [" + std::to_string(index) +
                                        "] is gone (the app redrew its window). Read the app's "
                                        "state again."},
                          {"code", "stale"}}));
    endApp(computer, editor["pid"].get<pid_t>());
}

TEST(LinuxDesktop, APictureOfACoveredWindowShowsTheWindowItself) {
    SKIP_WITHOUT_DESKTOP();
    const DisplayPtr display = openSessionDisplay();
    ASSERT_TRUE(display);
    DesktopComputer computer;
    const JSON before = computer.result("screenshot", {{"app", "Widget Factory"}});
    const DecodedPicture alone = decodePicture(before.value("data", ""));
    ASSERT_TRUE(alone.valid());
    // Mousepad in front, moved over the middle of the widget factory.
    const JSON editor = computer.result("resolve", {{"app", "Mousepad"}, {"launch", true}});
    ASSERT_TRUE(editor.contains("pid"));
    const auto& window = before["window"];
    const int coverX = static_cast<int>(window["x"].get<double>()) + 300;
    const int coverY = static_cast<int>(window["y"].get<double>()) + 200;
    std::string found;
    DesktopSession::get().run({"xdotool", "search", "--pid",
                               std::to_string(editor["pid"].get<int>()), "--name", "Mousepad"},
                              &found);
    const std::string editorWindow = linesOf(found).empty() ? "" : linesOf(found).back();
    ASSERT_FALSE(editorWindow.empty());
    ASSERT_EQ(DesktopSession::get().run({"xdotool", "windowmove", editorWindow,
                                         std::to_string(coverX), std::to_string(coverY)}),
              0);
    ASSERT_EQ(DesktopSession::get().run({"xdotool", "windowactivate", "--sync", editorWindow}), 0);
    std::this_thread::sleep_for(300ms);
    const JSON after = computer.result("screenshot", {{"app", "Widget Factory"}});
    const DecodedPicture covered = decodePicture(after.value("data", ""));
    ASSERT_TRUE(covered.valid());
    ASSERT_EQ(covered.width, alone.width);
    // A patch in the middle of the covered part: as it was in the picture, not as on screen.
    const int x = 400, y = 300, side = 60;
    const auto screen = screenPixels(display.get(), coverX + 100, coverY + 100, side, side);
    double againstPicture = 0, againstScreen = 0;
    for (int dy = 0; dy < side; ++dy) {
        for (int dx = 0; dx < side; ++dx) {
            const auto a = alone.at(x + dx, y + dy), b = covered.at(x + dx, y + dy);
            const uint32_t s = screen[dy * side + dx];
            const int sRGB[3] = {int(s >> 16), int((s >> 8) & 0xFF), int(s & 0xFF)};
            for (int c = 0; c < 3; ++c) {
                againstPicture += std::abs(a[c] - b[c]);
                againstScreen += std::abs(a[c] - sRGB[c]);
            }
        }
    }
    EXPECT_LT(againstPicture, againstScreen / 4)
        << "the covered part shows the widget factory, not the editor in front of it";
    endApp(computer, editor["pid"].get<pid_t>());
}

// Run in a desktop of its own whose X server lacks the Composite extension: the window is read
// from the screen itself.
TEST(LinuxDesktopWithoutComposite, AScreenshotIsStillTheWindowsPicture) {
    SKIP_WITHOUT_DESKTOP();
    const DisplayPtr display = openSessionDisplay();
    ASSERT_TRUE(display);
    int opcode = 0, event = 0, error = 0;
    ASSERT_FALSE(XQueryExtension(display.get(), "Composite", &opcode, &event, &error))
        << "this desktop was meant to run without Composite";
    DesktopComputer computer;
    const JSON picture = computer.result("screenshot", {{"app", "Widget Factory"}});
    const DecodedPicture decoded = decodePicture(picture.value("data", ""));
    ASSERT_TRUE(decoded.valid()) << picture.dump();
    EXPECT_EQ(decoded.width, picture["width"].get<int>());
    EXPECT_EQ(decoded.height, picture["height"].get<int>());
    expectWindowNotBlank(decoded);
}

TEST(LinuxBackendChoice, WithoutASceneOrADesktopTheProgramExitsWithOneLine) {
    ChildOptions options;
    options.unset = {"PELKO_SCENE", "DISPLAY", "WAYLAND_DISPLAY"};
    options.nullStdin = true;
    ChildProcess computer({PELKO_COMPUTER}, options);
    EXPECT_EQ(computer.readToEnd(Timeout{10000}), "") << "nothing on standard output";
    const auto status = computer.waitExit();
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, (pelko::testing::ExitStatus{true, 1, 0}));
    const auto lines = linesOf(computer.stderrText());
    ASSERT_EQ(lines.size(), 1u) << computer.stderrText();
    EXPECT_EQ(lines[0],
              "pelko-computer: no desktop to work on (DISPLAY is not set): run it in an X11 "
              "session whose accessibility bus is up (Debian package at-spi2-core), or set "
              "PELKO_SCENE to a simulated desktop's scene file.");
}

}  // namespace
}  // namespace pelko::computer::testing
