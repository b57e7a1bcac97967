// The JSON requests of the Accessibility modes, decoded from the first frame on standard input.
//
// Decoding checks presence and types only: a value's bounds (the profile name's length, the number
// of allowed origins) are judged later by the code that uses it, with a reason code. Keys are
// matched exactly; unknown keys are ignored whatever their values; a key given twice at the top
// level makes the request ambiguous and fails it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cpi {

// Parameters of the delivery and key modes.
struct Request {
    std::string profileName;
    std::vector<std::string> allowedOrigins;
    std::optional<std::uint32_t> windowNumber;        // the window-server number the agent expects
    std::optional<std::vector<std::string>> baseline; // key fingerprints of an earlier baseline
    // Only a password field may take the secret ("secureFieldOnly": true); absent, null or false
    // leaves the plain text field allowed too.
    bool secureFieldOnly = false;
};

// Parameters of the profile window count.
struct CountRequest {
    std::string profileName;
};

// Absent when `payload` is not one UTF-8 JSON object carrying the required keys with the right types.
std::optional<Request> decodeRequest(std::span<const std::uint8_t> payload);
std::optional<CountRequest> decodeCountRequest(std::span<const std::uint8_t> payload);

} // namespace cpi
