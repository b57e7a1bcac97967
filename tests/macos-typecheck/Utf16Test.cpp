// The macOS backend's UTF-8 and UTF-16 conversions (secret text in, Accessibility text out).
#include "platform/macos/Utf16.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <utf8proc.h>
#include <vector>

namespace cpi::utf16 {
namespace {

using Units = std::vector<std::uint16_t>;

std::optional<Units> decode(std::string_view utf8) {
    Units units;
    if (!appendFromUtf8(std::span<const char>(utf8.data(), utf8.size()), units)) {
        return std::nullopt;
    }
    return units;
}

std::string encode(const Units& units) {
    std::string out;
    Utf8Writer writer(out);
    for (std::uint16_t unit : units) {
        writer.add(unit);
    }
    writer.finish();
    return out;
}

// An independent UTF-8 encoder to compare against.
std::string reference(char32_t scalar) {
    utf8proc_uint8_t bytes[4];
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(scalar), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
}

TEST(Utf16, DecodesWellFormedText) {
    const struct {
        std::string utf8;
        Units units;
    } cases[] = {
        {"", {}},
        {"pw", {0x70, 0x77}},
        {std::string("a\0b", 3), {0x61, 0x00, 0x62}},
        {"\u00e9", {0x00E9}},
        {"\u07ff\u0800", {0x07FF, 0x0800}},
        {"\uffff", {0xFFFF}},
        {"\U00010000", {0xD800, 0xDC00}},
        {"\U0001F600", {0xD83D, 0xDE00}},
        {"\U0010FFFF", {0xDBFF, 0xDFFF}},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(decode(entry.utf8), entry.units) << entry.utf8;
    }
}

TEST(Utf16, RefusesMalformedUtf8) {
    const std::string cases[] = {
        "\x80",             // stray continuation byte
        "\xC0\x80",         // overlong NUL
        "\xC1\xBF",         // overlong
        "\xE0\x80\x80",     // overlong three-byte form
        "\xE0\x9F\xBF",     // overlong, just below U+0800
        "\xF0\x80\x80\x80", // overlong four-byte form
        "\xF0\x8F\xBF\xBF", // overlong, just below U+10000
        "\xED\xA0\x80",     // high surrogate
        "\xED\xBF\xBF",     // low surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF5\x80\x80\x80", // lead byte never used
        "\xFF",             //
        "\xC3",             // cut two-byte sequence
        "ok\xE2\x82",       // cut three-byte sequence at the end
        "\xF0\x9F\x98",     // cut four-byte sequence
        "\xE2\x28\xA1",     // continuation replaced by ASCII
        "\xC3\xA9\xC3",     // valid, then cut
    };
    for (const std::string& utf8 : cases) {
        EXPECT_EQ(decode(utf8), std::nullopt) << testing::PrintToString(utf8);
    }
}

TEST(Utf16, EncodesUnpairedSurrogatesAsReplacement) {
    const std::string replacement = "\xEF\xBF\xBD";
    const struct {
        Units units;
        std::string utf8;
    } cases[] = {
        {{0xD83D, 0xDE00}, "\U0001F600"},
        {{0xD83D}, replacement},                                 // high surrogate at the end
        {{0xDE00}, replacement},                                 // lone low surrogate
        {{0xD83D, 0x0041}, replacement + "A"},                   // high surrogate before a letter
        {{0xD83D, 0xD83D, 0xDE00}, replacement + "\U0001F600"},  // two highs, then a low
        {{0xDE00, 0xD83D}, replacement + replacement},           // reversed pair
        {{0x0041, 0x0000, 0x00E9}, std::string("A\0\u00e9", 4)}, // NUL kept
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(encode(entry.units), entry.utf8);
    }
}

// Every scalar value: the writer agrees with an independent encoder, the decoder inverts it, and
// both stay within the sizes that the backend reserves (no reallocation of secret buffers).
TEST(Utf16, EveryScalarValueRoundTrips) {
    for (char32_t scalar = 0; scalar <= 0x10FFFF; ++scalar) {
        if (scalar >= 0xD800 && scalar <= 0xDFFF) {
            continue;
        }
        Units units;
        if (scalar < 0x10000) {
            units = {static_cast<std::uint16_t>(scalar)};
        } else {
            units = {static_cast<std::uint16_t>(0xD800 + ((scalar - 0x10000) >> 10)),
                     static_cast<std::uint16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF))};
        }
        const std::string utf8 = encode(units);
        ASSERT_EQ(utf8, reference(scalar)) << std::hex << static_cast<std::uint32_t>(scalar);
        ASSERT_EQ(decode(utf8), units) << std::hex << static_cast<std::uint32_t>(scalar);
        ASSERT_LE(units.size(), utf8.size());
        ASSERT_LE(utf8.size(), 3 * units.size());
    }
}

TEST(Utf16, ReservedBuffersNeverGrow) {
    const std::string text = "p\u00e4ss \u20ac \U0001F511 w\u00f6rd";
    Units units;
    units.reserve(text.size());
    const std::uint16_t* before = units.data();
    ASSERT_TRUE(appendFromUtf8(std::span<const char>(text.data(), text.size()), units));
    EXPECT_EQ(units.data(), before);

    const Units lone(100, 0xDC00);
    std::string out;
    out.reserve(3 * lone.size());
    const char* start = out.data();
    Utf8Writer writer(out);
    for (std::uint16_t unit : lone) {
        writer.add(unit);
    }
    writer.finish();
    EXPECT_EQ(out.size(), 300u);
    EXPECT_EQ(out.data(), start);
}

} // namespace
} // namespace cpi::utf16
