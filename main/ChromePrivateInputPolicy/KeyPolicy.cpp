// Keys: which elements may show one, the key runs of a text, fingerprints, the new key of a
// capture, and the "keyCheck" map.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "ChromePrivateInputPolicy/Sha256.h"
#include "ChromePrivateInputPolicy/Text.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace cpi {
namespace {

constexpr std::int64_t textNodeCap = 99999;
constexpr std::size_t shortestRun = 40;
constexpr std::size_t longestRun = 4096;

// What a byte is to the run scanner. Bytes of non-ASCII characters are "other": neither key
// characters nor forbidden neighbours. Only `keyCharacter` has bit 0 set, so that the classes of
// several bytes ANDed together tell whether all of them are key characters.
enum ByteClass : std::uint8_t {
    other = 0,
    keyCharacter = 1,
    barsBoth = 2,  // "." and "/": no run directly before or after them
    barsAfter = 4, // "=": no run directly after it; a run may end on it ("...key==")
};

// The characters a key is made of: [A-Za-z0-9_-].
constexpr std::string_view keyCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

constexpr std::array<std::uint8_t, 256> byteClasses = [] {
    std::array<std::uint8_t, 256> classes{};
    for (const char c : keyCharacters) {
        classes[static_cast<unsigned char>(c)] = keyCharacter;
    }
    classes['.'] = barsBoth;
    classes['/'] = barsBoth;
    classes['='] = barsAfter;
    return classes;
}();

std::set<std::string> freshRuns(const std::vector<std::string>& runs, const std::set<std::string>& baseline) {
    const std::set<std::string> distinct(runs.begin(), runs.end());
    std::set<std::string> fresh;
    std::ranges::copy_if(distinct, std::inserter(fresh, fresh.end()), [&](const std::string& run) {
        return !baseline.contains(ChromePrivateInputPolicy::keyFingerprint(run));
    });
    return fresh;
}

std::set<std::string> focusedAmong(const std::set<std::string>& fresh,
                                   const std::vector<std::string>& focusedRuns) {
    std::set<std::string> focused;
    std::ranges::copy_if(focusedRuns, std::inserter(focused, focused.end()),
                         [&](const std::string& run) { return fresh.contains(run); });
    return focused;
}

// The end of the stretch of key characters that goes on at `at`: the first byte from `at` on that
// is not a key character, or `size`. Eight bytes per step through long stretches.
std::size_t stretchEnd(const unsigned char* bytes, std::size_t at, std::size_t size) {
    while (size - at >= 8) {
        const unsigned all = byteClasses[bytes[at]] & byteClasses[bytes[at + 1]] &
                             byteClasses[bytes[at + 2]] & byteClasses[bytes[at + 3]] &
                             byteClasses[bytes[at + 4]] & byteClasses[bytes[at + 5]] &
                             byteClasses[bytes[at + 6]] & byteClasses[bytes[at + 7]];
        if ((all & keyCharacter) == 0) {
            break;
        }
        at += 8;
    }
    while (at < size && byteClasses[bytes[at]] == keyCharacter) {
        ++at;
    }
    return at;
}

} // namespace

bool ChromePrivateInputPolicy::isKeyTextNode(std::string_view role,
                                             const std::optional<std::string>& subrole) {
    return (role == axRole::staticText || role == axRole::textField || role == axRole::textArea) &&
           (!subrole || *subrole != axSubrole::secureTextField);
}

// The text splits into maximal stretches of key characters; a stretch of 40 to 4096 of them is a
// run unless a ".", "/" or "=" stands directly before it or a "." or "/" directly after it. This is
// exactly what `keyRunPattern` finds: its look-behind and look-ahead both exclude key characters,
// so a match always spans one whole stretch.
//
// The scan looks only at stretches that can be long enough: when the byte 39 places ahead is not a
// key character, no stretch of 40 starts before it, and the scan jumps past it. So ordinary prose
// costs about one look per 40 bytes, and the whole pass stays linear.
//
// Runs are cut on characters, not on user-perceived characters: a run directly followed by a
// combining mark (or preceded by a prepended mark) is taken whole, without the mark.
std::vector<std::string> ChromePrivateInputPolicy::keyRuns(std::string_view text) {
    std::vector<std::string> runs;
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    // Every stretch that starts before `at` has been dealt with, and the byte before `at` (if any)
    // is not a key character.
    std::size_t at = 0;
    while (at + shortestRun <= size) {
        const std::size_t probe = at + shortestRun - 1;
        if (byteClasses[bytes[probe]] != keyCharacter) {
            at = probe + 1;
            continue;
        }
        std::size_t start = probe;
        while (start > at && byteClasses[bytes[start - 1]] == keyCharacter) {
            --start;
        }
        const std::size_t end = stretchEnd(bytes, probe + 1, size);
        const std::size_t length = end - start;
        const bool clearBefore = start == 0 || byteClasses[bytes[start - 1]] == other;
        const bool clearAfter = end == size || byteClasses[bytes[end]] != barsBoth;
        if (length >= shortestRun && length <= longestRun && clearBefore && clearAfter) {
            runs.emplace_back(text.substr(start, length));
        }
        at = end + 1; // the byte at `end` is not a key character
    }
    return runs;
}

std::string ChromePrivateInputPolicy::keyFingerprint(std::string_view run) {
    return text::hexEncoded(sha256(run));
}

Verdict<std::string> ChromePrivateInputPolicy::newKey(std::int64_t textNodes,
                                                      const std::vector<std::string>& runs,
                                                      const std::vector<std::string>& focusedRuns,
                                                      const std::set<std::string>& baseline) {
    const auto refusal = [&](ReasonCode reason) {
        return Refusal{reason,
                       NamedCheck{CheckName::keyCheck, keyCheck(textNodes, runs, focusedRuns, baseline)}};
    };
    const std::set<std::string> fresh = freshRuns(runs, baseline);
    if (fresh.empty()) {
        return refusal(ReasonCode::pageKeyNotFound);
    }
    if (fresh.size() == 1) {
        return *fresh.begin();
    }
    const std::set<std::string> focused = focusedAmong(fresh, focusedRuns);
    if (focused.size() == 1) {
        return *focused.begin();
    }
    return refusal(ReasonCode::pageKeyAmbiguous);
}

CheckMap ChromePrivateInputPolicy::keyCheck(std::int64_t textNodes, const std::vector<std::string>& runs,
                                            const std::vector<std::string>& focusedRuns,
                                            const std::set<std::string>& baseline) {
    const std::size_t distinct = std::set<std::string>(runs.begin(), runs.end()).size();
    const std::set<std::string> fresh = freshRuns(runs, baseline);
    CheckMap map;
    map.set("textNodes", cappedCount(textNodes, textNodeCap));
    map.set("runs", cappedCount(runs.size()));
    map.set("distinct", cappedCount(distinct));
    map.set("known", cappedCount(distinct - fresh.size()));
    map.set("fresh", cappedCount(fresh.size()));
    map.set("focusedFresh", cappedCount(focusedAmong(fresh, focusedRuns).size()));
    return map;
}

} // namespace cpi
