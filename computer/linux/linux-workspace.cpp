#include "linux-workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "fd.h"

extern char** environ;

namespace pelko::computer::linux_desktop {
namespace {

namespace fs = std::filesystem;

constexpr Duration launchLimit = std::chrono::seconds(20);
constexpr Duration launchPoll = std::chrono::milliseconds(100);
// How long the app list waits for an unnamed app to say its name (as long as it waits for
// window titles).
constexpr int nameTimeoutMs = 500;
// How long after an app's first window shows it may still take the focus.
constexpr Duration focusWatch = std::chrono::seconds(5);

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The names a process is known by: its executable and the first two command-line arguments.
ProcessNames namesOf(pid_t pid) {
    ProcessNames names;
    std::error_code error;
    const auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (!error) names.executable = exe.filename().string();
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string argument;
    // The program, and for an interpreter the script after its options.
    while (std::getline(cmdline, argument, '\0') && names.arguments.size() < 2) {
        if (argument.empty() || argument.front() == '-') continue;
        names.arguments.push_back(baseName(argument));
        if (!isInterpreter(names.arguments.front())) break;
    }
    return names;
}

std::string commandName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

long long folderStamp(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
}

}  // namespace

bool processRuns(pid_t pid) {
    if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH)) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // The state follows the command name, which is in parentheses and may hold anything.
    const size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

Spawned spawnDetached(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& extraEnvironment,
                      const std::string& workingDirectory) {
    if (arguments.empty()) return {0, "there is no command to run"};
    // Everything the children need is made before forking: after it only system calls.
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const std::string key = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(
            extraEnvironment.begin(), extraEnvironment.end(),
            [&](const std::string& extra) { return extra.substr(0, extra.find('=')) == key; });
        if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (const auto& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    auto pidPipe = makePipe();
    auto execPipe = makePipe();
    if (!pidPipe || !execPipe) return {0, "pipe failed"};
    Pipe pids = std::move(pidPipe).take();
    Pipe status = std::move(execPipe).take();

    const pid_t child = fork();
    if (child < 0) return {0, std::string("fork failed: ") + std::strerror(errno)};
    if (child == 0) {
        // The middle child starts the app and leaves at once, so the app is nobody's child
        // here and never lingers as this process's zombie.
        setsid();
        const pid_t app = fork();
        if (app == 0) {
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(devNull, 2);
            dup2(status.writeEnd.get(), 3);
            close_range(4, ~0U, 0);
            fcntl(3, F_SETFD, FD_CLOEXEC);
            if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) {
                // Runs where it was started instead.
            }
            signal(SIGPIPE, SIG_DFL);
            execvpe(argv[0], argv.data(), envp.data());
            const int failure = errno;
            [[maybe_unused]] const auto written = write(3, &failure, sizeof failure);
            _exit(127);
        }
        [[maybe_unused]] const auto written = write(pids.writeEnd.get(), &app, sizeof app);
        _exit(app > 0 ? 0 : 1);
    }
    pids.writeEnd.reset();
    status.writeEnd.reset();
    int childStatus = 0;
    while (waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
    }
    pid_t app = 0;
    const auto got = readExactly(pids.readEnd.get(), &app, sizeof app);
    if (!got || got.value() != sizeof app || app <= 0)
        return {0, "the program could not be started"};
    // The exec pipe closes when the program starts; an error number comes when it cannot.
    int failure = 0;
    const auto failed = readExactly(status.readEnd.get(), &failure, sizeof failure);
    if (failed && failed.value() == sizeof failure)
        return {0, "cannot run " + arguments[0] + " (" + std::strerror(failure) + ")"};
    return {app, ""};
}

LinuxWorkspace::LinuxWorkspace(AtspiClient& client, X11Desktop& x11, Clock& clock)
    : client_(client), x11_(x11), clock_(clock) {}

LinuxWorkspace::~LinuxWorkspace() {
    std::lock_guard lock(watchersMutex_);
    watchers_.clear();  // each watcher is asked to stop and joined
}

std::vector<DesktopEntry> LinuxWorkspace::entries() {
    std::lock_guard lock(entriesMutex_);
    const auto folders = applicationFolders();
    std::map<std::string, long long> stamps;
    for (const auto& folder : folders) stamps[folder] = folderStamp(folder);
    if (stamps != folderStamps_) {
        entries_ = installedEntries(folders, localeTags());
        folderStamps_ = std::move(stamps);
    }
    return entries_;
}

