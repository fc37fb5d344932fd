// Notification latency on an X11 desktop: from starting the client to the notification's
// window being mapped (the map event seen on the root window), for pelko-notifier and for
// Debian's dunst driven by notify-send, on the same display in the same run. Warm: the resident
// (or dunst) already runs. Cold: the post starts it (pelko-notifier's client launches its
// resident; the session bus activates dunst). Prints figures; asserts nothing.
//
// Runs inside scripts/desktop-session --dbus (bench/notifier-bench.sh does so):
//   pelko-notifier-desktop-bench [runs]      (default 20 warm and 10 cold runs of each)
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child-process.h"
#include "resident-log.h"

namespace {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;
using pelko::testing::ScopedTempDir;
using SteadyClock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

/// Watches the root window for top-level windows being mapped, unmapped and destroyed.
class RootWatch {
  public:
    RootWatch() : display_(XOpenDisplay(nullptr)) {
        if (display_) XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    }
    ~RootWatch() {
        if (display_) XCloseDisplay(display_);
    }
    bool connected() const { return display_ != nullptr; }
    /// Forgets the events that came so far.
    void drain() {
        XSync(display_, False);
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
        }
    }
    /// The next event of `type` (MapNotify, UnmapNotify, DestroyNotify) for `window` (any window
    /// when 0), with the time it was read; nothing after `limit`.
    std::optional<std::pair<Window, SteadyClock::time_point>> next(
        int type, Window window = 0, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        const auto deadline = SteadyClock::now() + limit;
        for (;;) {
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                const auto seen = SteadyClock::now();
                Window about = type == MapNotify       ? event.xmap.window
                               : type == UnmapNotify   ? event.xunmap.window
                               : type == DestroyNotify ? event.xdestroywindow.window
                                                       : 0;
                if (event.type == type && (window == 0 || about == window))
                    return std::pair{about, seen};
            }
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

  private:
    Display* display_;
};

/// Runs a command to its end, standard streams on pipes.
bool run(const std::vector<std::string>& argv, const ChildOptions& options = {}) {
    ChildProcess child(argv, options);
    auto status = child.waitExit();
    return status && status->exited && status->code == 0;
}

/// Starts `argv` and measures until a window is mapped; the window and the time.
std::optional<std::pair<Window, double>> timeToMap(RootWatch& watch,
                                                   const std::vector<std::string>& argv,
                                                   const ChildOptions& options) {
    watch.drain();
    const auto start = SteadyClock::now();
    ChildProcess client(argv, options);
    auto mapped = watch.next(MapNotify);
    client.waitExit();
    if (!mapped) return std::nullopt;
    return std::pair{mapped->first, Milliseconds(mapped->second - start).count()};
}

struct Figures {
    std::vector<double> samples;
    int failures = 0;
    void add(std::optional<double> ms) {
        if (ms)
            samples.push_back(*ms);
        else
            ++failures;
    }
};

void print(const char* what, Figures figures) {
    std::vector<double>& s = figures.samples;
    if (s.empty()) {
        std::printf("  %-34s no window was mapped (%d tries)\n", what, figures.failures);
        return;
    }
    std::sort(s.begin(), s.end());
    std::printf("  %-34s median %6.1f ms   min %6.1f   max %6.1f   (%zu runs%s)\n", what,
                s[s.size() / 2], s.front(), s.back(), s.size(),
                figures.failures ? ", some without a window" : "");
}

/// The residents whose log is the file at `path`.
std::vector<pid_t> residentsIn(const std::filesystem::path& path) {
    return pelko::notifier::testing::residentsIn(pelko::testing::readFile(path));
}

/// Ends a process that is not our child and waits until it is gone.
void endProcess(pid_t pid) {
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
    for (int i = 0; i < 500; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/stat");
        std::string ignored, state;
        if (!(status >> ignored >> ignored >> state) || state == "Z") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
}

/// The process that owns the notification service on the session bus, if any.
pid_t notificationDaemon() {
    ChildProcess query({"/usr/bin/dbus-send", "--session", "--print-reply",
                        "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                        "org.freedesktop.DBus.GetConnectionUnixProcessID",
                        "string:org.freedesktop.Notifications"});
    std::string out = query.readToEnd();
    query.waitExit();
    std::smatch match;
    static const std::regex uint(R"(uint32 ([0-9]+))");
    return std::regex_search(out, match, uint) ? std::stoi(match[1]) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int warmRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int coldRuns = std::max(1, warmRuns / 2);
    RootWatch watch;
    if (!watch.connected() || !std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr,
                     "notifier-desktop-bench: needs an X display and a session bus "
                     "(run it through scripts/desktop-session --dbus)\n");
        return 2;
    }
    const std::string notifier = NOTIFIER_BINARY;
    ScopedTempDir folder;

    // pelko-notifier: every cold run has a runtime folder (and so a resident) of its own.
    auto notifierOptions = [&](const std::string& name) {
        auto runtime = folder / name;
        std::filesystem::create_directories(runtime);
        ::chmod(runtime.c_str(), 0700);
        ChildOptions options;
        options.environment = {{"XDG_RUNTIME_DIR", runtime.string()},
                               {"PELKO_NOTIFIER_LOG", (folder / (name + ".log")).string()}};
        options.nullStdin = true;
        return options;
    };
    auto post = [&](const std::string& id) {
        return std::vector<std::string>{
            notifier,  "post",           "--id",   id,
            "--title", "Build finished", "--body", "All 214 tests passed in 3 minutes."};
    };
    const std::vector<std::string> notifySend{"/usr/bin/notify-send", "Build finished",
                                              "All 214 tests passed in 3 minutes."};

    Figures oursWarm, oursCold, dunstWarm, dunstCold;
    // Cold first, alternating the two programs, so both see the same machine.
    for (int i = 0; i < coldRuns; ++i) {
        const std::string name = "cold" + std::to_string(i);
        auto options = notifierOptions(name);
        auto mapped = timeToMap(watch, post("a"), options);
        oursCold.add(mapped ? std::optional(mapped->second) : std::nullopt);
        for (pid_t pid : residentsIn(folder / (name + ".log"))) endProcess(pid);

        endProcess(notificationDaemon());
        mapped = timeToMap(watch, notifySend, {});
        dunstCold.add(mapped ? std::optional(mapped->second) : std::nullopt);
        run({"/usr/bin/dunstctl", "close-all"});
        if (mapped) watch.next(UnmapNotify, mapped->first);
    }

    const auto warm = notifierOptions("warm");
    run(post("first"), warm);  // starts the resident
    run({notifier, "clear", "--id", "first"}, warm);
    run(notifySend);  // starts dunst if it is not running
    run({"/usr/bin/dunstctl", "close-all"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int i = 0; i < warmRuns; ++i) {
        const std::string id = "w" + std::to_string(i);
        auto mapped = timeToMap(watch, post(id), warm);
        oursWarm.add(mapped ? std::optional(mapped->second) : std::nullopt);
        run({notifier, "clear", "--id", id}, warm);
        if (mapped) watch.next(DestroyNotify, mapped->first);

        mapped = timeToMap(watch, notifySend, {});
        dunstWarm.add(mapped ? std::optional(mapped->second) : std::nullopt);
        run({"/usr/bin/dunstctl", "close-all"});
        if (mapped) watch.next(UnmapNotify, mapped->first);
    }
    for (pid_t pid : residentsIn(folder / "warm.log")) endProcess(pid);
    endProcess(notificationDaemon());

    std::printf("From running the client to the notification's window mapped (display %s):\n",
                std::getenv("DISPLAY"));
    print("pelko-notifier post, warm", oursWarm);
    print("dunst + notify-send, warm", dunstWarm);
    print("pelko-notifier post, cold", oursCold);
    print("dunst + notify-send, cold", dunstCold);
    std::printf(
        "(cold: pelko-notifier's client waits 0.1 s after starting its resident before it\n"
        " sends again, so its cold figure holds that pause)\n");
    return 0;
}
