#include "platform/linux/KeyPlan.h"

#include "ChromePrivateInputPolicy/Text.h"

#include <algorithm>
#include <string_view>

namespace cpi::x11 {

namespace {

constexpr std::uint32_t noSymbol = 0;
constexpr std::uint32_t unicodeKeysymBase = 0x01000000;
constexpr std::uint32_t keysymLowerA = 0x61;
constexpr std::uint32_t keysymBackSpace = 0xFF08;
constexpr std::uint32_t lowestKeycode = 8;
constexpr std::uint32_t highestKeycode = 255;

// The keysyms of the map's `index`th keycode.
std::span<const std::uint32_t> rowAt(const KeyboardMap& map, std::size_t index) {
    return std::span(map.keysyms).subspan(index * map.width, map.width);
}

} // namespace

SecretCharacters decodeUtf8(std::span<const char> utf8) {
    const std::string_view bytes(utf8.data(), utf8.size());
    SecretCharacters characters;
    characters.reserve(bytes.size());
    for (std::size_t index = 0; index < bytes.size();) {
        // A malformed byte (the secret frame admits none) reads as U+FFFD.
        const text::DecodedCodePoint decoded = text::decodedAt(bytes, index);
        characters.push_back(decoded.length == 0 ? U'\uFFFD' : decoded.value);
        index += decoded.length == 0 ? 1 : decoded.length;
    }
    return characters;
}

std::optional<std::uint32_t> keysymFor(char32_t character) {
    if (character < 0x20 || (character >= 0x7F && character < 0xA0) || character > 0x10FFFF ||
        (character >= 0xD800 && character < 0xE000)) {
        return std::nullopt;
    }
    return character < 0x100 ? std::uint32_t(character) : unicodeKeysymBase | std::uint32_t(character);
}

std::optional<KeyPlan> planKeys(const KeyboardMap& map, std::span<const char32_t> characters,
                                EraseFirst erase) {
    if (map.width < 2) {
        return std::nullopt;
    }
    const std::size_t keycodes = map.keysyms.size() / map.width;
    auto keycodeAt = [&](std::size_t index) { return std::uint8_t(map.firstKeycode + index); };
    // Spare keycodes, from the top of the range down, where maps leave their gaps.
    std::vector<std::uint8_t> spare;
    for (std::size_t index = keycodes; index-- > 0;) {
        if (std::ranges::all_of(rowAt(map, index), [](std::uint32_t keysym) { return keysym == noSymbol; })) {
            spare.push_back(keycodeAt(index));
        }
    }
    KeyPlan plan;
    plan.shiftKey = map.shiftKey;
    plan.controlKey = map.controlKey;
    plan.width = map.width;
    auto findKey = [&](std::uint32_t keysym) -> std::optional<Stroke> {
        for (const auto& [lentKeysym, keycode] : plan.lent) {
            if (lentKeysym == keysym) {
                return Stroke{keycode, false};
            }
        }
        for (unsigned column = 0; column < 2; ++column) {
            for (std::size_t index = 0; index < keycodes; ++index) {
                if (rowAt(map, index)[column] == keysym && (column == 0 || map.shiftKey != 0)) {
                    return Stroke{keycodeAt(index), column == 1};
                }
            }
        }
        return std::nullopt;
    };
    plan.strokes.reserve(characters.size());
    for (const char32_t character : characters) {
        const std::optional<std::uint32_t> keysym = keysymFor(character);
        if (!keysym) {
            return std::nullopt;
        }
        std::optional<Stroke> stroke = findKey(*keysym);
        if (!stroke) {
            if (plan.lent.size() == spare.size()) {
                return std::nullopt;
            }
            plan.lent.emplace_back(*keysym, spare[plan.lent.size()]);
            stroke = Stroke{plan.lent.back().second, false};
        }
        plan.strokes.push_back(*stroke);
    }
    if (erase == EraseFirst::yes) {
        plan.selectAll = findKey(keysymLowerA);
        plan.backspace = findKey(keysymBackSpace);
        if (!plan.selectAll || plan.selectAll->shift || !plan.backspace || plan.backspace->shift ||
            map.controlKey == 0) {
            return std::nullopt;
        }
    }
    return plan;
}

std::size_t sendInChunks(std::span<const Stroke> strokes, std::size_t chunkSize,
                         const std::function<bool(std::size_t sent)>& mayContinue,
                         const std::function<void(std::span<const Stroke>)>& send) {
    std::size_t sent = 0;
    const std::size_t size = std::max<std::size_t>(chunkSize, 1);
    while (sent < strokes.size() && mayContinue(sent)) {
        const std::size_t count = std::min(size, strokes.size() - sent);
        send(strokes.subspan(sent, count));
        sent += count;
    }
    return sent;
}

RecordWords encodeLentRecords(std::span<const LentRecord> records) {
    RecordWords words;
    for (const LentRecord& record : records) {
        words.push_back(std::uint32_t(record.pid));
        words.push_back(std::uint32_t(record.keys.size()));
        for (const LentKey& key : record.keys) {
            words.push_back(key.keycode);
            words.push_back(key.keysym);
        }
    }
    return words;
}

std::vector<LentRecord> decodeLentRecords(std::span<const std::uint32_t> words) {
    std::vector<LentRecord> records;
    std::size_t index = 0;
    while (words.size() - index >= 2) {
        const auto pid = std::int32_t(words[index]);
        const std::uint32_t count = words[index + 1];
        if (pid <= 0 || count > (words.size() - index - 2) / 2) {
            break;
        }
        LentRecord record{pid, {}};
        bool wellFormed = true;
        for (std::uint32_t key = 0; key < count && wellFormed; ++key) {
            const std::uint32_t keycode = words[index + 2 + 2 * key];
            wellFormed = keycode >= lowestKeycode && keycode <= highestKeycode;
            record.keys.push_back(LentKey{std::uint8_t(keycode), words[index + 3 + 2 * key]});
        }
        if (!wellFormed) {
            break;
        }
        records.push_back(std::move(record));
        index += 2 + 2 * std::size_t(count);
    }
    return records;
}

GiveBack staleKeycodes(std::span<const LentRecord> records, const KeyboardMap& map,
                       const std::function<bool(std::int32_t pid)>& ownerGone) {
    GiveBack giveBack;
    const std::size_t keycodes = map.width == 0 ? 0 : map.keysyms.size() / map.width;
    auto stillLent = [&](const LentKey& key) {
        if (key.keycode < map.firstKeycode || std::size_t(key.keycode - map.firstKeycode) >= keycodes) {
            return false;
        }
        const std::span<const std::uint32_t> row = rowAt(map, std::size_t(key.keycode - map.firstKeycode));
        return std::ranges::find(row, key.keysym) != row.end() &&
               std::ranges::all_of(
                   row, [&](std::uint32_t keysym) { return keysym == key.keysym || keysym == noSymbol; });
    };
    for (const LentRecord& record : records) {
        if (!ownerGone(record.pid)) {
            giveBack.kept.push_back(record);
            continue;
        }
        for (const LentKey& key : record.keys) {
            if (key.keysym != noSymbol && stillLent(key) &&
                std::ranges::find(giveBack.keycodes, key.keycode) == giveBack.keycodes.end()) {
                giveBack.keycodes.push_back(key.keycode);
            }
        }
    }
    return giveBack;
}

} // namespace cpi::x11
