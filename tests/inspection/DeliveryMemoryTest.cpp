// After a delivery, no copy of the secret may remain readable in the tool's memory: the only copy
// left in the process is the one the simulated Chrome keeps as the field's value.
//
// The delivery runs in a forked child of this test, on the simulated platform, reading its frames
// from a pipe. The secret is made by the parent only after the fork and derived from a seed, so
// the child never holds it before the tool reads it, and the scan compares memory against the
// seed's bytes one at a time without ever building the secret itself. When the tool ends the
// process, the child scans every writable mapping of its address space (heap, stacks, data),
// reports how many complete copies it found, and leaves without running exit handlers.
#include "InspectionTestSupport.h"
#include "entry/Modes.h"
#include "inspection/PageSwitch.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CPI_MEMORY_SCAN_UNAVAILABLE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CPI_MEMORY_SCAN_UNAVAILABLE 1
#endif
#endif

namespace cpi::test {
namespace {

// Byte `index` of the secret for `seed`: letters and digits, so that it is valid UTF-8.
std::uint8_t secretByte(std::uint64_t seed, std::size_t index) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t value = seed + 0x9E3779B97F4A7C15ULL * (index + 1);
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    value ^= value >> 31;
    return static_cast<std::uint8_t>(alphabet[value % 62]);
}

// Complete copies of the secret in the writable mappings of this process.
std::size_t copiesInMemory(std::uint64_t seed, std::size_t length) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    std::size_t copies = 0;
    const std::uint8_t first = secretByte(seed, 0);
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range;
        std::string permissions;
        fields >> range >> permissions;
        std::string name;
        std::string skip;
        fields >> skip >> skip >> skip;
        std::getline(fields, name);
        if (permissions.size() < 2 || permissions[0] != 'r' || permissions[1] != 'w' ||
            name.find("[vvar") != std::string::npos || name.find("[vsyscall]") != std::string::npos) {
            continue;
        }
        const std::size_t dash = range.find('-');
        const std::uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        const std::uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (end - start < length || end - start > (std::uintptr_t{1} << 32)) {
            continue;
        }
        const auto* bytes = reinterpret_cast<const volatile std::uint8_t*>(start);
        for (std::size_t offset = 0; offset + length <= end - start; ++offset) {
            if (bytes[offset] != first) {
                continue;
            }
            std::size_t index = 1;
            while (index < length && bytes[offset + index] == secretByte(seed, index)) {
                ++index;
            }
            if (index == length) {
                ++copies;
            }
        }
    }
    return copies;
}

// The platform of the child: where the tool ends the process, scan and report instead.
class ScanningPlatform : public ObservedPlatform {
public:
    ScanningPlatform(SimulatedPlatform& inner, std::uint64_t seed, std::size_t length, int report)
        : ObservedPlatform(inner), seed_(seed), length_(length), report_(report) {}

    [[noreturn]] void exitProcess(int status) override {
        const std::string result =
            std::to_string(status) + " " + std::to_string(copiesInMemory(seed_, length_));
        [[maybe_unused]] const auto written = ::write(report_, result.data(), result.size());
        std::_Exit(0);
    }

private:
    std::uint64_t seed_;
    std::size_t length_;
    int report_;
};

std::string frame(const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    return bytes + payload;
}

struct Outcome {
    int status = -1;        // the tool's exit status
    std::size_t copies = 0; // copies of the secret left in memory
    std::string standardOutput;
};

// Runs one delivery of a secret of `length` bytes in a child process.
Outcome deliverInChild(const json& scenario, std::size_t length) {
    const auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    int input[2];
    int output[2];
    int report[2];
    EXPECT_EQ(::pipe(input), 0);
    EXPECT_EQ(::pipe(output), 0);
    EXPECT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        for (const int descriptor : {input[0], input[1], output[0], output[1], report[0]}) {
            ::close(descriptor);
        }
        auto simulated = SimulatedPlatform::load(scenario, std::nullopt);
        ScanningPlatform platform(*simulated, seed, length, report[1]);
        runDelivery(platform);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(report[1]);

    // Only now does the secret exist, in this process.
    std::string secret(length, '\0');
    for (std::size_t index = 0; index < length; ++index) {
        secret[index] = static_cast<char>(secretByte(seed, index));
    }
    const std::string stdinBytes =
        frame(R"({"profileName":"Work","allowedOrigins":["https://example.com"],"windowNumber":11})") +
        frame(secret);
    std::size_t sent = 0;
    while (sent < stdinBytes.size()) {
        const ssize_t count = ::write(input[1], stdinBytes.data() + sent, stdinBytes.size() - sent);
        if (count <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(count);
    }
    ::close(input[1]);

    Outcome outcome;
    char buffer[4096];
    for (ssize_t count; (count = ::read(output[0], buffer, sizeof buffer)) > 0;) {
        outcome.standardOutput.append(buffer, static_cast<std::size_t>(count));
    }
    std::string result;
    for (ssize_t count; (count = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        result.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(output[0]);
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    std::istringstream(result) >> outcome.status >> outcome.copies;
    return outcome;
}

class SecretLeftInMemory : public testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
#ifdef CPI_MEMORY_SCAN_UNAVAILABLE
        GTEST_SKIP() << "a sanitizer's shadow memory cannot be scanned";
#endif
    }
};

TEST_P(SecretLeftInMemory, OnlyTheFieldHoldsTheSecretAfterASuccess) {
    const Outcome outcome = deliverInChild(oneWindowScenario(), GetParam());

    EXPECT_EQ(outcome.standardOutput, "{\"ok\":true}\n{\"ok\":true,\"typed\":true}\n");
    EXPECT_EQ(outcome.status, 0);
    // The one copy is the simulated field's value; it also shows that the scan finds the secret.
    EXPECT_EQ(outcome.copies, 1U);
}

TEST_P(SecretLeftInMemory, NoCopyAfterARefusalBeforeTheWrite) {
    json scenario = oneWindowScenario();
    scenario["events"] = {
        {{"when", {{"call", "AXIsProcessTrusted"}, {"count", 2}}},
         {"do",
          {{{"setAttribute", {{"element", "w1-password"}, {"attribute", "AXFocused"}, {"value", false}}}},
           {{"setAttribute", {{"element", "w1-email"}, {"attribute", "AXFocused"}, {"value", true}}}}}}}};

    const Outcome outcome = deliverInChild(scenario, GetParam());

    EXPECT_EQ(outcome.standardOutput, "{\"ok\":true}\n{\"ok\":false,\"reason\":\"focus_changed\"}\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.copies, 0U);
}

// A short secret, and one that arrives in many reads.
INSTANTIATE_TEST_SUITE_P(Lengths, SecretLeftInMemory, testing::Values(std::size_t{48}, std::size_t{300000}),
                         [](const testing::TestParamInfo<std::size_t>& length) {
                             return std::to_string(length.param) + "Bytes";
                         });

} // namespace
} // namespace cpi::test
