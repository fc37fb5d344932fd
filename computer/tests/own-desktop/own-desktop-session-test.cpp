// pelko-computer --own-desktop through the binary: the agent's desktop headless, and as a window
// on the user's screen (an X11 one, and mutter's Wayland one with XWayland), where the user
// watches the agent type into the text editor, clicks and types into it too, presses Escape to
// stop the agent and closes the window; every process the desktop started ends with it.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
// clang-format on
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

#include "command-line.h"
#include "decoded-picture.h"
#include "desktop-session.h"
#include "installed.h"
#include "outer-screen.h"

namespace pelko::computer::testing {
namespace {

using namespace std::chrono_literals;
using pelko::testing::ExitStatus;
using pelko::testing::Timeout;
using pelko::testing::waitUntil;

const std::string desktopEnded = "the agent's desktop and everything started in it have ended.";

ChildOptions programOptions() {
    ChildOptions options;
    options.unset = {"PELKO_SCENE", "NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"};
    return options;
}

// A process as it was seen: its number and when it started, so that a number used again by a
// later process is not taken for it.
struct SeenProcess {
    pid_t pid;
    std::string startTime;
    std::string name;
};

std::string statField(pid_t pid, size_t field) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return "";
    const auto close = line.rfind(')');
    std::istringstream fields(line.substr(close + 2));
    std::string value;
    // Fields after the name count from 3 (the state).
    for (size_t i = 3; i <= field && fields >> value; ++i) {
    }
    return value;
}

std::string commandName(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

// Every process below `root`, read from /proc (children, their children, ...).
std::vector<SeenProcess> processesBelow(pid_t root) {
    std::map<pid_t, std::vector<pid_t>> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string parent = statField(std::stoi(name), 4);
        if (!parent.empty()) children[std::stoi(parent)].push_back(std::stoi(name));
    }
    std::vector<SeenProcess> seen;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t next = pending.back();
        pending.pop_back();
        for (const pid_t child : children[next]) {
            seen.push_back({child, statField(child, 22), commandName(child)});
            pending.push_back(child);
        }
    }
    return seen;
}

// The processes of `seen` that still run (a zombie has ended).
std::vector<std::string> stillRunning(const std::vector<SeenProcess>& seen) {
    std::vector<std::string> running;
    for (const auto& process : seen) {
        if (statField(process.pid, 22) == process.startTime && statField(process.pid, 3) != "Z")
            running.push_back(process.name + " " + std::to_string(process.pid));
    }
    return running;
}

// What a runtime folder holds, less what every session of the user has there anyway and its
// apps share (dconf's change flag, D-Bus's service folder).
std::set<std::string> entriesOf(const std::filesystem::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    names.erase("dconf");
    names.erase("dbus-1");
    return names;
}

// The agent's desktop, as `pelko-computer --own-desktop ARGUMENTS` runs it.
class AgentDesktop {
  public:
    explicit AgentDesktop(const std::vector<std::string>& arguments,
                          const ChildOptions& options = programOptions())
        : computer_(arguments, options) {
        const std::regex line(R"(the agent's desktop is display (:\d+))");
        waitUntil([&] {
            std::smatch found;
            const std::string text = computer_.child().stderrText();
            if (!std::regex_search(text, found, line)) return false;
            display_ = found[1];
            return true;
        });
        // Everything started so far, seen again at the end.
        seen_ = processesBelow(computer_.child().pid());
    }
    DesktopComputer& computer() { return computer_; }
    ChildProcess& process() { return computer_.child(); }
    /// The desktop's display (":5"); empty when the program never named it.
    const std::string& display() const { return display_; }
    /// Notes the processes started since.
    void lookAgain() {
        for (auto& process : processesBelow(computer_.child().pid())) seen_.push_back(process);
    }
    const std::vector<SeenProcess>& seen() const { return seen_; }

  private:
    DesktopComputer computer_;
    std::string display_;
    std::vector<SeenProcess> seen_;
};

// Whether `path` is a socket nobody listens on. (Another test's X server may have taken the
// display's number since, and with it the socket's name.)
bool staleSocket(const std::string& path) {
    if (!std::filesystem::exists(path)) return false;
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool refused =
        connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    close(probe);
    return refused;
}

