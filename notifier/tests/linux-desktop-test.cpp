// The parts of the X11 backend that need no X server: monitors and work areas as screens in
// points, the desktop's scale, the URL opener, and the main loop's order of tasks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "child-process.h"
#include "linux/event-loop.h"
#include "linux/url-opener.h"
#include "linux/x11-screens.h"

namespace pelko::notifier {
namespace {

using pelko::testing::ScopedTempDir;

TEST(X11Screens, PrimaryMonitorComesFirstWithItsPartOfTheWorkArea) {
    // Two monitors side by side, the primary one on the right; a 30-pixel panel along the top
    // of both, as the window manager reports it.
    const ScreenSpace space{1, 1200};
    std::vector<Monitor> monitors{{{0, 0, 1280, 1024}, false}, {{1280, 0, 1920, 1200}, true}};
    std::vector<Screen> screens = screensFor(monitors, PixelRect{0, 30, 3200, 1170}, space);
    ASSERT_EQ(screens.size(), 2u);
    // Points have y upward from the bottom of the X screen, 1200 pixels down.
    EXPECT_EQ(screens[0].frame, (Rect{1280, 0, 1920, 1200}));
    EXPECT_EQ(screens[0].visibleFrame, (Rect{1280, 0, 1920, 1170}));
    EXPECT_EQ(screens[1].frame, (Rect{0, 176, 1280, 1024}));
    EXPECT_EQ(screens[1].visibleFrame, (Rect{0, 176, 1280, 994}));
}

TEST(X11Screens, WithoutAWorkAreaOnAMonitorTheWholeMonitorIsVisible) {
    const ScreenSpace space{1, 1200};
    std::vector<Monitor> monitors{{{0, 0, 960, 1200}, false}, {{960, 0, 960, 1200}, false}};
    auto none = screensFor(monitors, std::nullopt, space);
    ASSERT_EQ(none.size(), 2u);
    EXPECT_EQ(none[0].frame, (Rect{0, 0, 960, 1200}));  // no primary: RandR's order
    EXPECT_EQ(none[0].visibleFrame, none[0].frame);
    // A work area that misses the second monitor leaves it whole.
    auto partial = screensFor(monitors, PixelRect{0, 0, 960, 1100}, space);
    EXPECT_EQ(partial[0].visibleFrame, (Rect{0, 100, 960, 1100}));
    EXPECT_EQ(partial[1].visibleFrame, partial[1].frame);
}

TEST(X11Screens, PointsAndPixelsRoundTripAtEveryScale) {
    for (double scale : {1.0, 2.0}) {
        const ScreenSpace space{scale, 1200};
        const Rect card{380, 536, 200, 32};
        PixelRect pixels = space.toPixels(card);
        EXPECT_EQ(pixels,
                  (PixelRect{static_cast<int>(380 * scale), static_cast<int>(1200 - 568 * scale),
                             static_cast<int>(200 * scale), static_cast<int>(32 * scale)}))
            << scale;
        EXPECT_EQ(space.toPoints(pixels), card) << scale;
        EXPECT_EQ(space.toPoints(pixels.x, pixels.y), (Point{card.x, card.maxY()})) << scale;
    }
    // Fractional frames of an animation: edges round, so the size never grows a pixel apart.
    const ScreenSpace space{1, 1200};
    EXPECT_EQ(space.toPixels({10.4, 100.6, 400, 64}), (PixelRect{10, 1035, 400, 64}));
    EXPECT_EQ(space.toPixels({10.6, 100.4, 400, 64}), (PixelRect{11, 1036, 400, 64}));
}

TEST(X11Screens, DesktopScaleIsAWholeNumberFromOneToEight) {
    EXPECT_EQ(desktopScale(nullptr), 1);
    EXPECT_EQ(desktopScale(""), 1);
    EXPECT_EQ(desktopScale("2"), 2);
    EXPECT_EQ(desktopScale("8"), 8);
    for (const char* wrong : {"0", "9", "1.5", "two", "2x", "-2"})
        EXPECT_EQ(desktopScale(wrong), 1) << wrong;
}

TEST(URLOpener, TheVariableReplacesXdgOpen) {
    EXPECT_EQ(urlOpener(nullptr), "xdg-open");
    EXPECT_EQ(urlOpener(""), "xdg-open");
    EXPECT_EQ(urlOpener("/tmp/record-url"), "/tmp/record-url");
}

TEST(URLOpener, StartsTheOpenerWithoutWaitingForIt) {
    ScopedTempDir folder;
    const auto gate = folder / "gate";
    const auto seen = folder / "seen";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    // The opener records its argument, then blocks until the test opens the gate.
    const auto opener = folder / "opener";
    pelko::testing::writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" > " + seen.string() +
                                          ".part\nmv " + seen.string() + ".part " + seen.string() +
                                          "\nread line < " + gate.string() + "\n");
    ::chmod(opener.c_str(), 0700);

