// UTF-8 and UTF-16 code units for the macOS backend: CFString speaks UTF-16, the rest of the tool
// UTF-8. Plain C++, so that it is tested on every machine.
#pragma once

#include "ChromePrivateInputPolicy/Text.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cpi::utf16 {

// Appends to `units` the UTF-16 form of `utf8`, which must be strict UTF-8: no overlong form, no
// surrogate, nothing above U+10FFFF, no cut or stray sequence. Returns false when it is not
// (`units` then holds a part of the text). Never appends more units than `utf8` has bytes, so a
// buffer reserved to that size never reallocates (a secret is never copied by a regrowth).
template <typename Units>
bool appendFromUtf8(std::span<const char> utf8, Units& units) {
    const std::string_view bytes(utf8.data(), utf8.size());
    for (std::size_t index = 0; index < bytes.size();) {
        const text::DecodedCodePoint decoded = text::decodedAt(bytes, index);
        if (decoded.length == 0) {
            return false;
        }
        char32_t scalar = decoded.value;
        if (scalar < 0x10000) {
            units.push_back(static_cast<std::uint16_t>(scalar));
        } else {
            scalar -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (scalar >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (scalar & 0x3FFu)));
        }
        index += decoded.length;
    }
    return true;
}

// Writes UTF-16 code units into a string as UTF-8. Each unpaired surrogate becomes U+FFFD, so the
// output is always valid UTF-8 whatever the units. Never writes more than three bytes per unit,
// so a string reserved to that size never reallocates. Call `finish` after the last unit.
class Utf8Writer {
public:
    explicit Utf8Writer(std::string& out) : out_(out) {}

    void add(std::uint16_t unit) {
        if (pendingHigh_ != 0) {
            const char32_t high = pendingHigh_;
            pendingHigh_ = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                encode(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00u));
                return;
            }
            encode(replacement);
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            pendingHigh_ = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            encode(replacement);
        } else {
            encode(unit);
        }
    }

    void finish() {
        if (pendingHigh_ != 0) {
            pendingHigh_ = 0;
            encode(replacement);
        }
    }

private:
    static constexpr char32_t replacement = 0xFFFD;

    void encode(char32_t scalar) {
        if (scalar < 0x80) {
            out_.push_back(static_cast<char>(scalar));
        } else if (scalar < 0x800) {
            out_.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
            out_.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        } else if (scalar < 0x10000) {
            out_.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
            out_.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        } else {
            out_.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
            out_.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        }
    }

    std::string& out_;
    char32_t pendingHigh_ = 0;
};

} // namespace cpi::utf16
