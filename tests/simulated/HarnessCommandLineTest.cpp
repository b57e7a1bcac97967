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
}

const CommandLine refused[] = {
    {"nothing", {}},
    {"no_scenario", {"--", "--trust-check"}},
    {"no_separator", {"--scenario", "SCENARIO", "--trust-check"}},
    {"scenario_without_file", {"--scenario"}},
    {"scenario_twice", {"--scenario", "SCENARIO", "--scenario", "SCENARIO", "--"}},
    {"journal_twice", {"--scenario", "SCENARIO", "--journal", "/tmp/a", "--journal", "/tmp/b", "--"}},
    {"unknown_option", {"--scenario", "SCENARIO", "--verbose", "--"}},
    {"missing_scenario_file", {"--scenario", "/nonexistent/scenario.json", "--"}},
    {"journal_in_a_missing_folder", {"--scenario", "SCENARIO", "--journal", "/nonexistent/j.jsonl", "--"}},
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
