// The USB seam: which iPhones are wired to the computer by cable.
#pragma once

#include <string>
#include <vector>

namespace pelko::phone {

class UsbDevices {
  public:
    virtual ~UsbDevices() = default;
    /// One entry per wired iPhone (vendor 05AC, product name beginning with "iPhone"), in the
    /// system's order: its serial number, or the empty string when it has none. Empty when the
    /// system cannot be asked.
    virtual std::vector<std::string> wiredIphoneSerials() = 0;
};

}  // namespace pelko::phone