std::vector<RunningApp> LinuxWorkspace::runningApplications() {
    const auto apps = client_.applications();
    const auto windows = x11_.windows();
    const auto active = x11_.activePid();
    const auto installed = entries();
    const bool managed = x11_.hasWindowManager();
    std::vector<RunningApp> running;
    std::vector<std::string> busNames;  // of each running app, in the same order
    std::vector<size_t> unnamed;
    for (const auto& app : apps) {
        if (app.pid == getpid()) continue;
        RunningApp info;
        info.pid = app.pid;
        info.terminated = !processRuns(app.pid);
        ProcessNames names = namesOf(app.pid);
        bool hasWindow = false, allHidden = true;
        for (const auto& window : windows) {
            if (window.pid != app.pid || !window.normal) continue;
            hasWindow = true;
            allHidden = allHidden && window.hidden;
            if (names.windowClass.empty()) names.windowClass = window.windowClass;
        }
        if (const DesktopEntry* entry = entryForProcess(installed, names)) {
            info.localizedName = entry->localizedName.value_or(entry->name);
            info.bundleId = entry->id;
            info.bundlePath = entry->path;
        }
        // Apps without a window of their own (panels, tray helpers) stay out of the app list;
        // without a window manager every registered app counts.
        info.activationPolicy =
            hasWindow || !managed ? ActivationPolicy::regular : ActivationPolicy::accessory;
        info.active = active == app.pid;
        info.hidden = hasWindow && allHidden;
        if (!info.localizedName) unnamed.push_back(running.size());
        running.push_back(std::move(info));
        busNames.push_back(app.busName);
    }
    // Apps without a desktop entry go by the name they give the accessibility registry.
    if (!unnamed.empty()) {
        std::vector<AtspiClient::Call> calls;
        for (const size_t at : unnamed) {
            auto message = methodCall(busNames[at], ATSPI_DBUS_PATH_ROOT,
                                      "org.freedesktop.DBus.Properties", "Get");
            const char* interface = ATSPI_DBUS_INTERFACE_ACCESSIBLE;
            const char* property = "Name";
            if (message)
                dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &interface,
                                         DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
            // Asked of every unnamed app for every list: one that never answers must not
            // hold up each request for seconds.
            calls.push_back({busNames[at], std::move(message), nameTimeoutMs});
        }
        const auto answers = client_.callAll(std::move(calls));
        for (size_t i = 0; i < unnamed.size(); ++i) {
            RunningApp& app = running[unnamed[i]];
            DBusMessageIter iter;
            if (answers[i].ok() && dbus_message_iter_init(answers[i].reply.get(), &iter)) {
                DBusMessageIter value = unwrapVariant(iter);
                if (auto name = readString(value); name && !name->empty())
                    app.localizedName = *name;
            }
            if (!app.localizedName) {
                const std::string comm = commandName(app.pid);
                if (!comm.empty()) app.localizedName = comm;
            }
        }
    }
    return running;
}

std::vector<RunningApp> LinuxWorkspace::runningApplications(const std::string& bundleId) {
    std::vector<RunningApp> matching;
    for (auto& app : runningApplications()) {
        if (app.bundleId == bundleId) matching.push_back(std::move(app));
    }
    return matching;
}

std::optional<RunningApp> LinuxWorkspace::runningApplication(pid_t pid) {
    for (auto& app : runningApplications()) {
        if (app.pid == pid) return std::move(app);
    }
    return std::nullopt;
}

std::optional<RunningApp> LinuxWorkspace::frontmostApplication() {
    const auto pid = x11_.activePid();
    if (!pid) return std::nullopt;
    if (auto app = runningApplication(*pid)) return app;
    // An app that the accessibility registry does not know is still the one in front.
    RunningApp app;
    app.pid = *pid;
    app.active = true;
    if (const std::string name = commandName(*pid); !name.empty()) app.localizedName = name;
    return app;
}

std::optional<std::string> LinuxWorkspace::applicationLocation(const std::string& bundleId) {
    for (const auto& entry : entries()) {
        if (entry.id == bundleId) return entry.path;
    }
    return std::nullopt;
}

std::optional<BundleDescription> LinuxWorkspace::bundleAt(const std::string& path) {
    const auto entry = entryAt(path, applicationFolders(), localeTags());
    if (!entry) return std::nullopt;
    BundleDescription bundle;
    bundle.identifier = entry->id;
    bundle.info = {{"CFBundleName", entry->name}, {"Exec", entry->exec}};
    if (entry->localizedName) bundle.info["CFBundleDisplayName"] = *entry->localizedName;
    if (const std::string program = programName(*entry); !program.empty())
        bundle.info["CFBundleExecutable"] = program;
    if (!entry->icon.empty()) bundle.info["Icon"] = entry->icon;
    return bundle;
}

std::vector<InstalledApp> LinuxWorkspace::installedApplications() {
    std::vector<InstalledApp> apps;
    for (const auto& entry : entries()) {
        InstalledApp app;
        app.location = entry.path;
        app.names = {entry.name, entry.localizedName.value_or(""), entry.id, programName(entry)};
        apps.push_back(std::move(app));
    }
    return apps;
}

