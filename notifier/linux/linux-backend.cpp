#include "linux/linux-backend.h"

#include <cstdlib>

#include "linux/url-opener.h"

namespace pelko::notifier {

std::unique_ptr<LinuxBackend> makeLinuxBackend(Clock* clock, std::ostream* log) {
    auto backend = std::make_unique<LinuxBackend>();
    if (clock) {
        X11Options options;
        options.opener = urlOpener(std::getenv("PELKO_NOTIFIER_OPENER"));
        options.scale = desktopScale(std::getenv("GDK_SCALE"));
        options.log = log;
        backend->windowing = X11Windowing::connect(*clock, nullptr, std::move(options));
    }
    return backend;
}

}  // namespace pelko::notifier