    const std::string url = "https://example.com/a?b=c&d=%20";
    ASSERT_TRUE(startDetached(opener.string(), url));
    // It returned while the opener still waits at the gate.
    for (int i = 0; i < 1000 && !std::filesystem::exists(seen); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(pelko::testing::readFile(seen), url + "\n");
    int gateFd = ::open(gate.c_str(), O_WRONLY);  // lets the opener finish
    ASSERT_GE(gateFd, 0);
    ::close(gateFd);
}

TEST(URLOpener, AnOpenerThatCannotStartIsReported) {
    ScopedTempDir folder;
    EXPECT_FALSE(startDetached((folder / "missing").string(), "https://example.com"));
    EXPECT_FALSE(startDetached("pelko-no-such-opener", "https://example.com"));
    pelko::testing::writeFile(folder / "not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(startDetached((folder / "not-executable").string(), "https://example.com"));
    // Found in PATH, by name, as xdg-open is.
    EXPECT_TRUE(startDetached("true", "https://example.com"));
}

TEST(EventLoop, TasksRunInTimeOrderAsVirtualTimePasses) {
    VirtualClock clock;
    EventLoop loop(clock);
    std::vector<std::string> ran;
    int turns = 0;
    loop.watch(-1, [&] { ++turns; });
    loop.postAfter(seconds(0.5), [&] { ran.push_back("late"); });
    loop.postAfter(seconds(0.1), [&] {
        ran.push_back("early");
        loop.postAfter(seconds(0.1), [&] { ran.push_back("chained at 0.2"); });
    });
    loop.post([&] { ran.push_back("now"); });
    loop.advance(seconds(0.3));
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "early", "chained at 0.2"}));
    EXPECT_GT(turns, 0);
    loop.advance(seconds(0.2));
    EXPECT_EQ(ran.back(), "late");
    EXPECT_EQ(clock.elapsed(), seconds(0.5));
}

TEST(EventLoop, QuitEndsTheLoopAndKeepsTheFirstStatus) {
    VirtualClock clock;
    EventLoop loop(clock);
    bool ranAfterQuit = false;
    loop.post([&] { loop.quit(0); });
    loop.post([&] { ranAfterQuit = true; });
    loop.runPending();
    loop.quit(1);
    EXPECT_EQ(loop.exitStatus(), 0);
    EXPECT_FALSE(ranAfterQuit);
}

TEST(EventLoop, PostsFromAnotherThreadWakeTheRealLoop) {
    RealClock clock;
    EventLoop loop(clock);
    std::atomic<int> onLoopThread{0};
    const auto loopThread = std::this_thread::get_id();
    std::thread other([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&] { onLoopThread += std::this_thread::get_id() == loopThread; });
        loop.post([&] { loop.quit(7); });
    });
    EXPECT_EQ(loop.run(), 7);
    other.join();
    EXPECT_EQ(onLoopThread.load(), 100);
}

}  // namespace
}  // namespace pelko::notifier
