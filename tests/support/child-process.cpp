#include "child-process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace pelko::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

ExitStatus decode(int raw) {
    ExitStatus status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        status.signal = WTERMSIG(raw);
    }
    return status;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
    if (status.exited) return out << "exit " << status.code;
    return out << "signal " << status.signal;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    int in[2], out[2], err[2];
    check(pipe2(in, O_CLOEXEC) == 0, "pipe");
    check(pipe2(out, O_CLOEXEC) == 0, "pipe");
    check(pipe2(err, O_CLOEXEC) == 0, "pipe");

    // Everything the child needs is prepared before fork: only async-signal-safe calls after.
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view item(*entry);
        std::string name(item.substr(0, item.find('=')));
        bool dropped = options.environment.count(name) > 0;
        for (const auto& unset : options.unset) dropped = dropped || unset == name;
        if (!dropped) env.emplace_back(item);
    }
    for (const auto& [name, value] : options.environment) env.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& item : env) envp.push_back(item.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy = argv;
    for (auto& arg : argvCopy) args.push_back(arg.data());
    args.push_back(nullptr);
    const std::string workdir = options.workingDirectory.string();
    const int devNull = options.nullStdin ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;

    pid_ = fork();
    check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        if (options.newProcessGroup) setpgid(0, 0);
        dup2(options.nullStdin ? devNull : in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        ::signal(SIGPIPE, SIG_DFL);
        if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        const char message[] = "exec failed\n";
        ssize_t ignored = ::write(2, message, sizeof message - 1);
        (void)ignored;
        _exit(127);
    }
    if (devNull >= 0) close(devNull);
    if (options.newProcessGroup) setpgid(pid_, pid_);  // also here, so no race with signals
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_.reset(in[1]);
    stdout_.reset(out[0]);
    if (options.nullStdin) closeStdin();
    stderrReader_ = std::thread([sink = stderrSink_, fd = FileDescriptor(err[0])] {
        char chunk[4096];
        for (;;) {
            const auto got = readSome(fd.get(), chunk, sizeof chunk);
            std::lock_guard lock(sink->mutex);
            if (!got.ok() || got.value() == 0) {
                sink->ended = true;
                return;
            }
            sink->text.append(chunk, got.value());
        }
    });
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        kill(pid_, SIGKILL);
        int raw;
        while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
    }
    closeStdin();
    stdout_.reset();
    // The reader ends when every writer of the pipe is gone; descendants of the child that
    // kept it open are not ours to wait for.
    if (stderrReader_.joinable()) stderrReader_.detach();
}

bool ChildProcess::write(std::string_view bytes) {
    // A write to a child that has gone must fail with EPIPE, not kill the test.
    static const bool ignored = [] {
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
    return stdin_.valid() && writeAll(stdin_.get(), bytes).ok();
}

void ChildProcess::closeStdin() {
    stdin_.reset();
}

void ChildProcess::closeStdout() {
    stdout_.reset();
    stdoutEnded_ = true;
}

bool ChildProcess::fill(SteadyClock::time_point deadline) {
    if (stdoutEnded_) return false;
    if (!waitReady(stdout_.get(), POLLIN, Wait{deadline}).ok()) return false;
    char chunk[65536];
    const auto got = readSome(stdout_.get(), chunk, sizeof chunk);
    if (!got.ok() || got.value() == 0) {
        stdoutEnded_ = true;
        return false;
    }
    buffered_.append(chunk, got.value());
    return true;
}

std::optional<std::string> ChildProcess::readLine(Timeout timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        if (!fill(deadline)) return std::nullopt;
    }
}

std::optional<std::string> ChildProcess::readBytes(size_t count, Timeout timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (buffered_.size() < count) {
        if (!fill(deadline)) return std::nullopt;
    }
    std::string bytes = buffered_.substr(0, count);
    buffered_.erase(0, count);
    return bytes;
}

std::string ChildProcess::readToEnd(Timeout timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    while (fill(deadline)) {
    }
    return std::exchange(buffered_, {});
}

bool ChildProcess::silentFor(Timeout quiet) {
    if (!buffered_.empty()) return false;
    const auto before = buffered_.size();
    fill(SteadyClock::now() + quiet);
    return buffered_.size() == before && !stdoutEnded_;
}

std::optional<ExitStatus> ChildProcess::waitExit(Timeout timeout) {
    if (status_) return status_;
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        int raw;
        pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = decode(raw);
            return status_;
        }
        if (SteadyClock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::signal(int number) {
    kill(pid_, number);
}

std::string ChildProcess::stderrText() {
    // Once the child has ended, give its last writes a moment to arrive.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(1);
    for (;;) {
        {
            std::lock_guard lock(stderrSink_->mutex);
            if (!status_ || stderrSink_->ended || SteadyClock::now() >= deadline)
                return stderrSink_->text;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

ScopedTempDir::ScopedTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelko-test-XXXXXX").string();
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace pelko::testing
