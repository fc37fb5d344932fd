// The changes this process makes to the desktop, counted: actions, set attributes and posted
// input. The accessibility part reads an application's tree again after any of them.
#pragma once

#include <atomic>
#include <cstdint>

namespace pelko::computer::linux_desktop {

/// Shared by the backend's parts; any thread may count or read.
struct ChangeCount {
    std::atomic<uint64_t> value{0};
    void bump() { value.fetch_add(1, std::memory_order_relaxed); }
    uint64_t now() const { return value.load(std::memory_order_relaxed); }
};

}  // namespace pelko::computer::linux_desktop
