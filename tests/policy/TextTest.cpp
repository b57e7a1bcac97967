#include "ChromePrivateInputPolicy/Text.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

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
