#include "processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

extern char** environ;

namespace pelko::computer::own_desktop {
namespace {

// Endings of children reaped by `reapChildren`, until their owners ask.
std::mutex reapedMutex;
std::map<pid_t, int>& reaped() {
    static std::map<pid_t, int> endings;
    return endings;
}

// The parent's process id and the state letter of `pid`, from /proc; nothing when it is gone.
std::optional<std::pair<pid_t, char>> parentAndState(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return {};
    // The name in parentheses may hold anything, parentheses too: the fields follow the last.
    const auto close = line.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(fields >> state >> parent)) return {};
    return std::pair{parent, state};
}

}  // namespace

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view item(*entry);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) continue;
        environment.emplace(std::string(item.substr(0, equals)),
                            std::string(item.substr(equals + 1)));
    }
    return environment;
}

bool Ending::exited() const {
    return WIFEXITED(status);
}

int Ending::code() const {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

std::string Ending::describe() const {
    if (WIFEXITED(status)) return "status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
               ")";
    return "an unknown ending";
}

std::optional<std::filesystem::path> findProgram(
    const std::string& name, const std::string& path,
    const std::vector<std::filesystem::path>& extraFolders) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) {
        if (access(name.c_str(), X_OK) == 0) return std::filesystem::path(name);
        return {};
    }
    std::vector<std::filesystem::path> folders;
    std::stringstream list(path);
    for (std::string folder; std::getline(list, folder, ':');) {
        if (!folder.empty()) folders.emplace_back(folder);
    }
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const auto& folder : folders) {
        const auto candidate = folder / name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

OwnedProcess OwnedProcess::start(const Launch& launch, Clock& clock) {
    if (launch.arguments.empty()) throw StartFailure("there is no program to start");
    const auto pathValue = launch.environment.find("PATH");
    const auto program =
        findProgram(launch.arguments[0],
                    pathValue == launch.environment.end() ? "/usr/bin:/bin" : pathValue->second);
    if (!program) throw StartFailure(launch.arguments[0] + " is not installed");

    // Everything the child needs is made before forking: after it only system calls.
    const std::string programPath = program->string();
    std::vector<std::string> arguments = launch.arguments;
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    for (const auto& [name, value] : launch.environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    FileDescriptor log;
    if (!launch.log.empty()) {
        log.reset(open(launch.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        if (!log.valid())
            throw StartFailure("cannot write " + launch.log.string() + ": " + std::strerror(errno));
    }
    FileDescriptor nothing(open("/dev/null", O_RDWR | O_CLOEXEC));
    auto execPipe = makePipe();
    if (!execPipe)
        throw StartFailure("cannot start " + launch.arguments[0] + ": " +
                           execPipe.error().describe());
    Pipe status = std::move(execPipe).take();
    const pid_t parent = getpid();

    const pid_t child = fork();
    if (child < 0)
        throw StartFailure("cannot start " + launch.arguments[0] + ": " + std::strerror(errno));
    if (child == 0) {
        // The desktop's processes go when this one goes, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
            signal(number, SIG_DFL);
        if (launch.ownProcessGroup) setpgid(0, 0);
        // The exec pipe's writing end moves out of the way of the descriptors set below and
        // stays open (close-on-exec) to report a failed exec.
        const int report = fcntl(status.writeEnd.get(), F_DUPFD_CLOEXEC, 100);
        if (!launch.keepsStandardInput) dup2(nothing.get(), 0);
        if (log.valid()) {
            dup2(log.get(), 1);
            dup2(log.get(), 2);
        }
        if (launch.standardError >= 0) dup2(launch.standardError, 2);
        int firstClosed = 3;
        if (launch.descriptor3 >= 0) {
            if (launch.descriptor3 != 3) {
                dup2(launch.descriptor3, 3);
            } else {
                fcntl(3, F_SETFD, 0);
            }
            firstClosed = 4;
        }
        if (report > firstClosed) close_range(firstClosed, report - 1, 0);
        close_range(std::max(firstClosed, report + 1), ~0U, 0);
        execve(programPath.c_str(), argv.data(), envp.data());
        const int failure = errno;
        [[maybe_unused]] const auto written = write(report, &failure, sizeof failure);
        _exit(127);
    }
    {
        std::lock_guard lock(reapedMutex);
        reaped().erase(child);  // an ending kept from an earlier process with this number
    }
    status.writeEnd.reset();
    OwnedProcess process(child, clock);
    int failure = 0;
    const auto got = readExactly(status.readEnd.get(), &failure, sizeof failure);
    if (got && got.value() == sizeof failure)
        throw StartFailure("cannot run " + programPath + ": " + std::strerror(failure));
    return process;
}

OwnedProcess::OwnedProcess(OwnedProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      clock_(other.clock_),
      ending_(std::move(other.ending_)) {}

OwnedProcess& OwnedProcess::operator=(OwnedProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) end(seconds(2));
        pid_ = std::exchange(other.pid_, -1);
        clock_ = other.clock_;
        ending_ = std::move(other.ending_);
    }
    return *this;
}

OwnedProcess::~OwnedProcess() {
    if (pid_ > 0) end(seconds(2));
}

std::optional<Ending> OwnedProcess::ending() {
    if (ending_ || pid_ <= 0) return ending_;
    reapChildren();
    std::lock_guard lock(reapedMutex);
    const auto found = reaped().find(pid_);
    if (found == reaped().end()) return {};
    ending_ = Ending{found->second};
    reaped().erase(found);
    return ending_;
}

Ending OwnedProcess::end(Duration grace) {
    if (pid_ <= 0) return ending_.value_or(Ending{});
    if (!ending()) {
        kill(pid_, SIGTERM);
        if (!waitFor(*clock_, grace, [this] { return ending().has_value(); })) {
            kill(pid_, SIGKILL);
            // A killed process is reaped as soon as the kernel has taken it down.
            waitFor(*clock_, seconds(5), [this] { return ending().has_value(); });
        }
    }
    return ending_.value_or(Ending{});
}

void reapChildren() {
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return;
        std::lock_guard lock(reapedMutex);
        reaped()[pid] = status;
    }
}

std::set<pid_t> descendantsIn(const std::map<pid_t, pid_t>& parentOf, pid_t root) {
    std::map<pid_t, std::vector<pid_t>> children;
    for (const auto& [pid, parent] : parentOf) children[parent].push_back(pid);
    std::set<pid_t> found;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t next = pending.back();
        pending.pop_back();
        for (const pid_t child : children[next]) {
            // A table read while processes come and go may hold a loop; visit each once.
            if (child != root && found.insert(child).second) pending.push_back(child);
        }
    }
    return found;
}

std::set<pid_t> descendantsOf(pid_t root) {
    std::map<pid_t, pid_t> parentOf;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (const auto found = parentAndState(pid)) parentOf[pid] = found->first;
    }
    return descendantsIn(parentOf, root);
}

bool isAlive(pid_t pid) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    const auto found = parentAndState(pid);
    return found && found->second != 'Z' && found->second != 'X';
}

void endProcesses(const std::set<pid_t>& pids, Duration grace, Clock& clock) {
    if (pids.empty()) return;
    for (const pid_t pid : pids) kill(pid, SIGTERM);
    const auto allGone = [&pids] {
        reapChildren();
        for (const pid_t pid : pids) {
            if (isAlive(pid)) return false;
        }
        return true;
    };
    if (waitFor(clock, grace, allGone)) return;
    for (const pid_t pid : pids) {
        if (isAlive(pid)) kill(pid, SIGKILL);
    }
    waitFor(clock, seconds(5), allGone);
}

bool waitFor(Clock& clock, Duration limit, const std::function<bool()>& condition) {
    const Instant deadline = clock.now() + limit;
    for (;;) {
        if (condition()) return true;
        if (clock.now() >= deadline) return false;
        clock.sleepFor(std::chrono::milliseconds(5));
    }
}

}  // namespace pelko::computer::own_desktop
