// Helpers shared by the fuzz targets: the input as text, and cut into fields.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cpi::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at every line feed; at least one (possibly empty) field.
inline std::vector<std::string> fields(std::string_view input) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t end = input.find('\n');
        parts.emplace_back(input.substr(0, end));
        if (end == std::string_view::npos) {
            return parts;
        }
        input.remove_prefix(end + 1);
    }
}

} // namespace cpi::fuzz
