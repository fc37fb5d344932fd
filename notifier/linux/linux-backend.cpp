#include "linux/linux-backend.h"

namespace pelko::notifier {

std::unique_ptr<LinuxBackend> makeLinuxBackend() {
    return std::make_unique<LinuxBackend>();
}

}  // namespace pelko::notifier
