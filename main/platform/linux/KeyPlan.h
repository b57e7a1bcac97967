// Planning the keys that type a text: which key, with or without Shift, types each character, and
// which characters missing from the keyboard map are lent a spare keycode. Pure: the X server's
// map comes in as plain values, so that the rules can be tested without a display.
#pragma once

#include "platform/SecureMemory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace cpi::x11 {

// Code points that may be a secret, in memory that is wiped on release.
using SecretCharacters = std::vector<char32_t, WipingAllocator<char32_t>>;

// Valid UTF-8 to code points.
SecretCharacters decodeUtf8(std::span<const char> utf8);

// The core keyboard map: `width` keysyms per keycode from `firstKeycode` on, plus the first keycode
// of the Shift and Control modifiers (0 when there is none).
struct KeyboardMap {
    std::uint8_t firstKeycode = 8;
    unsigned width = 2;
    std::vector<std::uint32_t> keysyms;
    std::uint8_t shiftKey = 0;
    std::uint8_t controlKey = 0;
};

struct Stroke {
    std::uint8_t keycode = 0;
    bool shift = false;
    friend bool operator==(const Stroke&, const Stroke&) = default;
};

struct KeyPlan {
    // Erasing the field first: Ctrl+A (the "a", pressed with Control) and BackSpace.
    std::optional<Stroke> selectAll;
    std::optional<Stroke> backspace;
    std::vector<Stroke, WipingAllocator<Stroke>> strokes;
    // Keysyms to lend, with their spare keycodes; each keysym is lent once.
    std::vector<std::pair<std::uint32_t, std::uint8_t>,
                WipingAllocator<std::pair<std::uint32_t, std::uint8_t>>>
        lent;
    std::uint8_t shiftKey = 0;
    std::uint8_t controlKey = 0;
    unsigned width = 0;
};

enum class EraseFirst { no, yes };

// The keysym that types `character`: its own value for printable Latin-1, the Unicode keysym for
// the rest; none for control characters (Tab would move focus, Return submit) and non-characters.
std::optional<std::uint32_t> keysymFor(char32_t character);

// The plan for `characters`, or nothing when any one of them cannot be typed faithfully: a control
// character, more distinct missing characters than spare keycodes (those whose keysyms are all
// NoSymbol), or an erasure without Control, an unshifted "a" or an unshifted BackSpace.
std::optional<KeyPlan> planKeys(const KeyboardMap& map, std::span<const char32_t> characters,
                                EraseFirst erase);

// Sending the strokes in chunks of at most `chunkSize` (8 when typing), so that the typing can
// look again between chunks: `mayContinue(sent)` is asked before each chunk, the first included,
// with the number of strokes sent so far; at its first false nothing more goes out. Returns the
// number of strokes sent.
constexpr std::size_t strokesPerChunk = 8;
std::size_t sendInChunks(std::span<const Stroke> strokes, std::size_t chunkSize,
                         const std::function<bool(std::size_t sent)>& mayContinue,
                         const std::function<void(std::span<const Stroke>)>& send);

// The keycodes a typing process has lent, as it records them on the root window before the first
// change of the keyboard map, so that a later typing can give them back when their owner died
// without doing so (SIGKILL, a crash). The record's words are, per owner: pid, count, then count
// pairs of keycode and keysym. The keysyms are those the map shows for the keycodes anyway.
struct LentKey {
    std::uint8_t keycode = 0;
    std::uint32_t keysym = 0;
    friend bool operator==(const LentKey&, const LentKey&) = default;
};
struct LentRecord {
    std::int32_t pid = 0;
    std::vector<LentKey, WipingAllocator<LentKey>> keys;
    friend bool operator==(const LentRecord&, const LentRecord&) = default;
};
using RecordWords = std::vector<std::uint32_t, WipingAllocator<std::uint32_t>>;

RecordWords encodeLentRecords(std::span<const LentRecord> records);
// Any client can write the root window's properties: decoding stops at the first block that is
// not a well-formed record (a pid that is not positive, a count past the end, a keycode outside
// the core range) and keeps the records before it.
std::vector<LentRecord> decodeLentRecords(std::span<const std::uint32_t> words);

// What to give back at the start of a typing: every keycode of a record whose owner is gone
// (`ownerGone`) that the map still shows lent to the same keysym and nothing else (a lent keycode
// is filled with it, and the server may report some of its columns as NoSymbol); a keycode
// mapped to anything else since is left alone. The records of owners that are not gone are kept.
struct GiveBack {
    std::vector<std::uint8_t> keycodes;
    std::vector<LentRecord> kept;
};
GiveBack staleKeycodes(std::span<const LentRecord> records, const KeyboardMap& map,
                       const std::function<bool(std::int32_t pid)>& ownerGone);

} // namespace cpi::x11
