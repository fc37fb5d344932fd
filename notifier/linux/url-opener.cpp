#include "linux/url-opener.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

#include "fd.h"

extern char** environ;

namespace pelko::notifier {
namespace {

/// The file `program` names: itself when it holds a slash, else the first executable of that
/// name in PATH.
std::optional<std::string> resolve(const std::string& program) {
    if (program.empty()) return std::nullopt;
    if (program.find('/') != std::string::npos) {
        if (::access(program.c_str(), X_OK) == 0) return program;
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

}  // namespace

std::string urlOpener(const char* openerVariable) {
    if (openerVariable && *openerVariable) return openerVariable;
    return "xdg-open";
}

bool startDetached(const std::string& program, const std::string& argument) {
    auto file = resolve(program);
    if (!file) return false;
    FileDescriptor null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    // The grandchild writes its exec error into this pipe; a successful exec closes it.
    int ends[2];
    if (!null.valid() || ::pipe2(ends, O_CLOEXEC) != 0) return false;
    FileDescriptor reportRead(ends[0]);
    FileDescriptor reportWrite(ends[1]);
    // Everything the children touch is ready before the fork: between fork and exec, a process
    // with other threads may only make async-signal-safe calls.
    std::vector<char*> argv{const_cast<char*>(file->c_str()), const_cast<char*>(argument.c_str()),
                            nullptr};
    int nullFd = null.get();
    int reportFd = reportWrite.get();

    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        // The child only starts the grandchild and leaves, so the opener is never ours to reap.
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::dup2(nullFd, STDIN_FILENO);
            ::dup2(nullFd, STDOUT_FILENO);
            struct sigaction fallback {};
            fallback.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &fallback, nullptr);
            ::execve(argv[0], argv.data(), environ);
            int error = errno;
            [[maybe_unused]] ssize_t written = ::write(reportFd, &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    // Ours is the last write end: the read ends at the grandchild's exec, or brings its error.
    reportWrite.reset();
    int error = 0;
    auto got = readExactly(reportRead.get(), &error, sizeof error);
    return got && got.value() == 0;
}

}  // namespace pelko::notifier
