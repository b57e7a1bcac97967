#include "CaseFile.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <utility>

namespace cpi::cases {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr std::int64_t maxFill = 64 * 1024 * 1024;

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
    throw CaseFormatError(path + ": " + problem);
}

std::string member(const std::string& path, const std::string& key) {
    return path + "." + key;
}
std::string item(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

void checkKeys(const ordered_json& object, const std::string& path,
               std::initializer_list<std::string_view> allowed) {
    for (const auto& [key, unused] : object.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            fail(path, "unknown key \"" + key + "\"");
        }
    }
}

const ordered_json& required(const ordered_json& object, const std::string& path, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        fail(path, std::string("missing key \"") + key + "\"");
    }
    return *found;
}

std::string stringOf(const ordered_json& value, const std::string& path) {
    if (!value.is_string()) {
        fail(path, "expected a string");
    }
    return value.get<std::string>();
}

std::int64_t integerOf(const ordered_json& value, const std::string& path, std::int64_t minimum,
                       std::int64_t maximum) {
    if (!value.is_number_integer()) {
        fail(path, "expected an integer");
    }
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(maximum)) {
        fail(path, "out of range");
    }
    const auto number = value.get<std::int64_t>();
    if (number < minimum || number > maximum) {
        fail(path, "out of range");
    }
    return number;
}

std::string bytesFromHex(const ordered_json& value, const std::string& path) {
    const std::string text = stringOf(value, path);
    if (text.size() % 2 != 0) {
        fail(path, "odd number of hexadecimal digits");
    }
    auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        fail(path, "not hexadecimal");
    };
    std::string bytes;
    for (std::size_t index = 0; index < text.size(); index += 2) {
        bytes.push_back(static_cast<char>(digit(text[index]) * 16 + digit(text[index + 1])));
    }
    return bytes;
}

