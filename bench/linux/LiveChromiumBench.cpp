// A live Chromium, as the Linux backend reads it: one count, one inspection and one delivery (the
// delivery's own platform work: the settling inspection, the inspection before the write, the
// typed write, the inspection after it), each with its round trips to the accessibility bus and
// the X server. The second argument reads element by element instead of from one Cache snapshot
// per look. The page must show a focused text or password field of https://localhost in the one
// window of the profile "Work".
#include "discovery/ProfileWindowCount.h"
#include "inspection/Inspection.h"
#include "platform/linux/LinuxPlatform.h"

#include <benchmark/benchmark.h>
#include <optional>
#include <string_view>

namespace {

using cpi::BusReads;
using cpi::LinuxPlatform;

constexpr std::string_view profile = "Work";
constexpr std::string_view secret = "bench-sëcret-1";

BusReads readsOf(const benchmark::State& state) {
    return state.range(0) == 0 ? BusReads::snapshot : BusReads::elementByElement;
}

// The window number of the profile's one window, as the count mode reports it.
std::optional<std::uint32_t> profileWindow(LinuxPlatform& platform) {
    const nlohmann::ordered_json count =
        cpi::profileWindowCountLine(cpi::profileWindowCount(platform, profile));
    if (!count.contains("windowNumbers") || count["windowNumbers"].size() != 1) {
        return std::nullopt;
    }
    return count["windowNumbers"][0].get<std::uint32_t>();
}

cpi::Request requestFor(std::optional<std::uint32_t> window) {
    return cpi::Request{std::string(profile), {"https://localhost"}, window, std::nullopt};
}

void report(benchmark::State& state, const LinuxPlatform& platform, std::uint64_t before) {
    state.counters["roundTrips"] = double(platform.roundTrips() - before) / double(state.iterations());
}

void BM_Count(benchmark::State& state) {
    LinuxPlatform platform(readsOf(state));
    const std::uint64_t before = platform.roundTrips();
    for (auto _ : state) {
        const nlohmann::ordered_json count =
            cpi::profileWindowCountLine(cpi::profileWindowCount(platform, profile));
        if (count.value("count", 0) != 1) {
            state.SkipWithError("no single window of the profile: start Chromium as the live test does");
            return;
        }
    }
    report(state, platform, before);
}

void BM_Inspection(benchmark::State& state) {
    LinuxPlatform platform(readsOf(state));
    const cpi::Request request = requestFor(profileWindow(platform));
    const std::uint64_t before = platform.roundTrips();
    for (auto _ : state) {
        if (!cpi::inspect(platform, request, cpi::InspectionGoal::writableField)) {
            state.SkipWithError("the inspection refused: focus a text or password field of the page");
            return;
        }
    }
    report(state, platform, before);
}

void BM_Delivery(benchmark::State& state) {
    LinuxPlatform platform(readsOf(state));
    const cpi::Request request = requestFor(profileWindow(platform));
    const auto text = platform.createSecretText(std::span(secret.data(), secret.size()));
    const std::uint64_t before = platform.roundTrips();
    for (auto _ : state) {
        const cpi::InspectionResult settled =
            cpi::inspect(platform, request, cpi::InspectionGoal::writableField);
        const cpi::InspectionResult beforeWrite =
            cpi::inspect(platform, request, cpi::InspectionGoal::writableField);
        if (!settled || !beforeWrite) {
            state.SkipWithError("the inspection refused: focus a text or password field of the page");
            return;
        }
        if (platform.setAttributeValue(beforeWrite->focused, "AXValue", *text) != cpi::axErrorSuccess) {
            state.SkipWithError("the typed write failed");
            return;
        }
        benchmark::DoNotOptimize(cpi::inspect(platform, request, cpi::InspectionGoal::writableField));
    }
    report(state, platform, before);
}

// Where an inspection's time goes: the snapshot alone (finding the application and one Cache call).
void BM_Snapshot(benchmark::State& state) {
    LinuxPlatform platform(BusReads::snapshot);
    const auto applications = platform.runningApplicationsWithBundleIdentifier("com.google.Chrome");
    if (applications.size() != 1) {
        state.SkipWithError("no single Chromium on the accessibility bus");
        return;
    }
    const std::int32_t pid = applications.front()->processIdentifier();
    const std::uint64_t before = platform.roundTrips();
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform.createApplicationElement(pid));
    }
    report(state, platform, before);
}

// The typed write alone: the checks before the first key, the keys, and the wait for them to arrive.
void BM_TypedWrite(benchmark::State& state) {
    LinuxPlatform platform(BusReads::snapshot);
    const cpi::Request request = requestFor(profileWindow(platform));
    const cpi::InspectionResult target = cpi::inspect(platform, request, cpi::InspectionGoal::writableField);
    if (!target) {
        state.SkipWithError("the inspection refused: focus a text or password field of the page");
        return;
    }
    const auto text = platform.createSecretText(std::span(secret.data(), secret.size()));
    const std::uint64_t before = platform.roundTrips();
    for (auto _ : state) {
        if (platform.setAttributeValue(target->focused, "AXValue", *text) != cpi::axErrorSuccess) {
            state.SkipWithError("the typed write failed");
            return;
        }
    }
    report(state, platform, before);
}

BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TypedWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Count)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Inspection)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Delivery)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
