// The per-application preferences seam: the values another application stores under its
// domain (its bundle identifier), as this process sees them.
#pragma once

#include <optional>
#include <string>

#include "platform/property-value.h"

namespace pelko::docktile {

class PreferencesDomains {
  public:
    virtual ~PreferencesDomains() = default;
    /// Makes what the owning application wrote to `domain` since this process last looked
    /// visible to `value`. A domain that cannot be read reads as empty.
    virtual void synchronize(const std::string& domain) = 0;
    /// The value stored under `key` in `domain` as last synchronised (read on first use when
    /// never synchronised); nothing when the key is missing or the domain cannot be read.
    virtual std::optional<PropertyValue> value(const std::string& domain,
                                               const std::string& key) = 0;
};

}  // namespace pelko::docktile
