#include "desktop-session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

namespace pelko::computer::testing {

const DesktopSession& DesktopSession::get() {
    static const DesktopSession session = [] {
        DesktopSession made;
        const char* display = std::getenv("DISPLAY");
        const char* reason = std::getenv("PELKO_DESKTOP_UNAVAILABLE");
        if (reason && *reason) {
            made.unavailable = std::string("no desktop for these tests: ") + reason;
        } else if (!std::getenv("PELKO_DESKTOP_SESSION") || !display || !*display) {
            made.unavailable =
                "not inside a desktop session: ctest runs these tests in one (the test "
                "computer.LinuxDesktop, or scripts/desktop-session --wm --accessibility --app "
                "gtk3-widget-factory -- <this program>)";
        } else {
            made.display = display;
        }
        return made;
    }();
    return session;
}

ChildOptions DesktopSession::options() const {
    ChildOptions options;
    options.unset = {"PELKO_SCENE", "NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"};
    return options;
}

// The program's path, found on PATH when the name has no folder.
std::string onPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return program;
}

int DesktopSession::run(const std::vector<std::string>& argv, std::string* output) const {
    ChildOptions options = this->options();
    options.nullStdin = true;
    std::vector<std::string> command = argv;
    if (!command.empty()) command[0] = onPath(command[0]);
    ChildProcess child(command, options);
    const std::string text = child.readToEnd(pelko::testing::Timeout{20000});
    if (output) *output = text;
    const auto status = child.waitExit(pelko::testing::Timeout{5000});
    return status && status->exited ? status->code : -1;
}

DesktopComputer::DesktopComputer() : DesktopComputer({}, DesktopSession::get().options()) {}

DesktopComputer::DesktopComputer(const std::vector<std::string>& arguments,
                                 const ChildOptions& options) {
    std::vector<std::string> argv{PELKO_COMPUTER};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    child_ = std::make_unique<ChildProcess>(argv, options);
    const auto line = child_->readLine(pelko::testing::Timeout{20000});
    if (line) {
        if (auto parsed = parseJSON(*line)) ready_ = *parsed;
    }
    EXPECT_EQ(ready_.value("event", ""), "ready") << child_->stderrText();
}

DesktopComputer::~DesktopComputer() {
    child_->closeStdin();
    child_->waitExit(pelko::testing::Timeout{5000});
}

JSON DesktopComputer::request(const std::string& method, const JSON& params,
                              pelko::testing::Timeout timeout) {
    const int id = nextId_++;
    child_->writeLine(JSON({{"id", id}, {"method", method}, {"params", params}}).dump());
    for (;;) {
        const auto line = child_->readLine(timeout);
        if (!line) return JSON();
        auto parsed = parseJSON(*line);
        if (!parsed) continue;
        if (parsed->contains("event")) {
            events_.push_back(*parsed);
            continue;
        }
        if (parsed->value("id", -1) == id) return *parsed;
    }
}

JSON DesktopComputer::result(const std::string& method, const JSON& params) {
    const JSON reply = request(method, params);
    EXPECT_TRUE(reply.contains("result")) << method << " " << params << " → " << reply;
    return reply.contains("result") ? reply["result"] : JSON::object();
}

JSON DesktopComputer::nextEvent(pelko::testing::Timeout timeout) {
    if (!events_.empty()) {
        JSON event = events_.front();
        events_.erase(events_.begin());
        return event;
    }
    const auto line = child_->readLine(timeout);
    if (!line) return JSON();
    auto parsed = parseJSON(*line);
    return parsed ? *parsed : JSON();
}

JSON appNamed(const JSON& listApps, const std::string& name) {
    for (const auto& app : listApps.value("apps", JSON::array())) {
        if (app.value("name", "") == name) return app;
    }
    return JSON();
}

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

int64_t indexOf(const std::string& tree, const std::string& pattern) {
    const std::regex wanted(pattern), index(R"(\[(\d+)\])");
    for (const auto& line : linesOf(tree)) {
        std::smatch number;
        if (std::regex_search(line, wanted) && std::regex_search(line, number, index))
            return std::stoll(number[1]);
    }
    return 0;
}

int64_t lastIndexOf(const std::string& tree, const std::string& pattern) {
    int64_t last = 0;
    const std::regex wanted(pattern), index(R"(\[(\d+)\])");
    for (const auto& line : linesOf(tree)) {
        std::smatch number;
        if (std::regex_search(line, wanted) && std::regex_search(line, number, index))
            last = std::stoll(number[1]);
    }
    return last;
}

namespace {

Found firstMatch(const std::string& tree, const std::string& pattern) {
    const std::regex wanted(pattern), index(R"(\[(\d+)\])");
    for (const auto& line : linesOf(tree)) {
        std::smatch number;
        if (std::regex_search(line, wanted) && std::regex_search(line, number, index))
            return {std::stoll(number[1]), line};
    }
    return {};
}

}  // namespace

Found findLine(DesktopComputer& computer, const std::string& app, const std::string& pattern) {
    return firstMatch(computer.result("state", {{"app", app}}).value("tree", ""), pattern);
}

Found awaitLine(DesktopComputer& computer, const JSON& stateParams, const std::string& pattern,
                int attempts) {
    std::string tree;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        tree = computer.result("state", stateParams).value("tree", "");
        if (Found found = firstMatch(tree, pattern); found.index > 0) return found;
    }
    ADD_FAILURE() << "no line matches " << pattern << " in\n" << tree;
    return {};
}

void endApp(DesktopComputer& computer, pid_t pid) {
    kill(pid, SIGTERM);
    for (int attempt = 0; attempt < 100; ++attempt) {
        bool listed = false;
        for (const auto& app : computer.result("listApps").value("apps", JSON::array()))
            listed = listed || app.value("pid", 0) == pid;
        if (!listed) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "process " << pid << " is still listed 5 s after SIGTERM";
}

StartedApp::StartedApp(const std::vector<std::string>& argv) {
    std::vector<std::string> command = argv;
    if (command.empty()) return;
    command[0] = onPath(command[0]);
    const pid_t child = fork();
    if (child == 0) {
        // A group of its own, so that the app's helpers end with it; no terminal streams.
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        for (const char* name : {"PELKO_SCENE", "NO_AT_BRIDGE", "AT_SPI_BUS_ADDRESS"})
            unsetenv(name);
        std::vector<char*> args;
        for (auto& word : command) args.push_back(word.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = child;
}

StartedApp::~StartedApp() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

}  // namespace pelko::computer::testing

// libatspi, which the desktop tests read the desktop with on their own, leaks a string of an
// event it dispatches during a call; the leak checker can tell it by the library's frames only
// when stacks are unwound in full (GLib's frames have no frame pointers).
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libatspi.so\n";
}
