// Standard input replaced by a given byte string (an in-memory file), for targets that drive code
// reading file descriptor 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace cpi::fuzz {

inline void setStandardInput(const std::uint8_t* data, std::size_t size) {
    const int file = ::memfd_create("stdin", 0);
    if (file < 0) {
        std::abort();
    }
    for (std::size_t written = 0; written < size;) {
        const ssize_t count = ::write(file, data + written, size - written);
        if (count <= 0) {
            std::abort();
        }
        written += static_cast<std::size_t>(count);
    }
    if (::lseek(file, 0, SEEK_SET) != 0 || ::dup2(file, 0) != 0) {
        std::abort();
    }
    ::close(file);
}

} // namespace cpi::fuzz
