#include "protocol/Frames.h"

#include "StandardStreams.h"

#include <gtest/gtest.h>
#include <string>

namespace cpi {
namespace {

using testing::FedStandardInput;
using testing::framed;
using testing::Pace;

std::string text(const SecureBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(ReadFrame, ReadsOnePayloadAndNothingBeyondIt) {
    FedStandardInput input(framed("{\"a\":1}") + "rest");
    const auto frame = readFrame(16);
    ASSERT_TRUE(frame);
    EXPECT_EQ(text(*frame), "{\"a\":1}");
    // The bytes after the frame are still there for whoever reads next.
    const auto rest = readExactly(4);
    ASSERT_TRUE(rest);
    EXPECT_EQ(text(*rest), "rest");
}

TEST(ReadFrame, FramesFollowEachOtherDirectly) {
    FedStandardInput input(framed("first") + framed("second"));
    EXPECT_EQ(text(readFrame(100).value()), "first");
    EXPECT_EQ(text(readFrame(100).value()), "second");
    EXPECT_FALSE(readFrame(100));
}

TEST(ReadFrame, InputCutAtEveryOffsetYieldsNoFrame) {
    const std::string whole = framed("0123456789");
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        FedStandardInput input(whole.substr(0, cut));
        EXPECT_FALSE(readFrame(100)) << "cut after " << cut << " bytes";
    }
    FedStandardInput input(whole);
    EXPECT_TRUE(readFrame(100));
}

TEST(ReadFrame, LengthIsBigEndian) {
    // 00 00 01 00 announces 256 bytes, not 65536 (little-endian would read 1 << 16).
    FedStandardInput input(std::string("\x00\x00\x01\x00", 4) + std::string(256, 'x'));
    const auto frame = readFrame(300);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), 256u);
}

TEST(ReadFrame, LengthBounds) {
    struct Row {
        const char* what;
        std::size_t length;
        std::uint32_t maximum;
        bool accepted;
    };
    const Row rows[] = {
        {"empty frame with a large maximum", 0, deliverySecretFrameMaximum, false},
        {"exactly the maximum", countRequestFrameMaximum, countRequestFrameMaximum, true},
        {"one byte over the maximum", countRequestFrameMaximum + 1, countRequestFrameMaximum, false},
        {"largest secret", deliverySecretFrameMaximum, deliverySecretFrameMaximum, true},
        {"secret one byte over", deliverySecretFrameMaximum + 1, deliverySecretFrameMaximum, false},
        {"clipboard secret at its maximum", clipboardSecretFrameMaximum, clipboardSecretFrameMaximum, true},
        {"one byte", 1, 1, true},
    };
    for (const Row& row : rows) {
        FedStandardInput input(framed(std::string(row.length, 'k')));
        const auto frame = readFrame(row.maximum);
        EXPECT_EQ(frame.has_value(), row.accepted) << row.what;
        if (frame) {
            EXPECT_EQ(frame->size(), row.length) << row.what;
        }
    }
}

TEST(ReadFrame, RefusedLengthLeavesThePayloadUnread) {
    FedStandardInput input(framed("abcdefgh"));
    EXPECT_FALSE(readFrame(7));
    const auto next = readExactly(8);
    ASSERT_TRUE(next);
    EXPECT_EQ(text(*next), "abcdefgh");
}

TEST(ReadFrame, LargestLengthPrefixIsRefusedWithoutReading) {
    FedStandardInput input(std::string("\xff\xff\xff\xff", 4) + "payload");
    EXPECT_FALSE(readFrame(deliverySecretFrameMaximum));
    EXPECT_EQ(text(readExactly(7).value()), "payload");
}

TEST(ReadFrame, AssemblesAFrameDeliveredOneByteAtATime) {
    const std::string payload = "{\"profileName\":\"Work\",\"allowedOrigins\":[\"https://a.example\"]}";
    FedStandardInput input(framed(payload), Pace::byteByByte);
    const auto frame = readFrame(deliveryRequestFrameMaximum);
    ASSERT_TRUE(frame);
    EXPECT_EQ(text(*frame), payload);
}

TEST(ReadExactly, ZeroBytesNeedNoInput) {
    FedStandardInput input("");
    const auto bytes = readExactly(0);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(bytes->empty());
}

TEST(ReadExactly, LargePayloadInManyPieces) {
    // Larger than a pipe holds: the reader collects it over many reads.
    std::string payload(deliverySecretFrameMaximum, '\0');
    for (std::size_t index = 0; index < payload.size(); ++index) {
        payload[index] = static_cast<char>(index * 7);
    }
    FedStandardInput input(payload);
    const auto bytes = readExactly(payload.size());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(text(*bytes), payload);
}

TEST(WriteResult, OneCompactLine) {
    nlohmann::ordered_json map;
    map["ok"] = false;
    map["reason"] = "origin_not_allowed";
    map["originCheck"] = {{"webAreas", 2}, {"allowed", 0}};
    map["windowNumbers"] = {12, 7};
    map["frontKind"] = nullptr;
    const std::string written = testing::capturedStandardOutput([&] { writeResult(map); });
    EXPECT_EQ(
        written,
        "{\"ok\":false,\"reason\":\"origin_not_allowed\",\"originCheck\":{\"webAreas\":2,\"allowed\":0},"
        "\"windowNumbers\":[12,7],\"frontKind\":null}\n");
}

TEST(WriteResult, TextOutsideAsciiIsWrittenAsUtf8) {
    const std::string written = testing::capturedStandardOutput([] {
        writeResult({{"frontAvatar", "Z\xc3\xbcrich \xf0\x9f\x91\x8d"}});
    });
    EXPECT_EQ(written, "{\"frontAvatar\":\"Z\xc3\xbcrich \xf0\x9f\x91\x8d\"}\n");
}

TEST(WriteResult, MapThatCannotBeSerialisedWritesNothing) {
    const std::string written = testing::capturedStandardOutput([] {
        writeResult({{"ok", true}, {"key", "abc\xff"}});
        writeResult({{"frontAvatar", "\xed\xa0\x80"}}); // an encoded surrogate
    });
    EXPECT_EQ(written, "");
}

TEST(SecretTextIsUtf8, Table) {
    struct Row {
        const char* what;
        std::string bytes;
        bool valid;
    };
    const Row rows[] = {
        {"empty", "", true},
        {"ascii", "hunter2", true},
        {"two, three and four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91", true},
        {"largest code point", "\xf4\x8f\xbf\xbf", true},
        {"nul byte", std::string("a\0b", 3), true},
        {"overlong nul", "\xc0\x80", false},
        {"overlong slash", "\xe0\x80\xaf", false},
        {"high surrogate", "\xed\xa0\x80", false},
        {"low surrogate", "\xed\xb0\x80", false},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false},
        {"truncated sequence", "ab\xe2\x82", false},
        {"stray continuation byte", "\x80", false},
        {"byte ff", "a\xff", false},
        {"latin-1 text", "caf\xe9", false},
    };
    for (const Row& row : rows) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(row.bytes.data());
        // A secret frame is taken exactly when it is UTF-8.
        EXPECT_EQ(secretText(std::span(data, row.bytes.size())).has_value(), row.valid) << row.what;
    }
}

} // namespace
} // namespace cpi