// Once the program has ended: it wrote `line` last, and nothing it started is left.
void expectEverythingEnded(AgentDesktop& desktop, const ExitStatus& status,
                           const std::string& line) {
    const auto ended = desktop.process().waitExit(Timeout{30000});
    ASSERT_TRUE(ended) << "still running; " << desktop.process().stderrText();
    EXPECT_EQ(*ended, status);
    const std::string text = desktop.process().stderrText();
    EXPECT_NE(text.find("pelko-computer: " + line + "\n"), std::string::npos) << text;
    EXPECT_EQ(stillRunning(desktop.seen()), std::vector<std::string>());
    ASSERT_FALSE(desktop.display().empty());
    EXPECT_FALSE(staleSocket("/tmp/.X11-unix/X" + desktop.display().substr(1)))
        << "the X server left its socket";
}

// The index of the editor's text area in a state read, and that line.
std::pair<int64_t, std::string> textArea(DesktopComputer& computer) {
    const std::string tree =
        computer.result("state", {{"app", "Mousepad"}, {"launch", false}}).value("tree", "");
    const std::regex wanted(R"(\[(\d+)\] textarea.*)");
    std::smatch found;
    if (!std::regex_search(tree, found, wanted)) return {0, tree};
    return {std::stoll(found[1]), found[0]};
}

TEST(OwnDesktopHeadless, AppsOpenInsideAndEverythingEndsWithTheInput) {
    pelko::testing::ScopedTempDir runtime;
    ChildOptions options = programOptions();
    options.environment["XDG_RUNTIME_DIR"] = runtime.path().string();
    options.unset.push_back("DISPLAY");
    options.unset.push_back("WAYLAND_DISPLAY");
    AgentDesktop desktop({"--own-desktop", "--headless", "--size", "1024x768"}, options);
    DesktopComputer& computer = desktop.computer();
    EXPECT_EQ(computer.ready()["accessibility"], true);
    EXPECT_EQ(computer.result("listApps"), JSON({{"apps", JSON::array()}}))
        << "only the apps of its own desktop";
    const JSON editor = computer.result("resolve", {{"app", "mousepad"}, {"launch", true}});
    EXPECT_EQ(editor["name"], "Mousepad");
    ASSERT_TRUE(waitUntil([&] { return textArea(computer).first > 0; }, 20000ms));
    desktop.lookAgain();
    std::vector<std::string> names;
    for (const auto& process : desktop.seen()) names.push_back(process.name);
    for (const auto* part : {"Xvfb", "dbus-daemon", "openbox", "at-spi-bus-laun", "at-spi2-registr",
                             "pelko-computer", "mousepad"})
        EXPECT_NE(std::find(names.begin(), names.end(), part), names.end()) << part;

    desktop.process().closeStdin();
    expectEverythingEnded(desktop, {true, 0, 0}, "the input ended; " + desktopEnded);
    EXPECT_EQ(entriesOf(runtime.path()), std::set<std::string>())
        << "the desktop's folder and the apps' sockets are gone";
}

TEST(OwnDesktopHeadless, ASignalEndsEverythingAndThenTheProgram) {
    ChildOptions options = programOptions();
    options.unset.push_back("DISPLAY");
    AgentDesktop desktop({"--own-desktop", "--headless"}, options);
    EXPECT_EQ(desktop.computer().ready()["event"], "ready");
    desktop.process().signal(SIGTERM);
    expectEverythingEnded(desktop, {false, -1, SIGTERM}, "stopped by SIGTERM; " + desktopEnded);
}

TEST(OwnDesktopHeadless, AnXServerThatDiesTakesTheDesktopWithIt) {
    ChildOptions options = programOptions();
    options.unset.push_back("DISPLAY");
    AgentDesktop desktop({"--own-desktop", "--headless"}, options);
    EXPECT_EQ(desktop.computer().ready()["event"], "ready");
    const auto server = std::find_if(desktop.seen().begin(), desktop.seen().end(),
                                     [](const SeenProcess& seen) { return seen.name == "Xvfb"; });
    ASSERT_NE(server, desktop.seen().end());
    kill(server->pid, SIGKILL);
    expectEverythingEnded(desktop, {true, 1, 0},
                          "the agent's desktop's X server ended unexpectedly; " + desktopEnded);
}

