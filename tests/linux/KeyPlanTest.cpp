// Planning typed keys: every character of a secret is typed by a key that types exactly it, or
// nothing is typed at all.
#include "platform/linux/KeyPlan.h"

#include <gtest/gtest.h>
#include <string_view>

namespace cpi::x11 {
namespace {

// A small map from keycode 8: a/A at 8, b/B at 9, 1/! at 10, space at 11, three spare keycodes
// (12 to 14), and a keycode with a symbol only in its third column (15, not spare).
KeyboardMap smallMap(std::uint8_t shiftKey = 50, std::uint8_t controlKey = 37) {
    KeyboardMap map;
    map.firstKeycode = 8;
    map.width = 3;
    map.keysyms = {'a', 'A', 0, 'b', 'B', 0, '1', '!', 0, ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9};
    map.shiftKey = shiftKey;
    map.controlKey = controlKey;
    return map;
}

TEST(KeyPlan, charactersOnTheMapUseTheirKeyAndShift) {
    const std::u32string text = U"aB! ";
    const std::optional<KeyPlan> plan = planKeys(smallMap(), text, EraseFirst::no);
    ASSERT_TRUE(plan);
    const std::vector<Stroke> expected{{8, false}, {9, true}, {10, true}, {11, false}};
    EXPECT_EQ(std::vector<Stroke>(plan->strokes.begin(), plan->strokes.end()), expected);
    EXPECT_TRUE(plan->lent.empty());
    EXPECT_FALSE(plan->selectAll);
}

TEST(KeyPlan, missingCharactersAreLentSpareKeycodesOnceEach) {
    // "ö" and "€" are not on the map: the highest spare keycodes are lent, each keysym once,
    // and the third-column symbol of keycode 15 neither types "é" nor makes 15 spare.
    const std::u32string text = U"ö€öé";
    const std::optional<KeyPlan> plan = planKeys(smallMap(), text, EraseFirst::no);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->lent.size(), 3u);
    EXPECT_EQ(plan->lent[0], std::make_pair(std::uint32_t(0xF6), std::uint8_t(14)));
    EXPECT_EQ(plan->lent[1], std::make_pair(std::uint32_t(0x010020AC), std::uint8_t(13)));
    EXPECT_EQ(plan->lent[2], std::make_pair(std::uint32_t(0xE9), std::uint8_t(12)));
    EXPECT_EQ(plan->strokes[0], plan->strokes[2]);
    // Without Shift, an upper-case letter is lent a key of its own rather than typed lower-case.
    const std::optional<KeyPlan> noShift = planKeys(smallMap(0), std::u32string(U"A"), EraseFirst::no);
    ASSERT_TRUE(noShift);
    EXPECT_EQ(noShift->lent.size(), 1u);
    EXPECT_FALSE(noShift->strokes[0].shift);
}

TEST(KeyPlan, refusesWhatCannotBeTypedFaithfully) {
    struct Row {
        const char* name;
        std::u32string text;
        EraseFirst erase;
        KeyboardMap map;
    };
    for (const Row& row : std::vector<Row>{
             {"more missing characters than spare keycodes", U"öäüß", EraseFirst::no, smallMap()},
             {"tab", U"a\tb", EraseFirst::no, smallMap()},
             {"line feed", U"a\n", EraseFirst::no, smallMap()},
             {"delete", U"a\x7F", EraseFirst::no, smallMap()},
             {"C1 control", U"a\x85", EraseFirst::no, smallMap()},
             {"erasure without Control", U"a", EraseFirst::yes, smallMap(50, 0)},
             {"erasure without BackSpace", U"a", EraseFirst::yes, smallMap()},
         }) {
        EXPECT_FALSE(planKeys(row.map, row.text, row.erase)) << row.name;
    }
    KeyboardMap narrow = smallMap();
    narrow.width = 1;
    EXPECT_FALSE(planKeys(narrow, std::u32string(U"a"), EraseFirst::no));
}

TEST(KeyPlan, erasureIsControlAAndBackSpace) {
    KeyboardMap map = smallMap();
    map.keysyms[12 * 3 - 24] = 0xFF08; // BackSpace on keycode 12, which is no longer spare
    const std::optional<KeyPlan> plan = planKeys(map, std::u32string(U"bö"), EraseFirst::yes);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->selectAll, (Stroke{8, false}));
    EXPECT_EQ(plan->backspace, (Stroke{12, false}));
    EXPECT_EQ(plan->controlKey, 37);
    EXPECT_EQ(plan->lent.front().second, 14); // "ö" on the highest spare keycode
}

TEST(KeyPlan, decodesUtf8AndNamesKeysyms) {
    const std::string_view text = "a\xC3\xB6\xE2\x82\xAC\xF0\x9F\x94\x91";
    const SecretCharacters characters = decodeUtf8(text);
    EXPECT_EQ(std::u32string(characters.begin(), characters.end()), U"aö€🔑");
    // A cut or overlong sequence never becomes a character it does not spell.
    const SecretCharacters malformed = decodeUtf8(std::string_view("\xC0\xAFx\xE2\x82"));
    EXPECT_EQ(std::u32string(malformed.begin(), malformed.end()), U"\uFFFD\uFFFDx\uFFFD\uFFFD");
    EXPECT_EQ(keysymFor(U'a'), 0x61u);
    EXPECT_EQ(keysymFor(U'ö'), 0xF6u);
    EXPECT_EQ(keysymFor(U'€'), 0x010020ACu);
    EXPECT_EQ(keysymFor(U'🔑'), 0x0101F511u);
    EXPECT_FALSE(keysymFor(U'\r'));
    EXPECT_FALSE(keysymFor(char32_t(0xD800)));
}

