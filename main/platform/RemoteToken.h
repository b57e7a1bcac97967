// The 20-byte remote element token that _AXUIElementCreateWithRemoteToken takes, little-endian:
// process identifier (4 bytes), zero (4 bytes), 0x636F636F (4 bytes), element identifier
// (8 bytes). Discovery builds it; a backend that answers the call reads it back.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace cpi {

class RemoteToken {
public:
    static constexpr std::size_t size = 20;

    explicit RemoteToken(std::int32_t pid) {
        put(pidOffset, static_cast<std::uint32_t>(pid), 4);
        put(markerOffset, marker, 4);
    }
    void setElementIdentifier(std::uint64_t identifier) { put(identifierOffset, identifier, 8); }

    // The token `bytes` spell; absent unless they have the layout above.
    static std::optional<RemoteToken> decode(std::span<const std::uint8_t> bytes) {
        if (bytes.size() != size) {
            return std::nullopt;
        }
        RemoteToken token(0);
        std::copy(bytes.begin(), bytes.end(), token.bytes_.begin());
        if (token.get(pidOffset + 4, 4) != 0 || token.get(markerOffset, 4) != marker) {
            return std::nullopt;
        }
        return token;
    }

    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::int32_t pid() const { return static_cast<std::int32_t>(get(pidOffset, 4)); }
    std::uint64_t elementIdentifier() const { return get(identifierOffset, 8); }

private:
    static constexpr std::uint32_t marker = 0x636F636F;
    static constexpr std::size_t pidOffset = 0;
    static constexpr std::size_t markerOffset = 8;
    static constexpr std::size_t identifierOffset = 12;

    void put(std::size_t offset, std::uint64_t value, std::size_t width) {
        for (std::size_t index = 0; index < width; ++index) {
            bytes_[offset + index] = static_cast<std::uint8_t>(value >> (8 * index));
        }
    }
    std::uint64_t get(std::size_t offset, std::size_t width) const {
        std::uint64_t value = 0;
        for (std::size_t index = width; index-- > 0;) {
            value = (value << 8) | bytes_[offset + index];
        }
        return value;
    }

    std::array<std::uint8_t, size> bytes_{};
};

} // namespace cpi
