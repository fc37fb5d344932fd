#include "linux-phone.h"

extern "C" {
#include <libavutil/log.h>
}

#include "linux/ffmpeg-images.h"
#include "linux/ffmpeg-video.h"
#include "linux/sysfs-usb.h"
#include "linux/x11-pasteboard.h"

namespace pelko::phone::linux_backend {

LinuxPhone makeLinuxPhone(Clock& clock) {
    // FFmpeg's own messages would mix with the program's sentences on standard error.
    av_log_set_level(AV_LOG_QUIET);
    LinuxPhone phone;
    phone.usb = std::make_unique<linux_usb::SysfsUsbDevices>();
    phone.video = std::make_unique<FFmpegVideoFiles>();
    phone.images = std::make_unique<FFmpegImageCodec>();
    phone.pasteboard = std::make_unique<X11Pasteboard>(clock);
    return phone;
}

}  // namespace pelko::phone::linux_backend
