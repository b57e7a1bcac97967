// Key capture on the developer console after a new key was issued, its page grown to exactly 20000
// elements with rows of ordinary text, and the round trips free ("roundTripMicros" 0), so that the
// time measured is the tool's own plus the simulation's answers. Reported per iteration:
// "roundTrips", "elements" (the page walk's visits) and, for the page alone, "textNodes" (the text
// elements, each one round trip more). BM_PageWalkOnly makes the same round trips without cutting
// the texts into runs: the simulation's share of the cost.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"
#include "inspection/Inspection.h"
#include "keycapture/PageKeyRuns.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <array>
#include <benchmark/benchmark.h>
#include <fstream>
#include <optional>
#include <set>
#include <string>

namespace {

using cpi::Request;
using cpi::SimulatedPlatform;

constexpr std::int64_t pageElements = 20000;

std::int64_t elementCount(const nlohmann::json& element) {
    std::int64_t count = 1;
    for (const nlohmann::json& child : element.value("children", nlohmann::json::array())) {
        count += elementCount(child);
    }
    return count * element.value("repeat", 1);
}

std::unique_ptr<SimulatedPlatform> consoleOf20000Elements() {
    std::ifstream file(std::string(CPI_SOURCE_DIR) + "/tests/scenarios/developer-console-after.json");
    nlohmann::json scenario = nlohmann::json::parse(file);
    nlohmann::json& page = scenario["applications"][0]["root"]["windows"][0]["children"].back();
    const nlohmann::json row = {
        {"role", "AXGroup"},
        {"children",
         {{{"role", "AXStaticText"}, {"value", "Order 20931 shipped to Berlin on 2026-11-30"}},
          {{"role", "AXStaticText"}, {"value", "Tracking 1Z999AA10123456784, signed by J. Doe"}}}}};
    const std::int64_t missing = pageElements - elementCount(page);
    const std::int64_t rows = missing / 3;
    page["children"].push_back(
        {{"role", "AXGroup"}, {"description", "Orders"}, {"repeat", rows}, {"children", row["children"]}});
    for (std::int64_t extra = elementCount(page); extra < pageElements; ++extra) {
        page["children"].push_back({{"role", "AXStaticText"}, {"value", "Total"}});
    }
    scenario["roundTripMicros"] = 0;
    return SimulatedPlatform::load(scenario, std::nullopt);
}

struct Console {
    std::unique_ptr<SimulatedPlatform> platform = consoleOf20000Elements();
    Request request{"Work", {"https://console.example.dev"}, 4101, std::nullopt};
};

void report(benchmark::State& state, const SimulatedPlatform& platform, std::int64_t roundTripsBefore) {
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["roundTrips"] = static_cast<double>(platform.roundTrips() - roundTripsBefore) / iterations;
    state.counters["elements"] = static_cast<double>(pageElements);
}

// The whole capture after the request is decoded: confirming the page, reading its runs, judging.
void BM_KeyCapture(benchmark::State& state) {
    Console console;
    const std::int64_t before = console.platform->roundTrips();
    for (auto _ : state) {
        const cpi::InspectionResult result =
            cpi::inspect(*console.platform, console.request, cpi::InspectionGoal::page);
        const std::optional<cpi::PageKeyRuns> page = cpi::pageKeyRuns(*console.platform, result->focused);
        const cpi::Verdict<std::string> key = cpi::ChromePrivateInputPolicy::newKey(
            page->textNodes, page->runs, page->focusedRuns, std::set<std::string>{});
        if (!key) {
            state.SkipWithError("no key captured");
            break;
        }
        benchmark::DoNotOptimize(key);
    }
    report(state, *console.platform, before);
}

// Reading the page's runs alone.
void BM_PageKeyRuns(benchmark::State& state) {
    Console console;
    const cpi::Element page =
        cpi::inspect(*console.platform, console.request, cpi::InspectionGoal::page)->focused;
    const std::int64_t before = console.platform->roundTrips();
    for (auto _ : state) {
        std::optional<cpi::PageKeyRuns> runs = cpi::pageKeyRuns(*console.platform, page);
        state.counters["textNodes"] = static_cast<double>(runs->textNodes);
        benchmark::DoNotOptimize(runs);
    }
    report(state, *console.platform, before);
}

// The same walk and reads, the texts not cut into runs: what the simulation itself costs.
void BM_PageWalkOnly(benchmark::State& state) {
    Console console;
    const cpi::Element page =
        cpi::inspect(*console.platform, console.request, cpi::InspectionGoal::page)->focused;
    constexpr std::array<std::string_view, 1> walkAttributes{cpi::ax::subrole};
    constexpr std::array<std::string_view, 2> textAttributes{cpi::ax::value, cpi::ax::focused};
    const std::int64_t before = console.platform->roundTrips();
    for (auto _ : state) {
        auto tree = cpi::walkTree(*console.platform, page, cpi::WebContent::enter, cpi::pageWalkLimit,
                                  walkAttributes);
        for (std::size_t index = 0; index < tree->size(); ++index) {
            if (cpi::ChromePrivateInputPolicy::isKeyTextNode(tree->roles[index],
                                                             tree->facts[index].string(cpi::ax::subrole))) {
                auto text = cpi::ElementFacts::read(*console.platform, tree->nodes[index], textAttributes);
                benchmark::DoNotOptimize(text);
            }
        }
        benchmark::DoNotOptimize(tree);
    }
    report(state, *console.platform, before);
}

BENCHMARK(BM_KeyCapture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageKeyRuns)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageWalkOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
