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

} // namespace
} // namespace cpi::x11
