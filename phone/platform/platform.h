// The bundle of what the logic reaches outside itself, handed to every command.
#pragma once

#include <functional>

#include "clock.h"
#include "main-loop.h"
#include "platform/capture.h"
#include "platform/images.h"
#include "platform/pasteboard.h"
#include "platform/usb.h"
#include "platform/video.h"

namespace pelko::phone {

/// Everything the program reaches outside itself. `main` makes the real one; tests make their
/// own with simulated devices, a virtual clock, pipes for the standard streams and an exit
/// that does not end the test.
struct Platform {
    CaptureSystem& capture;
    UsbDevices& usb;
    VideoFiles& video;
    ImageCodec& images;
    Pasteboard& pasteboard;
    Clock& clock;
    /// The main thread's loop; commands that wait for the system park the main thread in it.
    MainLoop& mainLoop;
    int inputFd = 0;
    int outputFd = 1;
    int errorFd = 2;
    /// Ends the process with the status. The real one never returns; a test's may return (then
    /// the caller returns too) or throw.
    std::function<void(int status)> exitProcess;
};

}  // namespace pelko::phone
