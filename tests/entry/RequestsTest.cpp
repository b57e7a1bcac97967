#include "protocol/Requests.h"

#include <gtest/gtest.h>
#include <string>

namespace cpi {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::optional<Request> decode(const std::string& text) {
    return decodeRequest(bytesOf(text));
}
std::optional<CountRequest> decodeCount(const std::string& text) {
    return decodeCountRequest(bytesOf(text));
}

const std::string minimal = R"("profileName":"Work","allowedOrigins":["https://a.example"])";

TEST(DecodeRequest, MinimalRequest) {
    const auto request = decode("{" + minimal + "}");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->profileName, "Work");
    EXPECT_EQ(request->allowedOrigins, std::vector<std::string>{"https://a.example"});
    EXPECT_FALSE(request->windowNumber);
    EXPECT_FALSE(request->baseline);
}

TEST(DecodeRequest, EveryField) {
    const auto request =
        decode(R"({"baseline":["ab","cd"],"windowNumber":4294967295,)"
               R"("allowedOrigins":["https://a.example","https://b.example"],"profileName":" Work "})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->profileName, " Work "); // taken as it is
    EXPECT_EQ(request->allowedOrigins.size(), 2u);
    EXPECT_EQ(request->windowNumber, 4294967295u);
    EXPECT_EQ(request->baseline, (std::vector<std::string>{"ab", "cd"}));
}

TEST(DecodeRequest, SecureFieldOnly) {
    struct Row {
        std::string extra;
        bool expected;
    };
    for (const Row& row :
         {Row{"", false}, Row{R"(,"secureFieldOnly":null)", false}, Row{R"(,"secureFieldOnly":false)", false},
          Row{R"(,"secureFieldOnly":true)", true}, Row{R"(,"securefieldonly":true)", false}}) {
        const auto request = decode("{" + minimal + row.extra + "}");
        ASSERT_TRUE(request) << row.extra;
        EXPECT_EQ(request->secureFieldOnly, row.expected) << row.extra;
    }
    const auto count = decodeCount(R"({"profileName":"Work","secureFieldOnly":"anything"})");
    EXPECT_TRUE(count); // not a key of the count request: ignored
}

TEST(DecodeRequest, StringsKeepEscapesDecodedAndNothingNormalised) {
    // "e" with a combining acute stays two code points; an escaped astral character is decoded.
    const auto request =
        decode(R"({"profileName":"Caf\u0065\u0301 \ud83d\udc4d","allowedOrigins":["https:\/\/A.example"]})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->profileName, "Cafe\xcc\x81 \xf0\x9f\x91\x8d");
    EXPECT_EQ(request->allowedOrigins[0], "https://A.example");
}

// Whether each payload decodes as a Request.
TEST(DecodeRequest, Table) {
    struct Row {
        const char* what;
        std::string payload;
        bool decodes;
    };
    const Row rows[] = {
        {"null optional fields", "{" + minimal + R"(,"windowNumber":null,"baseline":null})", true},
        {"unknown keys of any value", "{" + minimal + R"(,"extra":{"a":[1,{"b":null}]},"ProfileName":5})",
         true},
        {"empty name and empty origin list", R"({"profileName":"","allowedOrigins":[]})", true},
        {"empty baseline", "{" + minimal + R"(,"baseline":[]})", true},
        {"window number 0", "{" + minimal + R"(,"windowNumber":0})", true},
        {"window number -0", "{" + minimal + R"(,"windowNumber":-0})", true},
        {"white space around the document", " \n{" + minimal + "}\t\r\n", true},
        {"missing profile name", R"({"allowedOrigins":["https://a.example"]})", false},
        {"missing origins", R"({"profileName":"Work"})", false},
        {"null profile name", R"({"profileName":null,"allowedOrigins":[]})", false},
        {"null origins", R"({"profileName":"Work","allowedOrigins":null})", false},
        {"key matched case-sensitively", R"({"profilename":"Work","allowedOrigins":[]})", false},
        {"profile name a number", R"({"profileName":7,"allowedOrigins":[]})", false},
        {"profile name a list", R"({"profileName":["Work"],"allowedOrigins":[]})", false},
        {"profile name an object", R"({"profileName":{},"allowedOrigins":[]})", false},
        {"profile name true", R"({"profileName":true,"allowedOrigins":[]})", false},
        {"origins a string", R"({"profileName":"Work","allowedOrigins":"https://a.example"})", false},
        {"origins an object", R"({"profileName":"Work","allowedOrigins":{}})", false},
        {"origin a number", R"({"profileName":"Work","allowedOrigins":["https://a.example",1]})", false},
        {"origin null", R"({"profileName":"Work","allowedOrigins":[null]})", false},
        {"origin a nested list", R"({"profileName":"Work","allowedOrigins":[["https://a.example"]]})", false},
        {"origin an object", R"({"profileName":"Work","allowedOrigins":[{}]})", false},
        {"baseline entry a number", "{" + minimal + R"(,"baseline":["ab",3]})", false},
        {"baseline a string", "{" + minimal + R"(,"baseline":"ab"})", false},
        {"window number negative", "{" + minimal + R"(,"windowNumber":-1})", false},
        {"window number 2^32", "{" + minimal + R"(,"windowNumber":4294967296})", false},
        {"window number beyond 64 bits", "{" + minimal + R"(,"windowNumber":123456789012345678901234567890})",
         false},
        {"window number as a string", "{" + minimal + R"(,"windowNumber":"12"})", false},
        {"window number with a fraction", "{" + minimal + R"(,"windowNumber":12.0})", false},
        {"window number with an exponent", "{" + minimal + R"(,"windowNumber":1e1})", false},
        {"window number true", "{" + minimal + R"(,"windowNumber":true})", false},
        {"window number a list", "{" + minimal + R"(,"windowNumber":[1]})", false},
        {"profile name given twice", R"({"profileName":"Work","profileName":"Home","allowedOrigins":[]})",
         false},
        {"unknown key given twice", "{" + minimal + R"(,"x":1,"x":[2]})", true},
        {"baseline given twice", "{" + minimal + R"(,"baseline":[],"baseline":[]})", false},
        {"top level a list", "[{" + minimal + "}]", false},
        {"top level a string", R"("Work")", false},
        {"top level null", "null", false},
        {"empty payload", "", false},
        {"not JSON", "profileName=Work", false},
        {"two documents", "{" + minimal + "}{}", false},
        {"trailing comma", "{" + minimal + ",}", false},
        {"comment", "{" + minimal + "/* c */}", false},
        {"single quotes", R"({'profileName':'Work','allowedOrigins':[]})", false},
        {"unterminated object", "{" + minimal, false},
        {"invalid UTF-8 in a value", "{\"profileName\":\"W\xffrk\",\"allowedOrigins\":[]}", false},
        {"invalid UTF-8 in an ignored key", "{" + minimal + ",\"\xc0\x80\":1}", false},
        {"encoded surrogate in a value", "{\"profileName\":\"\xed\xa0\x80\",\"allowedOrigins\":[]}", false},
        {"lone high surrogate escape", R"({"profileName":"\ud83d","allowedOrigins":[]})", false},
        {"lone low surrogate escape", R"({"profileName":"\udc4d x","allowedOrigins":[]})", false},
        {"lone surrogate in an ignored value", "{" + minimal + R"(,"note":"\ud800"})", false},
        {"control character in a string", "{\"profileName\":\"a\x01\",\"allowedOrigins\":[]}", false},
        {"secure field only as a string", "{" + minimal + R"(,"secureFieldOnly":"true"})", false},
        {"secure field only as a number", "{" + minimal + R"(,"secureFieldOnly":1})", false},
        {"secure field only a list", "{" + minimal + R"(,"secureFieldOnly":[true]})", false},
        {"secure field only given twice",
         "{" + minimal + R"(,"secureFieldOnly":true,"secureFieldOnly":false})", false},
        {"a boolean for another field", "{" + minimal + R"(,"windowNumber":true,"secureFieldOnly":true})",
         false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(decode(row.payload).has_value(), row.decodes) << row.what << ": " << row.payload;
    }
}

TEST(DecodeCountRequest, Table) {
    struct Row {
        const char* what;
        std::string payload;
        std::optional<std::string> profileName;
    };
    const Row rows[] = {
        {"name only", R"({"profileName":"Work"})", "Work"},
        {"origins ignored whatever they are",
         R"({"allowedOrigins":7,"profileName":"Work","windowNumber":-1})", "Work"},
        {"empty name", R"({"profileName":""})", ""},
        {"missing name", R"({"allowedOrigins":[]})", std::nullopt},
        {"null name", R"({"profileName":null})", std::nullopt},
        {"name a number", R"({"profileName":1})", std::nullopt},
        {"name given twice", R"({"profileName":"Work","profileName":"Work"})", std::nullopt},
        {"top level a list", R"([{"profileName":"Work"}])", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto request = decodeCount(row.payload);
        ASSERT_EQ(request.has_value(), row.profileName.has_value()) << row.what;
        if (request) {
            EXPECT_EQ(request->profileName, *row.profileName) << row.what;
        }
    }
}

TEST(DecodeRequest, DeeplyNestedPayloadsEndWithoutRunningAway) {
    constexpr std::size_t depth = 100000;
    const std::string open(depth, '['), close(depth, ']');
    // Nesting inside an ignored key is skipped, however deep.
    EXPECT_TRUE(decode("{" + minimal + R"(,"x":)" + open + close + "}"));
    // Nesting where a field's value should be fails.
    EXPECT_FALSE(decode(R"({"profileName":)" + open + close + R"(,"allowedOrigins":[]})"));
    EXPECT_FALSE(decode(R"({"allowedOrigins":)" + open + close + R"(,"profileName":"Work"})"));
    // Nesting at the top level, closed or not.
    EXPECT_FALSE(decode(open + close));
    EXPECT_FALSE(decode(open));
    std::string objects;
    for (std::size_t level = 0; level < depth; ++level) {
        objects += R"({"a":)";
    }
    EXPECT_FALSE(decode(objects + "1" + std::string(depth, '}')));
    EXPECT_FALSE(decodeCount("{\"profileName\":\"Work\",\"x\":" + objects));
}

} // namespace
} // namespace cpi
