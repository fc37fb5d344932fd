// The real desktop the Linux desktop tests share: ctest runs the whole test binary inside one
// session of scripts/desktop-session (the accessibility bus on, the widget factory running), so
// the tests find it in their own environment and run pelko-computer and X clients in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "child-process.h"
#include "json-line.h"

namespace pelko::computer::testing {

using pelko::testing::ChildOptions;
using pelko::testing::ChildProcess;

class DesktopSession {
  public:
    /// The session of this test run, read once.
    static const DesktopSession& get();

    /// Why the desktop tests cannot run here; empty when they can.
    std::string unavailable;
    /// The session's display (":1").
    std::string display;

    /// Options for a child that works on the real desktop (not on a scene).
    ChildOptions options() const;
    /// Runs `argv` (a program found on PATH) to its end; its exit code (-1 when it did not end
    /// in 20 s). Its standard output goes to `output` when given.
    int run(const std::vector<std::string>& argv, std::string* output = nullptr) const;
};

/// Skips the test, with the reason, when there is no desktop to run on.
#define SKIP_WITHOUT_DESKTOP()                                                   \
    do {                                                                         \
        const auto& session = ::pelko::computer::testing::DesktopSession::get(); \
        if (!session.unavailable.empty()) GTEST_SKIP() << session.unavailable;   \
    } while (false)

/// pelko-computer running on the session's desktop.
class DesktopComputer {
  public:
    DesktopComputer();
    /// pelko-computer with `arguments`, started with `options`.
    DesktopComputer(const std::vector<std::string>& arguments, const ChildOptions& options);
    ~DesktopComputer();
    /// The `ready` line.
    const JSON& ready() const { return ready_; }
    /// Sends a request (its id is set here) and returns the reply, keeping the events that came
    /// before it; a null value when none came within `timeout`.
    JSON request(const std::string& method, const JSON& params = JSON::object(),
                 pelko::testing::Timeout timeout = pelko::testing::Timeout{30000});
    /// The result of a request that must succeed (the test fails otherwise).
    JSON result(const std::string& method, const JSON& params = JSON::object());
    /// The next event line within `timeout`; a null value when none came.
    JSON nextEvent(pelko::testing::Timeout timeout);
    ChildProcess& child() { return *child_; }

  private:
    std::unique_ptr<ChildProcess> child_;
    JSON ready_;
    std::vector<JSON> events_;
    int nextId_ = 1;
};

/// The description of the running app named `name` in a listApps result; null when absent.
JSON appNamed(const JSON& listApps, const std::string& name);

/// The lines of an outline.
std::vector<std::string> linesOf(const std::string& text);
/// Whether a line of the outline matches `pattern` (a regular expression).
bool hasLine(const std::string& tree, const std::string& pattern);
/// The index of the first line matching `pattern`; 0 when none does.
int64_t indexOf(const std::string& tree, const std::string& pattern);
/// The index of the last line matching `pattern`; 0 when none does.
int64_t lastIndexOf(const std::string& tree, const std::string& pattern);

/// A line of an app's outline: its index and its text (index 0 when no line matched).
struct Found {
    int64_t index = 0;
    std::string line;
};
/// The first line of a fresh `state` read of `app` matching `pattern`.
Found findLine(DesktopComputer& computer, const std::string& app, const std::string& pattern);
/// The same, read again (a tenth of a second apart, `attempts` times at most) until a line
/// matches: apps answer a click or keys a moment later.
Found awaitLine(DesktopComputer& computer, const JSON& stateParams, const std::string& pattern,
                int attempts = 50);

/// Ends an app a test opened and waits until the program no longer lists it, so that the next
/// test opens a copy of its own.
void endApp(DesktopComputer& computer, pid_t pid);

/// An app the test starts itself, as a user starts it from a terminal, ended (with its process
/// group) when the test ends.
class StartedApp {
  public:
    explicit StartedApp(const std::vector<std::string>& argv);
    ~StartedApp();
    StartedApp(const StartedApp&) = delete;
    StartedApp& operator=(const StartedApp&) = delete;
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace pelko::computer::testing
