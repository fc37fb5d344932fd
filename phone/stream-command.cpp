#include "stream-command.h"

#include <csignal>

#include "discovery.h"
#include "output.h"
#include "stream-session.h"

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

}  // namespace

void runStream(Platform& platform, const std::string& uniqueId, const StreamOptions& options) {
    CaptureSystem& capture = platform.capture;

    // A reader that goes away must show up as a failed write, not as a fatal signal.
    std::signal(SIGPIPE, SIG_IGN);
    StreamSession session(platform);

    if (capture.authorizationStatus() != Authorization::authorized) {
        session.finish(1, permissionFailure);
        return platform.exitProcess(1);
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
        session.finish(1, screenMissingNow(platform) ? screenMissingFailure : notConnectedFailure);
        return platform.exitProcess(1);
    }

    if (capture.isInUseByAnotherApplication(uniqueId)) {
        log(platform.errorFd, "the iPhone's screen is in use by another app; trying anyway");
    }

    std::unique_ptr<PhoneStreamer> built;
    try {
        built = std::make_unique<PhoneStreamer>(capture, uniqueId, session.writer(), options,
                                                platform.clock, platform.errorFd);
    } catch (const CaptureError& failure) {
        session.finish(1, capture.isInUseByAnotherApplication(uniqueId)
                              ? busyFailure
                              : StreamFailure{"failed", failure.what()});
        return platform.exitProcess(1);
    }
    PhoneStreamer& streamer = session.adopt(std::move(built));

    // The system reports on its own threads, which the ending must not run on.
    capture.observeDisconnect([&session, uniqueId](const std::string& gone) {
        if (gone == uniqueId) session.stop(0, disconnectedFailure);
    });
    capture.observeRuntimeError(
        [&session, &capture, uniqueId](const std::optional<std::string>& error) {
            const bool inUse = capture.isInUseByAnotherApplication(uniqueId);
            session.stop(1, StreamFailure{inUse ? "busy" : "failed",
                                          error ? *error : "The capture session stopped."});
        });
    session.watchHostStops();

    streamer.start();
    if (!streamer.isRunning()) {
        session.finish(
            1, capture.isInUseByAnotherApplication(uniqueId) ? busyFailure : notStartedFailure);
    }
    // Everything else happens on other threads; one of them ends the process.
    platform.mainLoop.run();
}

}  // namespace pelko::phone
