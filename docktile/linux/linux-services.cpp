#include "linux/linux-services.h"

namespace pelko::docktile {

std::unique_ptr<LinuxServices> makeLinuxServices(MainLoop& loop, const std::string& busAddress) {
    return std::make_unique<LinuxServices>(loop, configHomeFromEnvironment(), busAddress);
}

}  // namespace pelko::docktile
