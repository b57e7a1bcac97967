// SHA-256 (FIPS 180-4) from the system's cryptography library: CommonCrypto on macOS, OpenSSL's
// libcrypto elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace cpi {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The digest of `bytes`. Throws std::bad_alloc when the library cannot allocate its context.
Sha256Digest sha256(std::string_view bytes);

} // namespace cpi
