// Scenario case files: end-to-end cases of chrome-private-input-sim, written as data.
//
// A file holds one case object or a list of them; the format is documented in
// docs/simulated-chrome.md ("Case files"). Everything a file says is checked: an unknown key, a
// wrong type or a missing expectation makes the file unusable, and the run fails.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cpi::cases {

class CaseFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Expectation {
    std::optional<int> status;
    std::optional<int> signal;
    std::optional<int> harnessStatus;
    std::optional<std::string> standardOutput; // exact bytes
    std::optional<nlohmann::json> journal;     // list of partial lines, a subsequence
    bool journalExact = false;
    std::optional<nlohmann::json> journalAbsent; // list of partial lines
};

struct Case {
    std::string file;
    std::string name;
    std::string description;
    // The scenario: a file used as it is, or a document (inline, or a file with a patch applied).
    std::optional<std::filesystem::path> scenarioFile;
    std::optional<nlohmann::json> scenario;
    std::vector<std::string> arguments;
    std::string standardInput;
    // The tool's standard output is a pipe nobody reads any more (writes fail with EPIPE).
    bool standardOutputClosed = false;
    Expectation expect;
};

// Reads every case of `file`; a relative scenario path is taken from `repositoryRoot`.
std::vector<Case> loadCaseFile(const std::filesystem::path& file,
                               const std::filesystem::path& repositoryRoot);

// The bytes of a "stdin" list of pieces; `path` names the list in error messages.
std::string standardInputFrom(const nlohmann::ordered_json& pieces, const std::string& path);

// Whether `actual` matches `expected` partially: every key `expected` gives is present in `actual`
// with a matching value (recursively for objects); anything else (lists included) must be equal.
bool partiallyMatches(const nlohmann::json& expected, const nlohmann::json& actual);

// What is wrong with `journal` (the parsed lines) against the expectation; empty when nothing.
std::string journalProblems(const Expectation& expect, const std::vector<nlohmann::json>& journal);

// Signal names ("SIGTERM") and numbers.
std::optional<int> signalNumber(const std::string& name);
std::string signalName(int number);

} // namespace cpi::cases
