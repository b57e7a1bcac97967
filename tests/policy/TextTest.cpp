#include "ChromePrivateInputPolicy/Text.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

// The decoder every UTF-8 reader of the tool shares: each sequence length at its bounds, and each
// way a sequence is malformed, read at an offset inside the text.
TEST(DecodedAt, Table) {
    struct Row {
        std::string_view bytes; // decoded at offset 1, after a leading "a"
        char32_t value;
        std::size_t length;
    };
    const Row rows[] = {
        {"a\x7F", 0x7F, 1},
        {"a\xC2\x80z", 0x80, 2},
        {"a\xDF\xBF", 0x7FF, 2},
        {"a\xE0\xA0\x80", 0x800, 3},
        {"a\xED\x9F\xBF", 0xD7FF, 3},
        {"a\xEE\x80\x80", 0xE000, 3},
        {"a\xF0\x90\x80\x80", 0x10000, 4},
        {"a\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"a\xC0\x80", 0, 0},         // overlong NUL
        {"a\xC1\xBF", 0, 0},         // overlong two-byte
        {"a\xE0\x9F\xBF", 0, 0},     // overlong three-byte
        {"a\xF0\x8F\xBF\xBF", 0, 0}, // overlong four-byte
        {"a\xED\xA0\x80", 0, 0},     // a high surrogate
        {"a\xED\xBF\xBF", 0, 0},     // a low surrogate
        {"a\xF4\x90\x80\x80", 0, 0}, // above U+10FFFF
        {"a\xF5\x80\x80\x80", 0, 0}, // no such lead byte
        {"a\x80", 0, 0},             // a stray continuation byte
        {"a\xE2\x82", 0, 0},         // cut at the end of the text
        {"a\xE2\x82z", 0, 0},        // cut by an ASCII byte
        {"a\xF0\x9F\x94", 0, 0},     // a four-byte sequence cut short
    };
    for (const Row& row : rows) {
        const text::DecodedCodePoint decoded = text::decodedAt(row.bytes, 1);
        EXPECT_EQ(decoded.value, row.value) << testing::PrintToString(row.bytes);
        EXPECT_EQ(decoded.length, row.length) << testing::PrintToString(row.bytes);
    }
}

TEST(HexDecoded, Table) {
    struct Row {
        const char* digits;
        std::optional<std::string> bytes;
    };
    const Row rows[] = {
        {"", std::string()},
        {"00ff7F", std::string("\x00\xff\x7f", 3)},
        {"AbCd", std::string("\xab\xcd")},
        {"0", std::nullopt},          // an odd number of digits
        {"0g", std::nullopt},         // not a digit
        {"g0", std::nullopt},         // not a digit, first
        {"+1", std::nullopt},         // no sign
        {"-1", std::nullopt},         // no sign
        {" 1", std::nullopt},         // no space
        {"1 ", std::nullopt},         // no space, last
        {"0x", std::nullopt},         // no prefix
        {"0x41", std::nullopt},       // no prefix, even with digits after it
        {"41\xc3\xa9", std::nullopt}, // not ASCII
    };
    for (const Row& row : rows) {
        EXPECT_EQ(text::hexDecoded(row.digits), row.bytes) << "[" << row.digits << "]";
    }
}

TEST(HexDecoded, UndoesHexEncodedForEveryByte) {
    std::vector<std::uint8_t> all(256);
    for (std::size_t index = 0; index < all.size(); ++index) {
        all[index] = static_cast<std::uint8_t>(index);
    }
    const std::optional<std::string> decoded = text::hexDecoded(text::hexEncoded(all));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, std::string(all.begin(), all.end()));
}

} // namespace
} // namespace cpi
