#include "supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "own-desktop.h"

namespace pelko::computer::own_desktop {
namespace {

constexpr Duration programEndGrace = seconds(2);
const char* const desktopEnded = "the agent's desktop and everything started in it have ended.";

void say(const std::string& line) {
    std::cerr << "pelko-computer: " << line << std::endl;
}

// Why the desktop ends.
struct Reason {
    enum Kind { programEnded, windowClosed, serverEnded, signalled } kind;
    int signal = 0;
};

// The program inside writes its diagnostics through this process, which stops passing them on
// once the desktop ends: the complaints of a program whose display went away tell nothing.
class ErrorRelay {
  public:
    ErrorRelay() {
        auto made = makePipe();
        if (!made) throw StartFailure("cannot make a pipe: " + made.error().describe());
        pipe_ = std::move(made).take();
        fcntl(pipe_.readEnd.get(), F_SETFL, O_NONBLOCK);
    }
    int writeEnd() const { return pipe_.writeEnd.get(); }
    int readEnd() const { return pipe_.readEnd.get(); }
    /// After the program started: only it (and what it starts) holds the writing end.
    void closeWriteEnd() { pipe_.writeEnd.reset(); }
    /// Passes on what has come; false at the end of it.
    bool relay() {
        char buffer[4096];
        for (;;) {
            const ssize_t count = read(pipe_.readEnd.get(), buffer, sizeof buffer);
            if (count > 0) {
                [[maybe_unused]] const auto written =
                    writeAll(STDERR_FILENO, {buffer, size_t(count)});
                continue;
            }
            return count < 0 && (errno == EAGAIN || errno == EINTR);
        }
    }
    void stop() { pipe_.readEnd.reset(); }

  private:
    Pipe pipe_;
};

// The signals this process waits for, read from a descriptor instead of handled: the end of a
// child, and the requests to stop.
class Signals {
  public:
    Signals() {
        sigemptyset(&set_);
        for (const int number : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGQUIT})
            sigaddset(&set_, number);
        sigprocmask(SIG_BLOCK, &set_, nullptr);
        fd_.reset(signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC));
    }
    int descriptor() const { return fd_.get(); }
    /// The stop request among what came, if any (the children's ends are reaped by the caller).
    std::optional<int> stopRequest() {
        std::optional<int> request;
        signalfd_siginfo info{};
        while (read(fd_.get(), &info, sizeof info) == sizeof info) {
            if (info.ssi_signo != SIGCHLD && !request) request = static_cast<int>(info.ssi_signo);
        }
        return request;
    }
    /// Back to the default handling, to end this process by `number`.
    [[noreturn]] void endBy(int number) {
        signal(number, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &set_, nullptr);
        raise(number);
        _exit(128 + number);
    }

  private:
    sigset_t set_{};
    FileDescriptor fd_;
};

std::string signalName(int number) {
    const char* abbreviation = sigabbrev_np(number);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(number);
}

// This program's file, to run again inside the desktop.
std::string ownProgram() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("/proc/self/exe") : path.string();
}

// Waits until the program ends, the X server goes or a stop request comes, passing the
// program's diagnostics on meanwhile.
Reason waitForTheEnd(OwnDesktop& desktop, OwnedProcess& program, Signals& signals,
                     ErrorRelay& relay, const OwnDesktopOptions& options) {
    bool relaying = true;
    for (;;) {
        if (const auto request = signals.stopRequest()) return {Reason::signalled, *request};
        // The X server first: a program whose display went away ends because of it.
        if (desktop.xServerGone() || desktop.xServer().ending())
            return {options.headless ? Reason::serverEnded : Reason::windowClosed};
        if (program.ending()) {
            // What it said last is passed on; apps it started may still hold the pipe.
            if (relaying) relay.relay();
            return {Reason::programEnded};
        }
        if (relaying) relaying = relay.relay();

        pollfd watched[] = {{signals.descriptor(), POLLIN, 0},
                            {desktop.watchDescriptor(), POLLIN, 0},
                            {relaying ? relay.readEnd() : -1, POLLIN, 0}};
        if (poll(watched, 3, -1) < 0 && errno != EINTR) return {Reason::serverEnded};
    }
}

}  // namespace

int runOwnDesktop(const OwnDesktopCommand& command) {
    // Orphans of the desktop (apps, which start detached, and what the buses start) come to
    // this process, so it can end them all.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    signal(SIGPIPE, SIG_IGN);
    Signals signals;
    RealClock clock;
    const Environment user = currentEnvironment();
    std::unique_ptr<OwnDesktop> desktop;
    try {
        desktop = OwnDesktop::start(command.options, user, clock);
    } catch (const StartFailure& failure) {
        say(std::string("the agent's desktop did not start: ") + failure.what() + ".");
        return 1;
    }
    if (command.options.headless) {
        say("the agent's desktop is display " + desktop->display() + " (headless).");
    } else {
        const auto outer = user.find("DISPLAY");
        say("the agent's desktop is display " + desktop->display() + ", shown in a window on " +
            outer->second + ".");
    }

    std::optional<ErrorRelay> relay;
    // In this process's group, as the program would be without a desktop of its own, with its
    // standard input and output.
    Launch launch{.arguments = {ownProgram()},
                  .environment = desktop->environment(),
                  .standardError = -1,
                  .ownProcessGroup = false,
                  .keepsStandardInput = true};
    launch.arguments.insert(launch.arguments.end(), command.passOn.begin(), command.passOn.end());
    std::optional<OwnedProcess> program;
    try {
        relay.emplace();
        launch.standardError = relay->writeEnd();
        program = OwnedProcess::start(launch, clock);
    } catch (const StartFailure& failure) {
        say(std::string("the program did not start in the agent's desktop: ") + failure.what() +
            ".");
        return 1;
    }
    relay->closeWriteEnd();

    const Reason reason = waitForTheEnd(*desktop, *program, signals, *relay, command.options);
    relay->stop();
    const Ending programEnding = program->end(programEndGrace);
    desktop.reset();
    switch (reason.kind) {
        case Reason::programEnded:
            if (programEnding.exited() && programEnding.code() == 0) {
                say(std::string("the input ended; ") + desktopEnded);
                return 0;
            }
            say("the program in the agent's desktop ended with " + programEnding.describe() + "; " +
                desktopEnded);
            return programEnding.code();
        case Reason::windowClosed:
            say(std::string("the agent's desktop window was closed; ") + desktopEnded);
            return 0;
        case Reason::serverEnded:
            say(std::string("the agent's desktop's X server ended unexpectedly; ") + desktopEnded);
            return 1;
        case Reason::signalled:
            say("stopped by " + signalName(reason.signal) + "; " + desktopEnded);
            signals.endBy(reason.signal);
    }
    return 1;
}

}  // namespace pelko::computer::own_desktop
