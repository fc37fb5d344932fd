// The agent's own desktop in parts: its command line, the environment of what runs inside it,
// the X server's command line, and the processes it owns (started, ended in order, found again
// when they were left to it as orphans).
#include "own-desktop/own-desktop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "child-process.h"
#include "own-desktop/command-line.h"
#include "own-desktop/processes.h"

namespace pelko::computer::own_desktop {
namespace {

using Arguments = std::vector<std::string>;

TEST(OwnDesktopCommandLine, TakesTheDesktopsOptionsAndLeavesTheRestForTheProgramInside) {
    struct Case {
        Arguments arguments;
        bool wanted;
        OwnDesktopOptions options;
        Arguments passOn;
    };
    const Case cases[] = {
        {{}, false, {}, {}},
        {{"--mcp"}, false, {}, {}},
        {{"--own-desktop"}, true, {false, {1280, 800}}, {}},
        {{"--own-desktop", "--headless"}, true, {true, {1280, 800}}, {}},
        {{"--size", "640x480", "--own-desktop"}, true, {false, {640, 480}}, {}},
        {{"--mcp", "--own-desktop", "--size=1024x768", "--headless", "--later"},
         true,
         {true, {1024, 768}},
         {"--mcp", "--later"}},
        // The last size given wins, as with most programs.
        {{"--own-desktop", "--size", "800x600", "--size", "900x700"},
         true,
         {false, {900, 700}},
         {}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(::testing::PrintToString(item.arguments));
        const auto command = ownDesktopCommand(item.arguments);
        ASSERT_EQ(command.has_value(), item.wanted);
        if (!command) continue;
        EXPECT_EQ(command->options, item.options);
        EXPECT_EQ(command->passOn, item.passOn);
    }
}

TEST(OwnDesktopCommandLine, RefusesWhatItCannotRunAndSaysWhy) {
    const std::string usage = "pelko-computer --own-desktop [--headless] [--size WxH]";
    const std::pair<Arguments, std::string> cases[] = {
        {{"--headless"}, "--headless goes with --own-desktop: " + usage},
        {{"--mcp", "--size", "800x600"}, "--size goes with --own-desktop: " + usage},
        {{"--own-desktop", "--size"}, "--size needs the screen's size, as in --size 1280x800."},
        {{"--own-desktop", "--size", "big"},
         "--size takes a width and a height in pixels from 64 to 16384, as in --size 1280x800, "
         "not \"big\"."},
        {{"--own-desktop", "--size=0x600"},
         "--size takes a width and a height in pixels from 64 to 16384, as in --size 1280x800, "
         "not \"0x600\"."},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        try {
            ownDesktopCommand(arguments);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}

TEST(OwnDesktopCommandLine, ScreenSizesAreTwoWholeNumbersInRange) {
    const std::pair<std::string, std::optional<ScreenSize>> cases[] = {
        {"1280x800", ScreenSize{1280, 800}},
        {"64x64", ScreenSize{64, 64}},
        {"16384x16384", ScreenSize{16384, 16384}},
        {"63x800", std::nullopt},
        {"1280x16385", std::nullopt},
        {"1280X800", std::nullopt},
        {"1280x", std::nullopt},
        {"x800", std::nullopt},
        {"1280x800x24", std::nullopt},
        {"+1280x800", std::nullopt},
        {" 1280x800", std::nullopt},
        {"-640x480", std::nullopt},
        {"99999999999x800", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, size] : cases) EXPECT_EQ(parseScreenSize(text), size) << text;
}

TEST(OwnDesktopEnvironment, ProgramsInsideUseItsDisplayAndBusesAndStayOffTheUsersWayland) {
    const Environment user = {
        {"HOME", "/home/ada"},
        {"LANG", "fr_FR.UTF-8"},
        {"PATH", "/usr/bin:/bin"},
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
        {"DISPLAY", ":0"},
        {"WAYLAND_DISPLAY", "wayland-0"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus"},
        {"AT_SPI_BUS_ADDRESS", "unix:path=/run/user/1000/at-spi/bus_0"},
        {"NO_AT_BRIDGE", "1"},
        {"SESSION_MANAGER", "local/ada:@/tmp/.ICE-unix/1234"},
        {"GDK_BACKEND", "wayland"},
        {"PELKO_SCENE", "/tmp/scene.json"},
        {"XAUTHORITY", "/run/user/1000/.mutter-Xwaylandauth.X1"},
    };
    const Environment inside =
        desktopEnvironment(user, ":5", "unix:path=/run/user/1000/pelko-desktop.x/bus");
    const Environment expected = {
        {"HOME", "/home/ada"},
        {"LANG", "fr_FR.UTF-8"},
        {"PATH", "/usr/bin:/bin"},
        {"XDG_RUNTIME_DIR", "/run/user/1000"},
        {"XAUTHORITY", "/run/user/1000/.mutter-Xwaylandauth.X1"},
        {"DISPLAY", ":5"},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/pelko-desktop.x/bus"},
        {"XDG_SESSION_TYPE", "x11"},
        {"GDK_BACKEND", "x11"},
        {"QT_QPA_PLATFORM", "xcb"},
        {"CLUTTER_BACKEND", "x11"},
        {"SDL_VIDEODRIVER", "x11"},
        {"MOZ_ENABLE_WAYLAND", "0"},
        {"ELECTRON_OZONE_PLATFORM_HINT", "x11"},
    };
    EXPECT_EQ(inside, expected);
    EXPECT_EQ(desktopEnvironment(user, ":5", "").count("DBUS_SESSION_BUS_ADDRESS"), 0u);
}

TEST(OwnDesktopXServer, AResizeableWindowOrAHeadlessScreenOfTheAskedSize) {
    EXPECT_EQ(xServerArguments({false, {1000, 700}}),
              Arguments({"Xephyr", "-displayfd", "3", "-screen", "1000x700", "-resizeable",
                         "-no-host-grab", "-title", "Pelko: the agent's desktop", "-nolisten",
                         "tcp", "-noreset"}));
    EXPECT_EQ(xServerArguments({true, {640, 480}}),
              Arguments({"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten",
                         "tcp", "-noreset"}));
}

TEST(OwnDesktopProcesses, DescendantsAreFoundThroughEveryGeneration) {
    // pid → parent: 10 has 11 and 12; 12 has 13; 20 is another tree; 30 and 31 name each other
    // as parents (a table read while processes came and went).
    const std::map<pid_t, pid_t> parents = {{10, 1}, {11, 10}, {12, 10}, {13, 12},
                                            {20, 1}, {21, 20}, {30, 31}, {31, 30}};
    EXPECT_EQ(descendantsIn(parents, 10), std::set<pid_t>({11, 12, 13}));
    EXPECT_EQ(descendantsIn(parents, 12), std::set<pid_t>({13}));
    EXPECT_EQ(descendantsIn(parents, 13), std::set<pid_t>());
    EXPECT_EQ(descendantsIn(parents, 1), std::set<pid_t>({10, 11, 12, 13, 20, 21}));
    EXPECT_EQ(descendantsIn(parents, 30), std::set<pid_t>({31}));
}

TEST(OwnDesktopProcesses, ProgramsAreFoundOnThePathThenInTheExtraFolders) {
    pelko::testing::ScopedTempDir first, second, extra;
    const auto makeProgram = [](const std::filesystem::path& path, bool executable) {
        pelko::testing::writeFile(path, "#!/bin/sh\n");
        std::filesystem::permissions(path, executable ? std::filesystem::perms::owner_all
                                                      : std::filesystem::perms::owner_read);
    };
    makeProgram(first / "tool", false);  // not executable: passed over
    makeProgram(second / "tool", true);
    makeProgram(extra / "launcher", true);
    std::filesystem::create_directory(first / "folder");
    const std::string path = first.path().string() + ":" + second.path().string();
    EXPECT_EQ(findProgram("tool", path), second / "tool");
    EXPECT_EQ(findProgram("launcher", path, {extra.path()}), extra / "launcher");
    EXPECT_EQ(findProgram("folder", path), std::nullopt);
    EXPECT_EQ(findProgram("missing", path, {extra.path()}), std::nullopt);
    EXPECT_EQ(findProgram((second / "tool").string(), ""), second / "tool");
}

Launch shell(const std::string& script) {
    return {.arguments = {"sh", "-c", script}, .environment = currentEnvironment()};
}

// A program started with a pipe as its descriptor 3, and what it wrote there up to the pipe's
// end or `count` bytes.
struct Reported {
    OwnedProcess process;
    std::string text;
};
Reported startReporting(Launch launch, Clock& clock, size_t count) {
    auto made = makePipe();
    if (!made) throw std::runtime_error(made.error().describe());
    Pipe pipe = std::move(made).take();
    launch.descriptor3 = pipe.writeEnd.get();
    OwnedProcess process = OwnedProcess::start(launch, clock);
    pipe.writeEnd.reset();
    std::string text(count, '\0');
    const auto got = readExactly(pipe.readEnd.get(), text.data(), count);
    text.resize(got ? got.value() : 0);
    return {std::move(process), text};
}

TEST(OwnDesktopProcesses, AProgramIsHandedItsDescriptorLogAndEnvironment) {
    RealClock clock;
    pelko::testing::ScopedTempDir folder;
    Launch launch = shell("echo \"$GREETING\" >&3; echo out; echo err >&2; exit 3");
    launch.environment["GREETING"] = "hello from inside";
    launch.log = folder / "part.log";
    auto [process, text] = startReporting(launch, clock, 64);
    EXPECT_EQ(text, "hello from inside\n");
    ASSERT_TRUE(waitFor(clock, seconds(10), [&] { return process.ending().has_value(); }));
    EXPECT_EQ(process.ending()->code(), 3);
    EXPECT_EQ(process.ending()->describe(), "status 3");
    EXPECT_EQ(pelko::testing::readFile(folder / "part.log"), "out\nerr\n");
}

TEST(OwnDesktopProcesses, ProgramsThatAreNotThereOrCannotRunAreStartFailures) {
    RealClock clock;
    pelko::testing::ScopedTempDir folder;
    pelko::testing::writeFile(folder / "broken", "not a program\n");
    std::filesystem::permissions(folder / "broken", std::filesystem::perms::owner_all);
    const std::pair<std::string, std::string> cases[] = {
        {"pelko-no-such-program", "pelko-no-such-program is not installed"},
        {(folder / "broken").string(),
         "cannot run " + (folder / "broken").string() + ": Exec format error"},
    };
    for (const auto& [program, message] : cases) {
        try {
            OwnedProcess::start({.arguments = {program}, .environment = currentEnvironment()},
                                clock);
            ADD_FAILURE() << program << " started";
        } catch (const StartFailure& failure) {
            EXPECT_EQ(failure.what(), message);
        }
    }
}

TEST(OwnDesktopProcesses, EndingAsksFirstAndKillsWhatStays) {
    RealClock clock;
    OwnedProcess polite = OwnedProcess::start(shell("exec sleep 60"), clock);
    EXPECT_EQ(polite.end(seconds(10)).describe(), "signal 15 (Terminated)");
    // A program that ignores the request is killed once the grace period is over.
    auto [stubborn, ready] =
        startReporting(shell("trap '' TERM; echo >&3; while :; do sleep 1; done"), clock, 1);
    ASSERT_EQ(ready, "\n");  // its trap is set
    EXPECT_EQ(stubborn.end(seconds(0.3)).describe(), "signal 9 (Killed)");
    EXPECT_FALSE(isAlive(stubborn.pid()));
}

TEST(OwnDesktopProcesses, OrphansComeToThisProcessAndAreEndedWithTheRest) {
    // As pelko-computer --own-desktop does, so that apps started detached stay within reach.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    RealClock clock;
    // The middle shell starts a detached sleeper and leaves at once, as app launchers do.
    auto [parent, number] = startReporting(
        shell("sh -c 'setsid sleep 60 3>&- & echo $! >&3'; exec sleep 60 3>&-"), clock, 32);
    ASSERT_FALSE(number.empty());
    const pid_t orphan = std::stoi(number);
    std::set<pid_t> below;
    ASSERT_TRUE(waitFor(clock, seconds(10),
                        [&] {
                            below = descendantsOf(getpid());
                            return below.count(orphan) && below.count(parent.pid());
                        }))
        << "the detached sleeper " << orphan << " is not below this process";
    endProcesses(below, seconds(5), clock);
    for (const pid_t pid : below) EXPECT_FALSE(isAlive(pid)) << pid;
    EXPECT_TRUE(parent.ending().has_value());
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace pelko::computer::own_desktop
