// The programs the agent's desktop starts, each owned by one value that ends it, and the search
// for the processes started further down (apps, services the buses start), which come to this
// process when their parents leave them (it is their subreaper).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "clock.h"
#include "fd.h"

namespace pelko::computer::own_desktop {

/// Environment variables by name.
using Environment = std::map<std::string, std::string>;

/// This process's environment.
Environment currentEnvironment();

/// A part of the desktop that cannot start; the text says which and why.
struct StartFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// How to start a program.
struct Launch {
    /// The program (an absolute path, or a name looked up on PATH) and its arguments.
    std::vector<std::string> arguments{};
    Environment environment{};
    /// Standard output and error go to this file (appended); empty: both are this process's.
    std::filesystem::path log{};
    /// Standard error goes to this descriptor instead (the log, if any, keeps standard output).
    int standardError = -1;
    /// Handed to the program as descriptor 3 (where X servers and buses write their address).
    int descriptor3 = -1;
    /// A process group of its own, so that a Ctrl-C in the terminal reaches only this program;
    /// this program ends its parts itself, in order.
    bool ownProcessGroup = true;
    /// Standard input is this process's; otherwise it is /dev/null.
    bool keepsStandardInput = false;
};

/// How a process ended, as `waitpid` reports it.
struct Ending {
    int status = 0;
    bool exited() const;
    /// The exit code, or 128 + the signal that killed it.
    int code() const;
    /// "status 3", "signal 9 (Killed)".
    std::string describe() const;
};

/// A started program. Ended (SIGTERM, then SIGKILL after a grace period) and reaped when its
/// owner ends; it dies with this process too (the parent-death signal), should this process be
/// killed outright. Move-only.
class OwnedProcess {
  public:
    /// Starts `launch`; throws `StartFailure` when it cannot run (not found, not executable).
    static OwnedProcess start(const Launch& launch, Clock& clock);
    OwnedProcess(OwnedProcess&& other) noexcept;
    OwnedProcess& operator=(OwnedProcess&& other) noexcept;
    OwnedProcess(const OwnedProcess&) = delete;
    OwnedProcess& operator=(const OwnedProcess&) = delete;
    ~OwnedProcess();

    pid_t pid() const { return pid_; }
    /// How it ended, once it has (reaping it if needed); nothing while it runs.
    std::optional<Ending> ending();
    /// Ends it: SIGTERM, up to `grace` for it to go, then SIGKILL; returns how it ended.
    Ending end(Duration grace);

  private:
    OwnedProcess(pid_t pid, Clock& clock) : pid_(pid), clock_(&clock) {}
    pid_t pid_ = -1;
    Clock* clock_ = nullptr;
    std::optional<Ending> ending_;
};

/// Reaps every child that has ended (orphans handed to this process among them) and keeps
/// their endings for `OwnedProcess::ending`. Call it on SIGCHLD.
void reapChildren();

/// The program that `name` names: itself when it holds a slash, else the first executable
/// file of that name on `path` (a PATH value), then in `extraFolders`. Nothing when none.
std::optional<std::filesystem::path> findProgram(
    const std::string& name, const std::string& path,
    const std::vector<std::filesystem::path>& extraFolders = {});

/// Every process below `root` in a table of processes' parents (pid → parent pid): children,
/// their children, and so on.
std::set<pid_t> descendantsIn(const std::map<pid_t, pid_t>& parentOf, pid_t root);

/// The processes below `root` now, read from /proc.
std::set<pid_t> descendantsOf(pid_t root);

/// Whether `pid` is a process that has not ended (a zombie has ended).
bool isAlive(pid_t pid);

/// Ends `pids`: SIGTERM to each, up to `grace` for all to go (reaping the ones that are this
/// process's children), then SIGKILL to what is left.
void endProcesses(const std::set<pid_t>& pids, Duration grace, Clock& clock);

/// Polls `condition` every few milliseconds on `clock` until it holds or `limit` has passed;
/// whether it held.
bool waitFor(Clock& clock, Duration limit, const std::function<bool()>& condition);

}  // namespace pelko::computer::own_desktop
