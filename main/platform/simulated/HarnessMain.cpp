// chrome-private-input-sim --scenario FILE [--journal FILE] -- [TOOL ARGUMENTS...]
//
// Runs the tool's entry on the simulated platform. A bad command line or a scenario that cannot
// be used ends the harness with status 70 and one line on standard error; the tool never starts
// then, and the harness itself never writes to standard output.
#include "entry/Entry.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int harnessFailure = 70;

// The platform lives until the process ends (the tool ends it through exitProcess or a signal);
// held here so that it stays reachable to the end.
cpi::SimulatedPlatform* harnessPlatform = nullptr;

[[noreturn]] void refuse(std::string message) {
    std::ranges::replace_if(
        message, [](char c) { return c == '\n' || c == '\r'; }, ' ');
    message = "chrome-private-input-sim: " + message + "\n";
    std::fputs(message.c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(harnessFailure);
}

struct HarnessArguments {
    std::string scenario;
    std::optional<std::string> journal;
    std::vector<std::string> tool;
};

HarnessArguments parseArguments(int argc, char** argv) {
    HarnessArguments parsed;
    std::optional<std::string> scenario;
    int index = 1;
    for (; index < argc; ++index) {
        const std::string word = argv[index];
        if (word == "--") {
            break;
        }
        if (word != "--scenario" && word != "--journal") {
            refuse("unknown argument \"" + word +
                   "\" (usage: --scenario FILE [--journal FILE] -- [ARGUMENTS...])");
        }
        if (index + 1 >= argc) {
            refuse(word + " needs a file");
        }
        std::optional<std::string>& file = word == "--scenario" ? scenario : parsed.journal;
        if (file) {
            refuse(word + " given twice");
        }
        file = argv[++index];
    }
    if (!scenario) {
        refuse("missing --scenario FILE");
    }
    parsed.scenario = *scenario;
    if (index >= argc) {
        refuse("missing \"--\" before the tool's arguments");
    }
    parsed.tool.assign(argv + index + 1, argv + argc);
    return parsed;
}

nlohmann::json readScenario(const std::string& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        refuse(file + ": cannot be read");
    }
    std::ostringstream text;
    text << input.rdbuf();
    if (input.bad()) {
        refuse(file + ": cannot be read");
    }
    try {
        return nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& error) {
        refuse(file + ": not valid JSON: " + error.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    const HarnessArguments arguments = parseArguments(argc, argv);
    const nlohmann::json scenario = readScenario(arguments.scenario);
    std::unique_ptr<cpi::SimulatedPlatform> platform;
    try {
        platform = cpi::SimulatedPlatform::load(scenario, arguments.journal);
    } catch (const cpi::ScenarioError& error) {
        refuse(arguments.scenario + ": " + error.what());
    }
    harnessPlatform = platform.release();
    cpi::runTool(*harnessPlatform, arguments.tool);
}