std::string framed(const std::string& payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string frame;
    frame.reserve(payload.size() + 4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        frame.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
    frame += payload;
    return frame;
}

json plain(const ordered_json& value) {
    return json::parse(value.dump());
}

void checkPartialLines(const ordered_json& value, const std::string& path) {
    if (!value.is_array()) {
        fail(path, "expected a list of objects");
    }
    for (std::size_t index = 0; index < value.size(); ++index) {
        if (!value[index].is_object()) {
            fail(item(path, index), "expected an object");
        }
    }
}

Expectation expectationFrom(const ordered_json& value, const std::string& path) {
    if (!value.is_object()) {
        fail(path, "expected an object");
    }
    checkKeys(value, path,
              {"status", "signal", "stdout", "stdoutHex", "journal", "journalExact", "journalAbsent",
               "harnessStatus"});
    Expectation expect;
    const int outcomes = static_cast<int>(value.contains("status")) +
                         static_cast<int>(value.contains("signal")) +
                         static_cast<int>(value.contains("harnessStatus"));
    if (outcomes != 1) {
        fail(path, "give exactly one of \"status\", \"signal\" and \"harnessStatus\"");
    }
    if (value.contains("stdout") && value.contains("stdoutHex")) {
        fail(path, "give \"stdout\" or \"stdoutHex\", not both");
    }
    if (const auto found = value.find("status"); found != value.end()) {
        expect.status = static_cast<int>(integerOf(*found, member(path, "status"), 0, 255));
    }
    if (const auto found = value.find("signal"); found != value.end()) {
        const std::string name = stringOf(*found, member(path, "signal"));
        expect.signal = signalNumber(name);
        if (!expect.signal) {
            fail(member(path, "signal"), "unknown signal \"" + name + "\"");
        }
    }
    if (const auto found = value.find("harnessStatus"); found != value.end()) {
        expect.harnessStatus = static_cast<int>(integerOf(*found, member(path, "harnessStatus"), 0, 255));
        if (value.size() != 1) {
            fail(path, "\"harnessStatus\" stands alone: the tool never starts");
        }
    }
    if (const auto found = value.find("stdout"); found != value.end()) {
        expect.standardOutput = stringOf(*found, member(path, "stdout"));
    }
    if (const auto found = value.find("stdoutHex"); found != value.end()) {
        expect.standardOutput = bytesFromHex(*found, member(path, "stdoutHex"));
    }
    if (const auto found = value.find("journal"); found != value.end()) {
        checkPartialLines(*found, member(path, "journal"));
        expect.journal = plain(*found);
    }
    if (const auto found = value.find("journalExact"); found != value.end()) {
        if (!found->is_boolean()) {
            fail(member(path, "journalExact"), "expected a boolean");
        }
        expect.journalExact = found->get<bool>();
        if (expect.journalExact && !expect.journal) {
            fail(member(path, "journalExact"), "needs \"journal\"");
        }
    }
    if (const auto found = value.find("journalAbsent"); found != value.end()) {
        checkPartialLines(*found, member(path, "journalAbsent"));
        expect.journalAbsent = plain(*found);
    }
    return expect;
}

Case caseFrom(const ordered_json& value, const std::string& path, const std::string& file,
              const std::filesystem::path& repositoryRoot) {
    if (!value.is_object()) {
        fail(path, "expected a case object");
    }
    checkKeys(
        value, path,
        {"name", "description", "scenario", "scenarioPatch", "args", "stdin", "stdoutClosed", "expect"});
    Case result;
    result.file = file;
    result.name = stringOf(required(value, path, "name"), member(path, "name"));
    if (result.name.empty()) {
        fail(member(path, "name"), "empty name");
    }
    if (const auto found = value.find("description"); found != value.end()) {
        result.description = stringOf(*found, member(path, "description"));
    }
    const ordered_json& scenario = required(value, path, "scenario");
    const auto patch = value.find("scenarioPatch");
    if (scenario.is_string()) {
        std::filesystem::path scenarioPath = scenario.get<std::string>();
        if (scenarioPath.is_relative()) {
            scenarioPath = repositoryRoot / scenarioPath;
        }
        if (patch == value.end()) {
            result.scenarioFile = scenarioPath; // handed to the harness as it is, readable or not
        } else {
            std::ifstream input(scenarioPath, std::ios::binary);
            if (!input) {
                fail(member(path, "scenario"), "cannot read " + scenarioPath.string());
            }
            try {
                result.scenario = json::parse(input);
            } catch (const json::exception& error) {
                fail(member(path, "scenario"), scenarioPath.string() + " is not JSON: " + error.what());
            }
        }
    } else if (scenario.is_object()) {
        result.scenario = plain(scenario);
    } else {
        fail(member(path, "scenario"), "expected a path or a scenario object");
    }
    if (patch != value.end()) {
        result.scenario->merge_patch(plain(*patch));
    }
    if (const auto found = value.find("args"); found != value.end()) {
        if (!found->is_array()) {
            fail(member(path, "args"), "expected a list of strings");
        }
        for (std::size_t index = 0; index < found->size(); ++index) {
            result.arguments.push_back(stringOf((*found)[index], item(member(path, "args"), index)));
        }
    }
    if (const auto found = value.find("stdin"); found != value.end()) {
        result.standardInput = standardInputFrom(*found, member(path, "stdin"));
    }
    if (const auto found = value.find("stdoutClosed"); found != value.end()) {
        if (!found->is_boolean()) {
            fail(member(path, "stdoutClosed"), "expected a boolean");
        }
        result.standardOutputClosed = found->get<bool>();
    }
    result.expect = expectationFrom(required(value, path, "expect"), member(path, "expect"));
    return result;
}

} // namespace

std::string standardInputFrom(const ordered_json& pieces, const std::string& path) {
    if (!pieces.is_array()) {
        fail(path, "expected a list of pieces");
    }
    std::string bytes;
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        const ordered_json& piece = pieces[index];
        const std::string piecePath = item(path, index);
        if (!piece.is_object() || piece.size() != 1) {
            fail(piecePath, "a piece is an object with exactly one key");
        }
        const std::string& kind = piece.begin().key();
        const ordered_json& value = piece.begin().value();
        const std::string valuePath = member(piecePath, kind);
        if (kind == "frameJson") {
            bytes += framed(value.dump());
        } else if (kind == "frameText") {
            bytes += framed(stringOf(value, valuePath));
        } else if (kind == "frameFill") {
            if (!value.is_object()) {
                fail(valuePath, "expected {\"byte\": B, \"count\": N}");
            }
            checkKeys(value, valuePath, {"byte", "count"});
            const auto byte =
                integerOf(required(value, valuePath, "byte"), member(valuePath, "byte"), 0, 255);
            const auto count =
                integerOf(required(value, valuePath, "count"), member(valuePath, "count"), 0, maxFill);
            bytes += framed(std::string(static_cast<std::size_t>(count), static_cast<char>(byte)));
        } else if (kind == "frameHex") {
            bytes += framed(bytesFromHex(value, valuePath));
        } else if (kind == "raw") {
            bytes += bytesFromHex(value, valuePath);
        } else if (kind == "text") {
            bytes += stringOf(value, valuePath);
        } else {
            fail(piecePath, "unknown piece \"" + kind + "\"");
        }
    }
    return bytes;
}

