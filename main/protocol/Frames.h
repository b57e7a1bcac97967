// Frames in, result lines out.
//
// Everything the agent sends arrives on standard input as frames: a 4-byte big-endian payload
// length N, then N bytes. A frame is accepted only when 1 <= N <= the maximum of its use.
// Everything the tool answers leaves on standard output as one compact JSON object plus a line
// feed, in a single write. Standard input is read straight from file descriptor 0 with no
// buffering, so the tool never consumes a byte past the last frame it needs.
#pragma once

#include "platform/SecureMemory.h"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

namespace cpi {

// Payload maxima by use.
inline constexpr std::uint32_t deliveryRequestFrameMaximum = 0x4000;  // 16384
inline constexpr std::uint32_t deliverySecretFrameMaximum = 0x100000; // 1048576
inline constexpr std::uint32_t countRequestFrameMaximum = 0x4000;     // 16384
inline constexpr std::uint32_t keyRequestFrameMaximum = 0x10000;      // 65536
inline constexpr std::uint32_t clipboardSecretFrameMaximum = 0x40000; // 262144

// Exactly `count` bytes from standard input, read in as many pieces as the input delivers them;
// absent when the input ends or fails first (the bytes already read are wiped and dropped).
std::optional<SecureBytes> readExactly(std::size_t count);

// The payload of the next frame; absent when the input ends inside the frame, fails, or announces
// a length of 0 or above `maximum` (the payload is then neither read nor skipped).
std::optional<SecureBytes> readFrame(std::uint32_t maximum);

// Writes `map` as one compact JSON line in one write. A map that cannot be serialised (a string
// that is not UTF-8, for one) is not written at all; errors of the write are dropped.
void writeResult(const nlohmann::ordered_json& map);

// The text of a secret frame's payload, viewed in place (the secret is never decoded into a buffer
// of its own): the payload without a leading byte order mark, which decoded text does not include.
// Absent when the payload is not well-formed UTF-8 (no overlong forms, surrogates, code points
// above U+10FFFF or truncated sequences).
std::optional<std::span<const char>> secretText(std::span<const std::uint8_t> payload);

} // namespace cpi
