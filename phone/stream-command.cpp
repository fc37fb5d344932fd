#include "stream-command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "discovery.h"
#include "framed-writer.h"

namespace pelko::phone {

namespace {

const StreamFailure permissionFailure{
    "permission", "Pelko is not allowed to use the camera, which covers the iPhone's screen."};
const StreamFailure screenMissingFailure{
    "screenMissing", "The Mac sees the iPhone as a camera only, not its screen."};
const StreamFailure notConnectedFailure{"gone", "The iPhone is not connected."};
const StreamFailure disconnectedFailure{"gone", "The iPhone was disconnected."};
const StreamFailure busyFailure{"busy", "Another app is showing this iPhone's screen."};
const StreamFailure notStartedFailure{"failed", "The capture session did not start."};

// The write end of the pipe through which the signal handler hands SIGTERM and SIGINT to a
// thread. A signal handler can reach nothing else; it is set once before the handler exists.
int signalPipeWrite = -1;

extern "C" void forwardSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] auto written = ::write(signalPipeWrite, &byte, 1);
    errno = saved;
}

/// Hands SIGTERM and SIGINT to `onSignal`, which runs on the global queue.
void watchStopSignals(std::function<void()> onSignal) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    signalPipeWrite = fds[1];
    for (int number : {SIGTERM, SIGINT}) {
        std::signal(number, SIG_IGN);
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
    std::thread([readEnd = fds[0], onSignal = std::move(onSignal)] {
        char byte;
        for (;;) {
            const ssize_t n = ::read(readEnd, &byte, 1);
            if (n == 1) {
                submitToGlobalQueue(onSignal);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return;
            }
        }
    }).detach();
}

}  // namespace

void submitToGlobalQueue(std::function<void()> task) {
    std::thread(std::move(task)).detach();
}

void finishStream(PhoneProcess& process, std::int32_t code,
                  const std::optional<StreamFailure>& error) {
    std::shared_ptr<PhoneStreamer> streamer;
    {
        std::lock_guard guard(process.exitLock);
        if (process.exiting) return;
        process.exiting = true;
        streamer = process.streamer;
    }
    if (error) {
        log(process.platform.errorFd, error->message);
        process.writer->sendStatus(
            {{"event", "error"}, {"code", error->code}, {"message", error->message}});
    }
    if (streamer) streamer->stop();
    process.writer->drain();
    process.exit(code);
}

void runStream(PhoneProcess& process, const std::string& uniqueId, const StreamOptions& options) {
    Platform& platform = process.platform;
    CaptureSystem& capture = platform.capture;

    // A reader that goes away must show up as a failed write, not as a fatal signal.
    std::signal(SIGPIPE, SIG_IGN);
    process.writer->setOnBrokenPipe([&process] {
        submitToGlobalQueue([&process] { finishStream(process, 0, std::nullopt); });
    });

    if (capture.authorizationStatus() != Authorization::authorized) {
        finishStream(process, 1, permissionFailure);
        return process.exit(1);
    }

    enableScreenCaptureDevices(platform);

    std::optional<CaptureDeviceInfo> device;
    spin(platform.clock, seconds(8.0), seconds(0.25), [&] {
        for (auto& screen : phoneScreens(capture)) {
            if (screen.uniqueId == uniqueId) {
                device = std::move(screen);
                return true;
            }
        }
        return false;
    });
    if (!device) {
        finishStream(process, 1,
                     screenMissingNow(platform) ? screenMissingFailure : notConnectedFailure);
        return process.exit(1);
    }

    if (capture.isInUseByAnotherApplication(uniqueId)) {
        log(platform.errorFd, "the iPhone's screen is in use by another app; trying anyway");
    }

    std::shared_ptr<PhoneStreamer> streamer;
    try {
        streamer = std::make_shared<PhoneStreamer>(capture, uniqueId, process.writer, options,
                                                   platform.clock, platform.errorFd);
    } catch (const CaptureError& failure) {
        finishStream(process, 1,
                     capture.isInUseByAnotherApplication(uniqueId)
                         ? busyFailure
                         : StreamFailure{"failed", failure.what()});
        return process.exit(1);
    }
    {
        std::lock_guard guard(process.exitLock);
        process.streamer = streamer;
    }

    capture.observeDisconnect([&process, uniqueId](const std::string& gone) {
        if (gone != uniqueId) return;
        submitToGlobalQueue([&process] { finishStream(process, 0, disconnectedFailure); });
    });
    capture.observeRuntimeError([&process, uniqueId](const std::optional<std::string>& error) {
        const bool inUse = process.platform.capture.isInUseByAnotherApplication(uniqueId);
        StreamFailure failure{inUse ? "busy" : "failed",
                              error ? *error : "The capture session stopped."};
        submitToGlobalQueue(
            [&process, failure = std::move(failure)] { finishStream(process, 1, failure); });
    });

    std::thread([&process] {
        char byte;
        for (;;) {
            const ssize_t n = ::read(process.platform.inputFd, &byte, 1);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        finishStream(process, 0, std::nullopt);
    }).detach();

    watchStopSignals([&process] { finishStream(process, 0, std::nullopt); });

    streamer->start();
    if (!streamer->isRunning()) {
        finishStream(
            process, 1,
            capture.isInUseByAnotherApplication(uniqueId) ? busyFailure : notStartedFailure);
    }
    // Everything else happens on other threads; one of them ends the process.
    platform.mainLoop.run();
}

}  // namespace pelko::phone
