#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <algorithm>

namespace cpi {

void CheckMap::set(std::string_view key, std::int64_t value) {
    const auto found = std::ranges::find(entries_, key, &Entry::first);
    if (found != entries_.end()) {
        found->second = value;
    } else {
        entries_.emplace_back(std::string(key), value);
    }
}

std::optional<std::int64_t> CheckMap::get(std::string_view key) const {
    const auto found = std::ranges::find(entries_, key, &Entry::first);
    return found != entries_.end() ? std::optional(found->second) : std::nullopt;
}

} // namespace cpi
