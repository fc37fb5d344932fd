#include "desktop-session.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

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
