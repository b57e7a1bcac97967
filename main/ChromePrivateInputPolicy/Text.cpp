#include "ChromePrivateInputPolicy/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utf8proc.h>
#include <vector>

namespace cpi::text {
namespace {

const utf8proc_uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const utf8proc_uint8_t*>(text.data());
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void append(std::string& out, utf8proc_int32_t codePoint) {
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t length = utf8proc_encode_char(codePoint, buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

// Runs utf8proc's mapping with the given options; absent for malformed text.
std::optional<std::string> mapped(std::string_view text, int options) {
    utf8proc_uint8_t* raw = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(bytesOf(text), static_cast<utf8proc_ssize_t>(text.size()),
                                                 &raw, static_cast<utf8proc_option_t>(options));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(raw, &std::free);
    if (length < 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(length));
}

// Calls `visit` with the byte offset and the value of every code point of `text`, in order. False
// at the first malformed sequence or when `visit` answers false.
template <typename Visit>
bool forEachCodePoint(std::string_view text, Visit visit) {
    for (std::size_t offset = 0; offset < text.size();) {
        const DecodedCodePoint decoded = decodedAt(text, offset);
        if (decoded.length == 0 || !visit(offset, static_cast<utf8proc_int32_t>(decoded.value))) {
            return false;
        }
        offset += decoded.length;
    }
    return true;
}

// Calls `visit` with the byte offset of every grapheme cluster boundary of well-formed `text`, in
// order: 0, every break, and the end (0 alone for the empty text). Stops when `visit` answers false.
template <typename Visit>
void forEachBoundary(std::string_view text, Visit visit) {
    if (!visit(std::size_t{0}) || text.empty()) {
        return;
    }
    utf8proc_int32_t state = 0;
    utf8proc_int32_t previous = 0;
    const bool whole = forEachCodePoint(text, [&](std::size_t offset, utf8proc_int32_t current) {
        if (offset > 0 && utf8proc_grapheme_break_stateful(previous, current, &state) && !visit(offset)) {
            return false;
        }
        previous = current;
        return true;
    });
    if (whole) {
        visit(text.size());
    }
}

std::vector<std::size_t> boundariesOf(std::string_view text) {
    std::vector<std::size_t> boundaries;
    forEachBoundary(text, [&](std::size_t offset) {
        boundaries.push_back(offset);
        return true;
    });
    return boundaries;
}

bool allTrimmed(std::string_view cluster, TrimSet set) {
    return forEachCodePoint(cluster, [set](std::size_t, utf8proc_int32_t codePoint) {
        return isTrimmed(static_cast<char32_t>(codePoint), set);
    });
}

} // namespace

DecodedCodePoint decodedAt(std::string_view bytes, std::size_t offset) {
    utf8proc_int32_t codePoint = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(
        bytesOf(bytes) + offset, static_cast<utf8proc_ssize_t>(bytes.size() - offset), &codePoint);
    if (length < 1) {
        return {};
    }
    return {static_cast<char32_t>(codePoint), static_cast<std::size_t>(length)};
}

bool isValidUtf8(std::string_view bytes) {
    return forEachCodePoint(bytes, [](std::size_t, utf8proc_int32_t) { return true; });
}

std::string asciiLowerCased(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string hexEncoded(std::span<const std::uint8_t> bytes) {
    static constexpr std::string_view digits = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::optional<std::string> hexDecoded(std::string_view digits) {
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t index = 0; index < digits.size(); index += 2) {
        // Two hexadecimal digits of either case; an unsigned read takes no sign and no prefix.
        unsigned byte = 0;
        const char* const end = digits.data() + index + 2;
        const auto [stop, error] = std::from_chars(digits.data() + index, end, byte, 16);
        if (error != std::errc{} || stop != end) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(byte));
    }
    return bytes;
}

std::string repaired(std::string_view bytes) {
    if (isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t offset = 0; offset < bytes.size();) {
        const std::size_t length = decodedAt(bytes, offset).length;
        if (length == 0) {
            append(out, 0xFFFD);
            ++offset;
        } else {
            out.append(bytes.substr(offset, length));
            offset += length;
        }
    }
    return out;
}

std::optional<std::string> nfc(std::string_view text) {
    if (isAscii(text)) {
        return std::string(text);
    }
    return mapped(text, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
}

std::optional<std::string> caseFolded(std::string_view text) {
    if (isAscii(text)) {
        return asciiLowerCased(text);
    }
    return mapped(text, UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
}

std::optional<std::string> lowerCased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const bool wellFormed = forEachCodePoint(text, [&out](std::size_t, utf8proc_int32_t codePoint) {
        append(out, utf8proc_tolower(codePoint));
        return true;
    });
    return wellFormed ? nfc(out) : std::nullopt;
}

bool sameText(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        return a == b;
    }
    const std::optional<std::string> left = nfc(a);
    const std::optional<std::string> right = nfc(b);
    return left && right && *left == *right;
}

bool startsWithWhole(std::string_view text, std::string_view prefix) {
    const std::optional<std::string> normalText = nfc(text);
    const std::optional<std::string> normalPrefix = nfc(prefix);
    if (!normalText || !normalPrefix || !std::string_view(*normalText).starts_with(*normalPrefix)) {
        return false;
    }
    const std::size_t cut = normalPrefix->size();
    bool onBoundary = false;
    forEachBoundary(*normalText, [&](std::size_t offset) {
        onBoundary = offset == cut;
        return offset < cut;
    });
    return onBoundary;
}

std::optional<std::size_t> findWhole(std::string_view text, std::string_view needle) {
    if (!isValidUtf8(text) || !isValidUtf8(needle)) {
        return std::nullopt;
    }
    const std::vector<std::size_t> boundaries = boundariesOf(text);
    const auto isBoundary = [&](std::size_t offset) {
        return std::binary_search(boundaries.begin(), boundaries.end(), offset);
    };
    for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) {
        if (isBoundary(at) && isBoundary(at + needle.size())) {
            return at;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> graphemeCount(std::string_view text, std::size_t stopAfter) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    // Every boundary but the one at 0 ends a cluster.
    std::size_t count = 0;
    forEachBoundary(text, [&](std::size_t offset) {
        count += offset > 0 ? 1 : 0;
        return count < stopAfter;
    });
    return count;
}

std::string_view firstGraphemes(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    std::size_t end = 0;
    forEachBoundary(text, [&](std::size_t offset) {
        end = offset;
        seen += offset > 0 ? 1 : 0;
        return seen < count;
    });
    return text.substr(0, end);
}

bool isTrimmed(char32_t codePoint, TrimSet set) {
    if (codePoint == U'\t' || (codePoint <= 0x10FFFF && utf8proc_category(static_cast<utf8proc_int32_t>(
                                                            codePoint)) == UTF8PROC_CATEGORY_ZS)) {
        return true;
    }
    if (set == TrimSet::spacesAndTabs) {
        return false;
    }
    return (codePoint >= 0x0A && codePoint <= 0x0D) || codePoint == 0x85 || codePoint == 0x2028 ||
           codePoint == 0x2029;
}

std::string trimmed(std::string_view bytes, TrimSet set) {
    const std::string text = repaired(bytes);
    const std::vector<std::size_t> boundaries = boundariesOf(text);
    const auto cluster = [&](std::size_t index) {
        return std::string_view(text).substr(boundaries[index], boundaries[index + 1] - boundaries[index]);
    };
    std::size_t first = 0;
    std::size_t last = boundaries.size() - 1; // clusters [first, last) remain
    while (first < last && allTrimmed(cluster(first), set)) {
        ++first;
    }
    while (last > first && allTrimmed(cluster(last - 1), set)) {
        --last;
    }
    return text.substr(boundaries[first], boundaries[last] - boundaries[first]);
}

} // namespace cpi::text
