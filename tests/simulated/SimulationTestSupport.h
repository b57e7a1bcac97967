// Helpers for the tests of the simulated platform.
#pragma once

#include "platform/simulated/SimulatedPlatform.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace cpi::testing {

inline std::unique_ptr<SimulatedPlatform> platformFor(const std::string& scenario,
                                                      std::optional<std::string> journal = std::nullopt) {
    return SimulatedPlatform::load(nlohmann::json::parse(scenario), std::move(journal));
}

// A journal path of the running test.
inline std::string journalPath() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '-';
        }
    }
    return ::testing::TempDir() + "cpi-sim-" + name + ".jsonl";
}

inline std::vector<nlohmann::json> journalLines(const std::string& path) {
    std::ifstream input(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(input, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

// The 20-byte remote token for `pid` and element `identifier`.
inline std::array<std::uint8_t, 20> remoteToken(std::int32_t pid, std::uint64_t identifier) {
    std::array<std::uint8_t, 20> token{};
    const auto pidBits = static_cast<std::uint32_t>(pid);
    for (int index = 0; index < 4; ++index) {
        token[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(pidBits >> (8 * index));
    }
    token[8] = 0x6F;
    token[9] = 0x63;
    token[10] = 0x6F;
    token[11] = 0x63;
    for (int index = 0; index < 8; ++index) {
        token[static_cast<std::size_t>(12 + index)] = static_cast<std::uint8_t>(identifier >> (8 * index));
    }
    return token;
}

} // namespace cpi::testing