std::vector<Case> loadCaseFile(const std::filesystem::path& file,
                               const std::filesystem::path& repositoryRoot) {
    const std::string name = file.filename().string();
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        throw CaseFormatError(name + ": cannot be read");
    }
    ordered_json document;
    try {
        document = ordered_json::parse(input);
    } catch (const ordered_json::exception& error) {
        throw CaseFormatError(name + ": not valid JSON: " + error.what());
    }
    std::vector<Case> cases;
    if (document.is_array()) {
        if (document.empty()) {
            throw CaseFormatError(name + ": an empty list of cases");
        }
        for (std::size_t index = 0; index < document.size(); ++index) {
            cases.push_back(caseFrom(document[index], name + item("", index), name, repositoryRoot));
        }
    } else {
        cases.push_back(caseFrom(document, name, name, repositoryRoot));
    }
    for (std::size_t index = 0; index < cases.size(); ++index) {
        for (std::size_t other = 0; other < index; ++other) {
            if (cases[index].name == cases[other].name) {
                throw CaseFormatError(name + ": two cases named \"" + cases[index].name + "\"");
            }
        }
    }
    return cases;
}

bool partiallyMatches(const json& expected, const json& actual) {
    if (expected.is_object()) {
        if (!actual.is_object()) {
            return false;
        }
        for (const auto& [key, value] : expected.items()) {
            const auto found = actual.find(key);
            if (found == actual.end() || !partiallyMatches(value, *found)) {
                return false;
            }
        }
        return true;
    }
    return expected == actual;
}

std::string journalProblems(const Expectation& expect, const std::vector<json>& journal) {
    std::ostringstream problems;
    if (expect.journal) {
        const json& wanted = *expect.journal;
        if (expect.journalExact) {
            if (wanted.size() != journal.size()) {
                problems << "journal: expected exactly " << wanted.size() << " lines, found "
                         << journal.size() << "\n";
            }
            for (std::size_t index = 0; index < std::min(wanted.size(), journal.size()); ++index) {
                if (!partiallyMatches(wanted[index], journal[index])) {
                    problems << "journal line " << index + 1 << ": expected to match " << wanted[index].dump()
                             << "\n";
                }
            }
        } else {
            std::size_t next = 0;
            for (const json& line : journal) {
                if (next < wanted.size() && partiallyMatches(wanted[next], line)) {
                    ++next;
                }
            }
            if (next < wanted.size()) {
                problems << "journal: no line (in order after the earlier expected ones) matches "
                         << wanted[next].dump() << "\n";
            }
        }
    }
    if (expect.journalAbsent) {
        for (const json& absent : *expect.journalAbsent) {
            for (std::size_t index = 0; index < journal.size(); ++index) {
                if (partiallyMatches(absent, journal[index])) {
                    problems << "journal line " << index + 1 << " matches the absent " << absent.dump()
                             << "\n";
                }
            }
        }
    }
    return problems.str();
}

namespace {
const std::pair<const char*, int> signalNames[] = {
    {"SIGHUP", SIGHUP},   {"SIGINT", SIGINT},   {"SIGQUIT", SIGQUIT}, {"SIGILL", SIGILL},
    {"SIGABRT", SIGABRT}, {"SIGBUS", SIGBUS},   {"SIGFPE", SIGFPE},   {"SIGKILL", SIGKILL},
    {"SIGUSR1", SIGUSR1}, {"SIGSEGV", SIGSEGV}, {"SIGUSR2", SIGUSR2}, {"SIGPIPE", SIGPIPE},
    {"SIGALRM", SIGALRM}, {"SIGTERM", SIGTERM}, {"SIGTRAP", SIGTRAP}, {"SIGSYS", SIGSYS}};
} // namespace

std::optional<int> signalNumber(const std::string& name) {
    for (const auto& [signalText, number] : signalNames) {
        if (name == signalText) {
            return number;
        }
    }
    return std::nullopt;
}

std::string signalName(int number) {
    for (const auto& [signalText, signal] : signalNames) {
        if (number == signal) {
            return signalText;
        }
    }
    return "signal " + std::to_string(number);
}

} // namespace cpi::cases
