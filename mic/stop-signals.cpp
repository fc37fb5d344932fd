#include "stop-signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace pelko::mic {

namespace {

// The write end of the pipe through which the handler passes signals to a thread: a signal
// handler can reach nothing but such a value. Set once, before the handler is installed.
int signalPipeWrite = -1;

extern "C" void forwardSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] const auto written = ::write(signalPipeWrite, &byte, 1);
    errno = saved;
}

}  // namespace

void watchStopSignals(MainLoop& mainLoop, std::function<void()> handler) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    signalPipeWrite = fds[1];
    // The thread is waiting before any signal can reach the handler.
    std::thread([&mainLoop, readEnd = fds[0], handler = std::move(handler)] {
        char byte;
        for (;;) {
            const ssize_t n = ::read(readEnd, &byte, 1);
            if (n == 1) {
                mainLoop.post(handler);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return;
            }
        }
    }).detach();
    for (int number : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        // Restarted calls: a signal never makes the recorder's reads and writes fail.
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

}  // namespace pelko::mic