TEST(KeyPlan, chunksStopAtTheFirstRefusalBeforeAnotherKey) {
    struct Row {
        const char* name;
        std::size_t strokes;
        std::size_t refuseFrom; // the first `sent` count at which mayContinue says no
        std::vector<std::size_t> asked;
        std::vector<std::size_t> chunks;
    };
    constexpr std::size_t never = 1000;
    for (const Row& row : std::vector<Row>{
             {"nothing to send", 0, never, {}, {}},
             {"one full chunk", 8, never, {0}, {8}},
             {"a short last chunk", 20, never, {0, 8, 16}, {8, 8, 4}},
             {"refused before the first key", 20, 0, {0}, {}},
             {"a change after the third key stops after that chunk", 20, 3, {0, 8}, {8}},
             {"refused before the last chunk", 17, 16, {0, 8, 16}, {8, 8}},
         }) {
        const std::vector<Stroke> strokes(row.strokes, Stroke{8, false});
        std::vector<std::size_t> asked;
        std::vector<std::size_t> chunks;
        const std::size_t sent = sendInChunks(
            strokes, strokesPerChunk,
            [&](std::size_t sentSoFar) {
                asked.push_back(sentSoFar);
                return sentSoFar < row.refuseFrom;
            },
            [&](std::span<const Stroke> chunk) { chunks.push_back(chunk.size()); });
        EXPECT_EQ(asked, row.asked) << row.name;
        EXPECT_EQ(chunks, row.chunks) << row.name;
        std::size_t total = 0;
        for (const std::size_t chunk : chunks) {
            total += chunk;
        }
        EXPECT_EQ(sent, total) << row.name;
    }
}

LentRecord record(std::int32_t pid, std::vector<LentKey> keys) {
    return LentRecord{pid, {keys.begin(), keys.end()}};
}

TEST(KeyPlan, lentRecordsSurviveTheRootWindowAndRefuseGarbage) {
    const std::vector<LentRecord> records{record(4242, {{14, 0xF6}, {13, 0x010020AC}}), record(7, {})};
    const RecordWords words = encodeLentRecords(records);
    EXPECT_EQ(decodeLentRecords(words), records);
    struct Row {
        const char* name;
        std::vector<std::uint32_t> words;
        std::size_t decoded;
    };
    for (const Row& row : std::vector<Row>{
             {"empty", {}, 0},
             {"a lone pid", {4242}, 0},
             {"a count past the end", {4242, 2, 14, 0xF6}, 0},
             {"a huge count", {4242, 0x80000000u, 14, 0xF6}, 0},
             {"pid zero", {0, 1, 14, 0xF6}, 0},
             {"a negative pid", {0xFFFFFFFFu, 1, 14, 0xF6}, 0},
             {"a keycode below the core range", {4242, 1, 7, 0xF6}, 0},
             {"a keycode above it", {4242, 1, 256, 0xF6}, 0},
             {"garbage after a good record", {4242, 1, 14, 0xF6, 0, 9}, 1},
         }) {
        EXPECT_EQ(decodeLentRecords(row.words).size(), row.decoded) << row.name;
    }
}

TEST(KeyPlan, onlyKeycodesOfGoneOwnersThatStillShowTheLentKeysymAreGivenBack) {
    KeyboardMap map = smallMap();
    // Keycode 14 still lent "ö" in every column; 12 shows "€" in its first column only, as the
    // server may report a lent keycode; 13 was lent "€" and has been remapped since; 11 (space)
    // was lent "ö" and shows other symbols beside it; 10 was never lent what the record says.
    map.keysyms[(14 - 8) * 3] = map.keysyms[(14 - 8) * 3 + 1] = map.keysyms[(14 - 8) * 3 + 2] = 0xF6;
    map.keysyms[(13 - 8) * 3] = 'z';
    map.keysyms[(12 - 8) * 3] = 0x010020AC;
    map.keysyms[(11 - 8) * 3 + 2] = 0xF6;
    const std::vector<LentRecord> records{
        record(100, {{14, 0xF6}, {13, 0x010020AC}, {12, 0x010020AC}, {11, 0xF6}, {10, 0xF6}, {200, 0xF6}}),
        record(101, {{14, 0xF6}}),
    };
    const GiveBack giveBack = staleKeycodes(records, map, [](std::int32_t pid) { return pid == 100; });
    EXPECT_EQ(giveBack.keycodes, (std::vector<std::uint8_t>{14, 12}));
    ASSERT_EQ(giveBack.kept.size(), 1u);
    EXPECT_EQ(giveBack.kept.front().pid, 101);
    EXPECT_TRUE(staleKeycodes(records, map, [](std::int32_t) { return false; }).keycodes.empty());
}

} // namespace
} // namespace cpi::x11
