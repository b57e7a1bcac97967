// cpi_case_runner FOLDER [GoogleTest options]
//
// Finds every case file (*.json) in FOLDER (relative paths are taken from the repository root)
// when it starts, registers one test per case and runs them against chrome-private-input-sim. A
// file that cannot be used, and a folder without cases, are failing tests of their own.
#include "CaseFile.h"
#include "HarnessRun.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>

#ifndef CPI_REPOSITORY_ROOT
#error "CPI_REPOSITORY_ROOT must name the repository root"
#endif
#ifndef CPI_HARNESS
#error "CPI_HARNESS must name the chrome-private-input-sim executable"
#endif

namespace cpi::cases {
namespace {

constexpr std::chrono::seconds caseTimeout{60};

std::string shown(const std::string& bytes) {
    return nlohmann::json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string hex(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

std::string outcome(const std::optional<int>& status, const std::optional<int>& signal) {
    if (status) {
        return "status " + std::to_string(*status);
    }
    if (signal) {
        return "death by " + signalName(*signal);
    }
    return "no outcome";
}

// Parses the journal's lines; a line that is not a JSON object, or a last line without its line
// feed, is reported in `problems`.
std::vector<nlohmann::json> journalLinesOf(const std::string& journal, std::ostringstream& problems) {
    std::vector<nlohmann::json> lines;
    std::size_t start = 0;
    while (start < journal.size()) {
        const std::size_t end = journal.find('\n', start);
        if (end == std::string::npos) {
            problems << "journal: the last line has no line feed\n";
            break;
        }
        try {
            nlohmann::json line = nlohmann::json::parse(journal.substr(start, end - start));
            if (!line.is_object()) {
                throw std::runtime_error("not an object");
            }
            lines.push_back(std::move(line));
        } catch (const std::exception& error) {
            problems << "journal line " << lines.size() + 1 << " is not a JSON object: " << error.what()
                     << "\n";
        }
        start = end + 1;
    }
    return lines;
}

void runCase(const Case& testCase) {
    const std::filesystem::path workFolder = makeWorkFolder();
    std::filesystem::path scenario;
    if (testCase.scenarioFile) {
        scenario = *testCase.scenarioFile;
    } else {
        scenario = workFolder / "scenario.json";
        std::ofstream(scenario) << testCase.scenario->dump(2);
    }
    const HarnessRun run = runHarness(CPI_HARNESS, scenario, testCase.arguments, testCase.standardInput,
                                      workFolder, caseTimeout, testCase.standardOutputClosed);
    std::filesystem::remove_all(workFolder);

    const Expectation& expect = testCase.expect;
    std::ostringstream problems;
    if (run.timedOut) {
        problems << "the harness did not end within " << caseTimeout.count() << " s and was killed\n";
    }
    if (expect.harnessStatus) {
        if (run.status != expect.harnessStatus) {
            problems << "expected the harness to refuse with status " << *expect.harnessStatus << ", found "
                     << outcome(run.status, run.signal) << "\n";
        }
        if (!run.standardOutput.empty()) {
            problems << "expected no standard output from a refusing harness\n";
        }
        const bool oneLine = !run.standardError.empty() && run.standardError.back() == '\n' &&
                             std::count(run.standardError.begin(), run.standardError.end(), '\n') == 1;
        if (!oneLine || run.standardError.size() < 2) {
            problems << "expected exactly one line on standard error\n";
        }
    } else {
        if (run.status != expect.status || run.signal != expect.signal) {
            problems << "expected " << outcome(expect.status, expect.signal) << ", found "
                     << outcome(run.status, run.signal) << "\n";
        }
        if (!run.standardError.empty()) {
            problems << "expected nothing on standard error\n";
        }
        if (expect.standardOutput && *expect.standardOutput != run.standardOutput) {
            problems << "standard output differs:\n  expected " << shown(*expect.standardOutput)
                     << "\n     found " << shown(run.standardOutput) << "\n  expected hex "
                     << hex(*expect.standardOutput) << "\n     found hex " << hex(run.standardOutput) << "\n";
        }
        const std::vector<nlohmann::json> journal = journalLinesOf(run.journal, problems);
        problems << journalProblems(expect, journal);
    }

    const std::string found = problems.str();
    if (!found.empty()) {
        std::ostringstream report;
        report << "case \"" << testCase.name << "\" of " << testCase.file << "\n";
        if (!testCase.description.empty()) {
            report << "  (" << testCase.description << ")\n";
        }
        report << found << "command line:";
        for (const std::string& word : run.commandLine) {
            report << " " << word;
        }
        report << "\nexit: " << outcome(run.status, run.signal)
               << "\nstandard output: " << shown(run.standardOutput)
               << "\nstandard error: " << shown(run.standardError) << "\njournal:\n"
               << (run.journal.empty() ? std::string("  (empty)\n") : run.journal);
        ADD_FAILURE() << report.str();
    }
}

class CaseTest : public ::testing::Test {
public:
    explicit CaseTest(Case testCase) : case_(std::move(testCase)) {}
    void TestBody() override { runCase(case_); }

private:
    Case case_;
};

class UnusableFileTest : public ::testing::Test {
public:
    explicit UnusableFileTest(std::string problem) : problem_(std::move(problem)) {}
    void TestBody() override { ADD_FAILURE() << problem_; }

private:
    std::string problem_;
};

std::string testName(std::string text) {
    for (char& c : text) {
        if (c == '.' || c == ' ' || c == '\t') {
            c = '_';
        }
    }
    return text;
}

template <typename Test, typename Argument>
void registerTest(const std::string& suite, const std::string& name, Argument argument) {
    ::testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [argument]() -> ::testing::Test* { return new Test(argument); });
}

} // namespace
} // namespace cpi::cases

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::cerr << "usage: cpi_case_runner FOLDER [GoogleTest options]\n";
        return 2;
    }
    using namespace cpi::cases;
    const std::filesystem::path root = CPI_REPOSITORY_ROOT;
    std::filesystem::path folder = argv[1];
    if (folder.is_relative()) {
        folder = root / folder;
    }
    const std::string suite = "cases_" + folder.filename().string();

    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".json") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    if (error || files.empty()) {
        registerTest<UnusableFileTest>(suite, "no_cases",
                                       "no case files (*.json) in " + folder.string() +
                                           (error ? ": " + error.message() : std::string()));
    }
    for (const auto& file : files) {
        const std::string stem = testName(file.stem().string());
        try {
            for (const Case& testCase : loadCaseFile(file, root)) {
                registerTest<CaseTest>(suite, stem + "/" + testName(testCase.name), testCase);
            }
        } catch (const std::exception& problem) {
            registerTest<UnusableFileTest>(suite, stem + "/unusable_case_file",
                                           std::string("unusable case file: ") + problem.what());
        }
    }
    return RUN_ALL_TESTS();
}
