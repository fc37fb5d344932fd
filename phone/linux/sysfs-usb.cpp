#include "linux/sysfs-usb.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <string>

namespace pelko::phone::linux_usb {

namespace {

/// The first line of a sysfs attribute file; nothing when the device has no such attribute.
std::optional<std::string> attribute(const std::filesystem::path& device, const char* name) {
    std::ifstream file(device / name);
    if (!file) return {};
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

std::vector<std::string> SysfsUsbDevices::wiredIphoneSerials() {
    std::vector<std::filesystem::path> devices;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
        devices.push_back(entry.path());
    }
    if (error) return {};
    std::sort(devices.begin(), devices.end());

    std::vector<std::string> serials;
    for (const auto& device : devices) {
        auto vendorText = attribute(device, "idVendor");
        if (!vendorText) continue;  // an interface, not a device
        unsigned vendor = 0;
        auto [end, failed] = std::from_chars(vendorText->data(),
                                             vendorText->data() + vendorText->size(), vendor, 16);
        if (failed != std::errc() || end != vendorText->data() + vendorText->size()) continue;
        if (vendor != 0x05AC) continue;
        auto product = attribute(device, "product");
        if (!product || !product->starts_with("iPhone")) continue;
        serials.push_back(attribute(device, "serial").value_or(""));
    }
    return serials;
}

}  // namespace pelko::phone::linux_usb
