#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <algorithm>

namespace cpi {

void CheckMap::set(std::string_view key, std::int64_t value) {
    const auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
    if (found != entries_.end()) {
        found->second = value;
    } else {
        entries_.emplace_back(std::string(key), value);
    }
}

std::optional<std::int64_t> CheckMap::get(std::string_view key) const {
    const auto found =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
    if (found == entries_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace cpi
