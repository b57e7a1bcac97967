// The scenario loader: any text is loaded or refused with a ScenarioError, never anything worse.
#include "fuzz/FuzzInput.h"
#include "platform/simulated/SimulatedPlatform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const nlohmann::json scenario = nlohmann::json::parse(cpi::fuzz::text(data, size), nullptr, false);
    if (scenario.is_discarded()) {
        return 0;
    }
    try {
        // Loading only: a loaded scenario's events may send real signals once the tool calls it.
        (void)cpi::SimulatedPlatform::load(scenario, std::nullopt);
    } catch (const cpi::ScenarioError&) {
    }
    return 0;
}
