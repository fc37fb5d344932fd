// Scratch room for pictures: bytes that growing does not zero. Every buffer of a picture is
// written in full before it is read, and zeroing ten megabytes costs as much as scaling them.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace pelko::pictures {

/// An allocator that leaves new elements default-initialised (for bytes: as they come).
template <typename T>
struct UnzeroedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnzeroedAllocator<U>;
    };
    UnzeroedAllocator() = default;
    template <typename U>
    UnzeroedAllocator(const UnzeroedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* place, Arguments&&... arguments) {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};

/// Bytes whose `resize` leaves new ones unwritten.
using Scratch = std::vector<std::uint8_t, UnzeroedAllocator<std::uint8_t>>;

}  // namespace pelko::pictures
