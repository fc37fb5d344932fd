// Test helpers for black-box tests: a program started with pipes on its standard streams,
// and a temporary folder that removes itself.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fd.h"

namespace pelko::testing {

using Timeout = std::chrono::milliseconds;
constexpr Timeout defaultTimeout{10000};

struct ExitStatus {
    bool exited = false;  ///< ended through exit(); otherwise killed by `signal`
    int code = -1;
    int signal = 0;
    bool operator==(const ExitStatus&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ExitStatus& status);

struct ChildOptions {
    /// Variables added to (or replacing those of) the test's own environment.
    std::map<std::string, std::string> environment;
    /// Variables removed from the child's environment.
    std::vector<std::string> unset;
    std::filesystem::path workingDirectory;
    /// Puts the child in a process group of its own (its pid is the group id).
    bool newProcessGroup = false;
    /// Gives the child /dev/null as standard input instead of a pipe.
    bool nullStdin = false;
};

/// A child process whose standard input, output and error are pipes to the test.
/// Standard error is collected in the background so the child never blocks on it.
/// The destructor kills (SIGKILL) and reaps a child that is still running.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    /// Writes all of `bytes` to the child's standard input; false when the pipe is closed.
    bool write(std::string_view bytes);
    bool writeLine(std::string_view line) { return write(std::string(line) + "\n"); }
    void closeStdin();
    /// Closes the test's end of the child's standard output, as a reader that goes away does;
    /// the child's next write to it fails (broken pipe).
    void closeStdout();

    /// The next line of standard output without its newline; nothing at end of output or when
    /// no whole line came within `timeout`.
    std::optional<std::string> readLine(Timeout timeout = defaultTimeout);
    /// Exactly `count` bytes of standard output, or nothing when they did not all come in time.
    std::optional<std::string> readBytes(size_t count, Timeout timeout = defaultTimeout);
    /// Everything up to the end of standard output (or what came before `timeout`).
    std::string readToEnd(Timeout timeout = defaultTimeout);
    /// Whether standard output stays silent (no byte, no end) for `quiet`.
    bool silentFor(Timeout quiet);

    /// Waits for the child to end; nothing when it is still running after `timeout`.
    std::optional<ExitStatus> waitExit(Timeout timeout = defaultTimeout);
    void signal(int number);
    /// Standard error so far (all of it once the child has ended and `waitExit` returned).
    std::string stderrText();

  private:
    bool fill(std::chrono::steady_clock::time_point deadline);
    pid_t pid_ = -1;
    FileDescriptor stdin_;
    FileDescriptor stdout_;
    bool stdoutEnded_ = false;
    std::string buffered_;
    std::optional<ExitStatus> status_;
    /// Standard error's collector; shared with its reader thread, which may outlive us when a
    /// descendant of the child keeps the pipe open.
    struct StderrSink {
        std::mutex mutex;
        std::string text;
        bool ended = false;
    };
    std::shared_ptr<StderrSink> stderrSink_ = std::make_shared<StderrSink>();
    std::thread stderrReader_;
};

/// A fresh folder under the system's temporary folder, removed with all it holds.
class ScopedTempDir {
  public:
    ScopedTempDir();
    ~ScopedTempDir();
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

/// Reads a whole file; empty when it does not exist.
std::string readFile(const std::filesystem::path& path);
/// Writes a whole file, replacing it.
void writeFile(const std::filesystem::path& path, std::string_view content);

}  // namespace pelko::testing
