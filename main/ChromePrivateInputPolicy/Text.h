// Unicode text services of the policy, on utf8proc: validation, canonical equivalence, case
// mapping, extended grapheme clusters and trimming.
//
// Every function takes arbitrary bytes. Text that is not well-formed UTF-8 (overlong forms,
// surrogates, truncated sequences, stray continuation bytes) is never treated as equal to, or as
// containing, anything: the comparisons answer false and the transformations answer absent. Only
// `repaired` and `trimmed`, which produce text for reports, accept it, by replacing every
// malformed sequence with U+FFFD first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cpi::text {

bool isValidUtf8(std::string_view bytes);

// The code point that starts at byte `offset` of `bytes` (below its size), read as strict UTF-8,
// and its length in bytes; length 0 for a malformed sequence (an overlong form, a surrogate, a
// value above U+10FFFF, a cut sequence or a stray continuation byte). The one UTF-8 decoder of the
// tool: it reads the bytes in place and copies nothing, so it may read a secret.
struct DecodedCodePoint {
    char32_t value = 0;
    std::size_t length = 0;
};
DecodedCodePoint decodedAt(std::string_view bytes, std::size_t offset);

// The text with A to Z mapped to a to z and every other byte kept.
std::string asciiLowerCased(std::string_view text);

// Two lower-case hexadecimal digits per byte.
std::string hexEncoded(std::span<const std::uint8_t> bytes);
// The bytes of an even number of hexadecimal digits (either case); absent for anything else.
std::optional<std::string> hexDecoded(std::string_view digits);

// The bytes with every malformed sequence replaced by U+FFFD (valid text comes back unchanged).
std::string repaired(std::string_view bytes);

// Canonical composition (NFC); absent for malformed text.
std::optional<std::string> nfc(std::string_view text);
// Case folding followed by canonical composition; absent for malformed text.
std::optional<std::string> caseFolded(std::string_view text);
// Simple lower-case mapping of every code point followed by canonical composition; absent for
// malformed text.
std::optional<std::string> lowerCased(std::string_view text);

// Whether the two texts are canonically equivalent.
bool sameText(std::string_view a, std::string_view b);

// Whether `text` begins with a text canonically equivalent to `prefix` that ends on a grapheme
// cluster boundary of `text` (so "Work " is not a prefix of "Work \u0301x": the space and the
// combining mark are one user-perceived character). The empty prefix is a prefix of every text.
bool startsWithWhole(std::string_view text, std::string_view prefix);

// Byte offset of the first occurrence of `needle` in `text` (both taken as they are, already
// normalised by the caller) that starts and ends on grapheme cluster boundaries of `text`.
std::optional<std::size_t> findWhole(std::string_view text, std::string_view needle);

// Number of extended grapheme clusters, counting at most up to `stopAfter` (absent for
// malformed text).
std::optional<std::size_t> graphemeCount(std::string_view text, std::size_t stopAfter);

// The first `count` grapheme clusters of well-formed `text` (all of it when it is shorter).
std::string_view firstGraphemes(std::string_view text, std::size_t count);

// Which code points a trim removes.
enum class TrimSet {
    spacesAndTabs,         // general category Zs, and U+0009
    whitespaceAndNewlines, // Zs, U+0009 to U+000D, U+0085, U+2028, U+2029
};
bool isTrimmed(char32_t codePoint, TrimSet set);

// The text without the leading and trailing grapheme clusters that consist of trimmed code points
// only. A cluster that merely begins with one (a space carrying a combining mark) stays whole.
// Malformed sequences are replaced with U+FFFD first.
std::string trimmed(std::string_view text, TrimSet set);

} // namespace cpi::text
