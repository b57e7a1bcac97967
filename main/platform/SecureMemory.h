// Wiping of memory that held a secret, and an allocator that wipes every block it releases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cpi {

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not drop.
void secureWipe(void* data, std::size_t size) noexcept;

// An allocator whose blocks are wiped before they are released, so that a container that held a
// secret leaves nothing readable behind, also when it grows.
template <typename T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* pointer, std::size_t count) noexcept {
        secureWipe(pointer, count * sizeof(T));
        std::allocator<T>{}.deallocate(pointer, count);
    }
    template <typename U>
    friend bool operator==(const WipingAllocator&, const WipingAllocator<U>&) noexcept {
        return true;
    }
};

// Bytes that may hold a secret (frame payloads).
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;
// Text that may hold a secret.
using SecureString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Wipes the contents of a buffer in place and empties it, keeping its storage for the allocator
// to wipe again on release.
template <typename Container>
void wipeContents(Container& container) noexcept {
    if (!container.empty()) {
        secureWipe(container.data(), container.size() * sizeof(*container.data()));
    }
    container.clear();
}

} // namespace cpi
