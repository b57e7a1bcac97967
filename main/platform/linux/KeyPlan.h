// Planning the keys that type a text: which key, with or without Shift, types each character, and
// which characters missing from the keyboard map are lent a spare keycode. Pure: the X server's
// map comes in as plain values, so that the rules can be tested without a display.
#pragma once

#include "platform/SecureMemory.h"

#include <cstdint>
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

} // namespace cpi::x11
