// Shared helpers of the policy tests.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <initializer_list>
#include <ostream>
#include <string>

namespace cpi {

inline CheckMap checkMap(std::initializer_list<CheckMap::Entry> entries) {
    CheckMap map;
    for (const auto& [key, value] : entries) {
        map.set(key, value);
    }
    return map;
}

// The wire string of a verdict's reason code; absent for an accepted verdict (the tables hold the
// strings the lines carry).
template <typename T>
std::optional<std::string> wire(const Verdict<T>& verdict) {
    return verdict ? std::nullopt : std::optional(std::string(wireName(verdict.refusal()->reason)));
}

inline void PrintTo(const CheckMap& map, std::ostream* out) {
    *out << "{";
    for (const auto& [key, value] : map.entries()) {
        *out << " " << key << ": " << value;
    }
    *out << " }";
}

inline std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

} // namespace cpi
