// pelko-computer on a real X11 desktop: applications no one here wrote (GTK's widget factory,
// Mousepad), read through the accessibility bus, with the banner on the X screen and Escape
// pressed by another X client. All run in the one desktop session this program runs in.
// GoogleTest comes before the X headers, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
// clang-format on
#include <signal.h>

#include <regex>
#include <thread>

#include "desktop-session.h"
#include "linux/key-mapping.h"
#include "linux/linux-application.h"
#include "linux/linux-events.h"

namespace pelko::computer::testing {
namespace {

using namespace std::chrono_literals;
using pelko::testing::Timeout;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool hasLine(const std::string& tree, const std::string& pattern) {
    const std::regex wanted(pattern);
    for (const auto& line : linesOf(tree)) {
        if (std::regex_search(line, wanted)) return true;
    }
    return false;
}

// The index of the first line matching `pattern`; 0 when none does.
int64_t indexOf(const std::string& tree, const std::string& pattern) {
    const std::regex wanted(pattern), index(R"(\[(\d+)\])");
    for (const auto& line : linesOf(tree)) {
        std::smatch number;
        if (std::regex_search(line, wanted) && std::regex_search(line, number, index))
            return std::stoll(number[1]);
    }
    return 0;
}

struct DisplayClose {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayClose>;

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
        kill(left["pid"].get<pid_t>(), SIGTERM);

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
    kill(pid, SIGTERM);
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