TEST(OwnDesktopCommandLine, WithoutAScreenOrWithABadSizeItSaysWhatToDo) {
    // Through the binary: what each command line prints, on which stream, and the status.
    const std::string usage = commandLineUsage;
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"--own-desktop"},
         1,
         "",
         "pelko-computer: the agent's desktop did not start: DISPLAY is not set, so there is no "
         "screen to show its window on: run it in your desktop session (on Wayland, XWayland "
         "provides DISPLAY), or add --headless.\n"},
        {{"--own-desktop", "--size", "10x10"},
         2,
         "",
         "pelko-computer: --size takes a width and a height in pixels from 64 to 16384, as in "
         "--size 1280x800, not \"10x10\".\n" + usage},
        {{"--headless"},
         2,
         "",
         "pelko-computer: --headless goes with --own-desktop: pelko-computer --own-desktop "
         "[--headless] [--size WxH]\n" + usage},
        {{"--mcp", "--verbose"}, 2, "", "pelko-computer: unknown argument \"--verbose\".\n" + usage},
        {{"--own-desktop", "--headless", "x"}, 2, "", "pelko-computer: unknown argument \"x\".\n" + usage},
        {{"--mcp", "--version"}, 0, std::string("pelko-computer ") + pelkoVersion + "\n", ""},
        {{"--help", "--bogus"}, 0, usage, ""},
    };
    for (const auto& item : cases) {
        ChildOptions options = programOptions();
        options.unset.push_back("DISPLAY");
        options.nullStdin = true;
        std::vector<std::string> argv{PELKO_COMPUTER};
        argv.insert(argv.end(), item.arguments.begin(), item.arguments.end());
        ChildProcess program(argv, options);
        EXPECT_EQ(program.readToEnd(), item.out);
        EXPECT_EQ(program.waitExit(), (ExitStatus{true, item.status, 0}));
        EXPECT_EQ(program.stderrText(), item.err);
    }
}

// How much of `a` and `b` (same size) is the same, pixel for pixel.
double sameShare(cairo_surface_t* a, cairo_surface_t* b) {
    const int width = cairo_image_surface_get_width(a), height = cairo_image_surface_get_height(a);
    if (width != cairo_image_surface_get_width(b) || height != cairo_image_surface_get_height(b))
        return 0;
    long same = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            same += (pelko::testing::pixelAt(a, x, y) & 0xFFFFFF) ==
                    (pelko::testing::pixelAt(b, x, y) & 0xFFFFFF);
    }
    return static_cast<double>(same) / (static_cast<double>(width) * height);
}

// The mean difference of the window's picture from what the screen shows at (x, y).
double meanDifference(const DecodedPicture& picture, cairo_surface_t* screen, int x, int y) {
    double total = 0;
    long count = 0;
    for (int row = 0; row < picture.height; ++row) {
        for (int column = 0; column < picture.width; ++column) {
            const uint32_t pixel = pelko::testing::pixelAt(screen, x + column, y + row);
            const auto rgb = picture.at(column, row);
            total += std::abs(rgb[0] - static_cast<int>(pixel >> 16 & 0xFF)) +
                     std::abs(rgb[1] - static_cast<int>(pixel >> 8 & 0xFF)) +
                     std::abs(rgb[2] - static_cast<int>(pixel & 0xFF));
            count += 3;
        }
    }
    return count ? total / count : 255;
}

// The size of the display's screen as its X server has it now.
std::pair<int, int> screenSize(Display* display) {
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(display, DefaultRootWindow(display), &root, &x, &y, &width, &height, &border,
                 &depth);
    return {static_cast<int>(width), static_cast<int>(height)};
}