void LinuxWorkspace::openApplication(const std::string& path, bool activates,
                                     OpenCompletion completion) {
    const auto entry = entryAt(path, applicationFolders(), localeTags());
    if (!entry) {
        completion(std::nullopt, "it is not an application's desktop entry");
        return;
    }
    if (entry->terminal) {
        completion(std::nullopt, "it runs in a terminal");
        return;
    }
    std::vector<pid_t> before;
    for (const auto& app : runningApplications(entry->id)) before.push_back(app.pid);
    const uint64_t keepActive = activates ? 0 : x11_.activeWindow();
    std::vector<std::string> environment;
    if (!activates) {
        // A startup id with time 0 asks the window manager not to give the new window the
        // focus (the app does not come to the front).
        environment.push_back("DESKTOP_STARTUP_ID=pelko-" + std::to_string(getpid()) + "-" +
                              std::to_string(++launches_) + "_TIME0");
    }
    const Spawned spawned = spawnDetached(execArguments(*entry), environment, homeFolder());
    if (!spawned.pid) {
        completion(std::nullopt, spawned.error);
        return;
    }
    std::lock_guard lock(watchersMutex_);
    // Watchers that have finished are joined as new ones start.
    std::erase_if(watchers_, [](const Watcher& watcher) { return watcher.done->load(); });
    auto done = std::make_shared<std::atomic<bool>>(false);
    watchers_.push_back(
        {done, std::jthread([this, done, pid = spawned.pid, id = entry->id,
                             before = std::move(before), keepActive,
                             completion = std::move(completion)](std::stop_token stop) mutable {
             watchLaunch(pid, std::move(id), std::move(before), keepActive, std::move(completion),
                         stop);
             done->store(true);
         })});
}

void LinuxWorkspace::watchLaunch(pid_t child, std::string entryId, std::vector<pid_t> before,
                                 uint64_t keepActive, OpenCompletion completion,
                                 std::stop_token stop) {
    const Instant start = clock_.now();
    while (!stop.stop_requested() && clock_.now() - start < launchLimit) {
        const auto apps = runningApplications();
        for (const auto& app : apps) {
            const bool isNew = std::find(before.begin(), before.end(), app.pid) == before.end();
            if (app.pid == child || (app.bundleId == entryId && isNew)) {
                completion(app, std::nullopt);
                if (keepActive) keepInBackground(app.pid, keepActive, stop);
                return;
            }
        }
        if (!processRuns(child)) {
            // A single-instance app hands the request to the copy already running and ends.
            for (const auto& app : apps) {
                if (app.bundleId == entryId) {
                    completion(app, std::nullopt);
                    return;
                }
            }
            completion(std::nullopt, "it ended before it showed anything");
            return;
        }
        clock_.sleepFor(launchPoll);
    }
}

void LinuxWorkspace::keepInBackground(pid_t pid, uint64_t previous, std::stop_token stop) {
    // Window managers give a new window the focus unless told otherwise, and toolkits tell them
    // so only for a launch time they were given. A window that took the focus from the window
    // that had it hands it back once; a window the user chose in the meantime keeps it. An app
    // registers before its window shows, by seconds on a busy machine, so the watch over the
    // focus runs from the moment its first window is there.
    const Instant start = clock_.now();
    std::optional<Instant> shown;
    while (!stop.stop_requested() && clock_.now() - start < launchLimit &&
           (!shown || clock_.now() - *shown < focusWatch)) {
        const auto windows = x11_.windows();
        if (!shown && std::any_of(windows.begin(), windows.end(), [&](const WindowInfo& window) {
                return window.pid == pid && window.normal;
            }))
            shown = clock_.now();
        const uint64_t active = x11_.activeWindow();
        if (active && active != previous) {
            if (x11_.activePid() == pid) {
                const bool stillThere =
                    std::any_of(windows.begin(), windows.end(),
                                [&](const WindowInfo& window) { return window.id == previous; });
                if (stillThere) x11_.activate(previous);
            }
            return;
        }
        clock_.sleepFor(launchPoll);
    }
}

bool LinuxWorkspace::fileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::optional<std::vector<std::string>> LinuxWorkspace::listFolder(const std::string& path) {
    std::error_code error;
    fs::directory_iterator it(path, error);
    if (error) return std::nullopt;
    std::vector<std::string> names;
    for (fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string LinuxWorkspace::homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "/";
}

std::optional<WindowInfo> LinuxWorkspace::topWindow(pid_t pid, bool hiddenOnly) {
    std::optional<WindowInfo> top;
    for (const auto& window : x11_.windows()) {
        if (window.pid == pid && window.normal && (!hiddenOnly || window.hidden)) top = window;
    }
    return top;
}

bool LinuxWorkspace::activate(pid_t pid) {
    const auto window = topWindow(pid, false);
    return window && x11_.activate(window->id);
}

bool LinuxWorkspace::unhide(pid_t pid) {
    const auto window = topWindow(pid, true);
    return window && x11_.activate(window->id);
}

bool LinuxWorkspace::openURL(const std::string& url) {
    // The settings pages of another platform have nothing to open here.
    if (url.starts_with("x-apple.")) return false;
    return spawnDetached({"xdg-open", url}, {}, homeFolder()).pid != 0;
}

}  // namespace pelko::computer::linux_desktop
