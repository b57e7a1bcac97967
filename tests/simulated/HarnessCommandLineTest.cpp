// The harness's own command line: anything it cannot use ends it with status 70 and one line on
// standard error, before the tool starts.
#include "HarnessRun.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace cpi {
namespace {

struct CommandLine {
    const char* name;
    std::vector<std::string> words; // after the program; "SCENARIO" stands for a valid scenario file
    std::string ending;             // how the line on standard error ends
};

// A row prints as its name, so that a failing row names itself.
void PrintTo(const CommandLine& row, std::ostream* out) {
    *out << row.name;
}

class HarnessRefuses : public ::testing::TestWithParam<CommandLine> {};

TEST_P(HarnessRefuses, WithStatus70AndOneLine) {
    const auto folder = cases::makeWorkFolder();
    const auto scenario = folder / "scenario.json";
    std::ofstream(scenario) << R"({"trusted": true})";
    std::vector<std::string> commandLine = {CPI_HARNESS};
    for (const std::string& word : GetParam().words) {
        commandLine.push_back(word == "SCENARIO" ? scenario.string() : word);
    }
    const cases::HarnessRun run = cases::runProcess(commandLine, "", folder, std::chrono::seconds(30));
    std::filesystem::remove_all(folder);
    EXPECT_EQ(run.status, 70);
    EXPECT_EQ(run.standardOutput, "");
    EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1) << run.standardError;
    EXPECT_TRUE(run.standardError.ends_with("\n")) << run.standardError;
    EXPECT_TRUE(run.standardError.starts_with("chrome-private-input-sim: ")) << run.standardError;
    EXPECT_TRUE(run.standardError.ends_with(GetParam().ending + "\n")) << run.standardError;
}

const CommandLine refused[] = {
    {"nothing", {}, ": missing --scenario FILE"},
    {"no_scenario", {"--", "--trust-check"}, ": missing --scenario FILE"},
    {"no_separator",
     {"--scenario", "SCENARIO", "--trust-check"},
     R"(: unknown argument "--trust-check" (usage: --scenario FILE [--journal FILE] -- [ARGUMENTS...]))"},
    {"separator_missing_at_the_end",
     {"--scenario", "SCENARIO"},
     R"(: missing "--" before the tool's arguments)"},
    {"scenario_without_file", {"--scenario"}, ": --scenario needs a file"},
    {"journal_without_file", {"--scenario", "SCENARIO", "--journal"}, ": --journal needs a file"},
    {"scenario_twice",
     {"--scenario", "SCENARIO", "--scenario", "SCENARIO", "--"},
     ": --scenario given twice"},
    {"journal_twice",
     {"--scenario", "SCENARIO", "--journal", "/tmp/a", "--journal", "/tmp/b", "--"},
     ": --journal given twice"},
    {"unknown_option",
     {"--scenario", "SCENARIO", "--verbose", "--"},
     R"(: unknown argument "--verbose" (usage: --scenario FILE [--journal FILE] -- [ARGUMENTS...]))"},
    {"missing_scenario_file",
     {"--scenario", "/nonexistent/scenario.json", "--"},
     ": /nonexistent/scenario.json: cannot be read"},
    {"journal_in_a_missing_folder",
     {"--scenario", "SCENARIO", "--journal", "/nonexistent/j.jsonl", "--"},
     "scenario.json: journal /nonexistent/j.jsonl: No such file or directory"},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, HarnessRefuses, ::testing::ValuesIn(refused),
                         [](const ::testing::TestParamInfo<CommandLine>& parameter) {
                             return std::string(parameter.param.name);
                         });

TEST(Harness, HandsEverythingAfterTheSeparatorToTheTool) {
    const auto folder = cases::makeWorkFolder();
    const auto scenario = folder / "scenario.json";
    std::ofstream(scenario) << R"({"trusted": false})";
    const cases::HarnessRun run =
        cases::runProcess({CPI_HARNESS, "--scenario", scenario.string(), "--", "--trust-check"}, "", folder,
                          std::chrono::seconds(30));
    std::filesystem::remove_all(folder);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.standardOutput, "{\"trusted\":false}\n");
    EXPECT_EQ(run.standardError, "");
}

} // namespace
} // namespace cpi