TEST(OwnDesktopOnScreen, TheUserWatchesTakesOverStopsTheAgentAndClosesTheWindow) {
    if (const auto reason = OuterScreen::unavailable(); !reason.empty()) GTEST_SKIP() << reason;
    OuterScreen screen;
    const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
    const auto runtimeBefore = entriesOf(runtimeFolder ? runtimeFolder : "/nonexistent");
    AgentDesktop desktop({"--own-desktop", "--size", "1000x700"});
    DesktopComputer& computer = desktop.computer();
    ASSERT_EQ(computer.ready()["event"], "ready") << desktop.process().stderrText();
    EXPECT_NE(desktop.process().stderrText().find(
                  "pelko-computer: the agent's desktop is display " + desktop.display() +
                  ", shown in a window on " + std::getenv("DISPLAY") + ".\n"),
              std::string::npos)
        << desktop.process().stderrText();

    // The agent opens the editor inside and types into it.
    const JSON editor = computer.result("resolve", {{"app", "mousepad"}, {"launch", true}});
    ASSERT_EQ(editor["name"], "Mousepad");
    int64_t index = 0;
    ASSERT_TRUE(waitUntil([&] { return (index = textArea(computer).first) > 0; }, 20000ms));
    EXPECT_EQ(computer
                  .result("typeText",
                          {{"app", "Mousepad"}, {"index", index}, {"text", "first line\nsecond"}})
                  .value("landed", true),
              true);
    // The editor may still be taking the last keys when the reply comes, on a busy machine.
    std::string line;
    EXPECT_TRUE(waitUntil([&] {
        line = textArea(computer).second;
        return line.find(R"(value="first line ⏎ second")") != std::string::npos;
    })) << line;
    const JSON shot = computer.result("screenshot", {{"app", "Mousepad"}});
    const DecodedPicture picture = decodePicture(shot.value("data", ""));
    ASSERT_TRUE(picture.valid());
    ASSERT_EQ(shot["scale"], 1);
    const JSON& frame = shot["window"];

    // The user sees the desktop in its window on the screen, the editor inside.
    const auto window = screen.findWindow("Pelko: the agent's desktop");
    ASSERT_TRUE(window);
    EXPECT_EQ(std::pair(window->width, window->height), std::pair(1000, 700));
    {
        Display* inner = XOpenDisplay(desktop.display().c_str());
        ASSERT_NE(inner, nullptr);
        SurfacePtr shown;
        double same = 0;
        // The window shows what the desktop's screen holds, once it has drawn it.
        waitUntil([&] {
            shown = screen.picture(*window);
            same = sameShare(shown.get(), pelko::testing::grabScreen(inner).get());
            return same > 0.99;
        });
        EXPECT_GT(same, 0.99);
        EXPECT_LT(meanDifference(picture, shown.get(), frame["x"], frame["y"]), 6)
            << "the editor's picture is where the window shows it";
        // The user makes the window smaller: the desktop's screen follows.
        ASSERT_TRUE(screen.resize(*window, 900, 640));
        EXPECT_TRUE(waitUntil([&] { return screenSize(inner) == std::pair(900, 640); }));
        XCloseDisplay(inner);
    }

    // The user takes over: the editor's caret is put at the start by the agent, the user clicks
    // below the text (the caret goes to its end) and types there.
    EXPECT_TRUE(computer.request("pressKey", {{"app", "Mousepad"}, {"key", "ctrl+home"}})
                    .contains("result"));
    const int centreX = frame["x"].get<int>() + frame["width"].get<int>() / 2;
    const int centreY = frame["y"].get<int>() + frame["height"].get<int>() * 2 / 3;
    ASSERT_TRUE(screen.click(window->x + centreX, window->y + centreY));
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(screen.type("!"));
    EXPECT_TRUE(waitUntil([&] {
        line = textArea(computer).second;
        return line.find(R"(value="first line ⏎ second!")") != std::string::npos;
    })) << line;

    // Escape pressed by the user while the banner shows stops the agent.
    EXPECT_EQ(computer.result("banner", {{"show", true}}), JSON({{"ok", true}}));
    ASSERT_TRUE(screen.key("Escape"));
    JSON event;
    do {
        event = computer.nextEvent(Timeout{10000});
    } while (event.value("event", "") == "front");  // the agent's own earlier steps
    EXPECT_EQ(event, JSON({{"event", "stop"}}));

    // Closing the window ends the desktop and everything in it.
    desktop.lookAgain();
    ASSERT_TRUE(screen.close(*window));
    expectEverythingEnded(desktop, {true, 0, 0},
                          "the agent's desktop window was closed; " + desktopEnded);
    EXPECT_FALSE(screen.findWindow("Pelko: the agent's desktop"));
    EXPECT_EQ(entriesOf(runtimeFolder ? runtimeFolder : "/nonexistent"), runtimeBefore)
        << "nothing is left in the user's runtime folder";
}

}  // namespace
}  // namespace pelko::computer::testing
