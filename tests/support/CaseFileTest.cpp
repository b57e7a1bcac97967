// The case runner's own rules: standard input pieces, partial matching, journal expectations and
// the strictness of the case format (a case that cannot fail would be worthless).
#include "CaseFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace cpi::cases {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

TEST(StandardInput, PiecesAreFramedOrWrittenAsTheySay) {
    const auto pieces = ordered_json::parse(R"([
        {"frameJson": {"profileName": "Work", "allowedOrigins": ["https://a.example"]}},
        {"frameText": "é"},
        {"frameFill": {"byte": 97, "count": 3}},
        {"frameHex": "00ff"},
        {"raw": "FFFFFFFF"},
        {"text": "x"}])");
    const std::string request = R"({"profileName":"Work","allowedOrigins":["https://a.example"]})";
    std::string expected = std::string("\0\0\0", 3) + static_cast<char>(request.size()) + request;
    expected += std::string("\0\0\0\2", 4) + "é";
    expected += std::string("\0\0\0\3", 4) + "aaa";
    expected += std::string("\0\0\0\2\0\xff", 6);
    expected += "\xff\xff\xff\xff";
    expected += "x";
    EXPECT_EQ(standardInputFrom(pieces, "stdin"), expected);
}

TEST(StandardInput, LargeFillHasABigEndianLength) {
    const std::string bytes =
        standardInputFrom(ordered_json::parse(R"([{"frameFill": {"byte": 0, "count": 262145}}])"), "stdin");
    ASSERT_EQ(bytes.size(), 262149u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\0\x04\0\x01", 4));
}

TEST(StandardInput, UnknownOrMalformedPiecesAreRefused) {
    for (const char* pieces : {R"([{"frame": "x"}])", R"([{"raw": "abc"}])", R"([{"raw": "zz"}])",
                               R"([{"text": "a", "raw": "00"}])",
                               R"([{"frameFill": {"byte": 256, "count": 1}}])", R"({"text": "a"})"}) {
        EXPECT_THROW(standardInputFrom(ordered_json::parse(pieces), "stdin"), CaseFormatError) << pieces;
    }
}

TEST(PartialMatch, ObjectsMatchByTheGivenKeysAndEverythingElseWhole) {
    const json line = json::parse(R"({"op":"exit","status":0,"calls":{"sleep":1,"CFEqual":2},
                                      "items":[{"a":"1","b":""}],"clock":20.0})");
    EXPECT_TRUE(partiallyMatches(json::parse(R"({"op":"exit"})"), line));
    EXPECT_TRUE(partiallyMatches(json::parse(R"({"calls":{"sleep":1}})"), line));
    EXPECT_TRUE(partiallyMatches(json::parse(R"({"clock":20})"), line));
    EXPECT_TRUE(partiallyMatches(json::parse(R"({"items":[{"b":"","a":"1"}]})"), line));
    EXPECT_FALSE(partiallyMatches(json::parse(R"({"items":[{"a":"1"}]})"), line)); // lists compare whole
    EXPECT_FALSE(partiallyMatches(json::parse(R"({"status":"0"})"), line));
    EXPECT_FALSE(partiallyMatches(json::parse(R"({"missing":null})"), line));
    EXPECT_FALSE(partiallyMatches(json::parse(R"({"calls":{"sleep":2}})"), line));
}

TEST(JournalExpectations, SubsequenceExactAndAbsent) {
    const std::vector<json> journal = {json::parse(R"({"op":"set","value":true})"),
                                       json::parse(R"({"op":"sleep"})"),
                                       json::parse(R"({"op":"set","value":false})")};
    Expectation expect;
    expect.journal = json::parse(R"([{"value":true},{"value":false}])");
    EXPECT_EQ(journalProblems(expect, journal), "");
    expect.journal = json::parse(R"([{"value":false},{"value":true}])");
    EXPECT_NE(journalProblems(expect, journal), "");

    expect.journal = json::parse(R"([{"op":"set"},{"op":"sleep"}])");
    expect.journalExact = true;
    EXPECT_NE(journalProblems(expect, journal), ""); // a line too many
    expect.journal = json::parse(R"([{"op":"set"},{"op":"sleep"},{"value":false}])");
    EXPECT_EQ(journalProblems(expect, journal), "");

    Expectation absent;
    absent.journalAbsent = json::parse(R"([{"op":"exit"}])");
    EXPECT_EQ(journalProblems(absent, journal), "");
    absent.journalAbsent = json::parse(R"([{"op":"sleep"}])");
    EXPECT_NE(journalProblems(absent, journal), "");
}

class CaseFormat : public ::testing::Test {
protected:
    std::vector<Case> load(const std::string& text) {
        // A file of this process and test alone: suites that run at once must not share it.
        const auto file = std::filesystem::path(::testing::TempDir()) /
                          ("cpi-case-format-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::ofstream(file) << text;
        return loadCaseFile(file, "/repository");
    }
};

TEST_F(CaseFormat, ReadsOneCaseOrAList) {
    const auto cases = load(R"([
        {"name": "a", "scenario": {"trusted": false}, "scenarioPatch": {"trusted": true, "now": 5},
         "args": ["--trust-check"], "expect": {"status": 0, "stdout": "{\"trusted\":true}\n"}},
        {"name": "b", "scenario": "tests/scenarios/x.json", "expect": {"harnessStatus": 70}}])");
    ASSERT_EQ(cases.size(), 2u);
    EXPECT_EQ(*cases[0].scenario, json::parse(R"({"trusted": true, "now": 5})"));
    EXPECT_EQ(cases[0].arguments, std::vector<std::string>{"--trust-check"});
    EXPECT_EQ(cases[0].expect.standardOutput, "{\"trusted\":true}\n");
    EXPECT_EQ(cases[1].scenarioFile, std::filesystem::path("/repository/tests/scenarios/x.json"));
    EXPECT_EQ(cases[1].expect.harnessStatus, 70);
}

TEST_F(CaseFormat, RefusesWhatItDoesNotUnderstand) {
    for (
        const char* text : {
            R"({"name": "a", "scenario": {}, "expect": {"status": 0}, "expected": {}})",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0, "stdot": ""}})",
            R"({"name": "a", "scenario": {}, "expect": {}})",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0, "signal": "SIGTERM"}})",
            R"({"name": "a", "scenario": {}, "expect": {"signal": "SIGTERMINATE"}})",
            R"({"name": "a", "scenario": {}, "expect": {"harnessStatus": 70, "stdout": ""}})",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0, "stdout": "", "stdoutHex": ""}})",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0, "journalExact": true}})",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0, "journal": [1]}})",
            R"({"name": "a", "scenario": 5, "expect": {"status": 0}})",
            R"({"name": "a", "scenario": {}, "args": "--trust-check", "expect": {"status": 0}})",
            R"({"scenario": {}, "expect": {"status": 0}})",
            R"([{"name": "a", "scenario": {}, "expect": {"status": 0}}, {"name": "a", "scenario": {}, "expect": {"status": 1}}])",
            R"([])",
            R"({"name": "a", "scenario": {}, "expect": {"status": 0})",
        }) {
        EXPECT_THROW(load(text), CaseFormatError) << text;
    }
}

} // namespace
} // namespace cpi::cases
