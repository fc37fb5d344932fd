// Wired iPhones on Linux, read from the USB devices the kernel lists in sysfs.
#pragma once

#include <filesystem>

#include "platform/usb.h"

namespace pelko::phone::linux_usb {

class SysfsUsbDevices final : public UsbDevices {
  public:
    /// Reads the devices under `root` (each a folder with idVendor, product and serial files).
    explicit SysfsUsbDevices(std::filesystem::path root = "/sys/bus/usb/devices")
        : root_(std::move(root)) {}
    /// The serial numbers of the devices of vendor 05ac whose product name begins with
    /// "iPhone", in the order of their folder names; empty when the folder cannot be read.
    std::vector<std::string> wiredIphoneSerials() override;

  private:
    std::filesystem::path root_;
};

}  // namespace pelko::phone::linux_usb
