// The Linux backend of pelko-phone put together: what this computer itself provides.
#pragma once

#include <memory>

#include "clock.h"
#include "platform/images.h"
#include "platform/pasteboard.h"
#include "platform/usb.h"
#include "platform/video.h"

namespace pelko::phone::linux_backend {

/// The seams the computer provides itself.
struct LinuxPhone {
    /// Wired iPhones from sysfs.
    std::unique_ptr<UsbDevices> usb;
    /// Videos and picture files read with FFmpeg (its own messages silenced).
    std::unique_ptr<VideoFiles> video;
    std::unique_ptr<ImageCodec> images;
    /// The X11 clipboard of DISPLAY.
    std::unique_ptr<Pasteboard> pasteboard;
};

/// The computer's own devices, files and clipboard; `clock` must outlive them.
LinuxPhone makeLinuxPhone(Clock& clock);

}  // namespace pelko::phone::linux_backend
