// One inspection of the realistic scenario (three Chrome windows of about 800 elements, the sign-in
// page of about 1500), with a typical Accessibility round trip of 100 microseconds. Reported per
// inspection: "roundTrips" and "virtualMs", the time those round trips would take against Chrome;
// a delivery makes three inspections. The element walks visit 796 + 13 + 1515 = 2324 elements
// with a window number given.
#include "inspection/Inspection.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <optional>
#include <string>

namespace {

using cpi::Request;
using cpi::SimulatedPlatform;

std::unique_ptr<SimulatedPlatform> realisticChrome() {
    std::ifstream file(std::string(CPI_SOURCE_DIR) + "/tests/scenarios/realistic-chrome.json");
    nlohmann::json scenario = nlohmann::json::parse(file);
    scenario["roundTripMicros"] = 100;
    return SimulatedPlatform::load(scenario, std::nullopt);
}

void inspectRealistic(benchmark::State& state, std::optional<std::uint32_t> windowNumber, bool page) {
    auto platform = realisticChrome();
    const Request request{"Work", {"https://accounts.example.com"}, windowNumber, std::nullopt};
    const std::int64_t roundTripsBefore = platform->roundTrips();
    const double clockBefore = platform->clockSeconds();
    for (auto _ : state) {
        cpi::InspectionResult result = cpi::inspect(
            *platform, request, page ? cpi::InspectionGoal::page : cpi::InspectionGoal::writableField);
        if (!result) {
            state.SkipWithError("the realistic scenario was refused");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    const auto inspections = static_cast<double>(state.iterations());
    state.counters["roundTrips"] =
        static_cast<double>(platform->roundTrips() - roundTripsBefore) / inspections;
    state.counters["virtualMs"] = (platform->clockSeconds() - clockBefore) * 1000.0 / inspections;
}

void BM_InspectWithWindowNumber(benchmark::State& state) {
    inspectRealistic(state, 4101, false);
}
void BM_InspectWithoutWindowNumber(benchmark::State& state) {
    inspectRealistic(state, std::nullopt, false);
}
void BM_InspectPageOnly(benchmark::State& state) {
    inspectRealistic(state, 4101, true);
}

BENCHMARK(BM_InspectWithWindowNumber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InspectWithoutWindowNumber)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InspectPageOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
