// The whole tool in one process: arbitrary standard input fed to the delivery mode and the two key
// modes over the realistic Chrome scenario. The first input byte picks the mode; the rest is
// standard input.
//
// The tool ends every run through the platform's exitProcess; here that call throws instead of
// ending the process, so that libFuzzer runs many inputs per second in one process with its
// coverage intact. Everything the modes set up once per process (the restore guard's exit handler
// and signal thread) is set up once for the whole run, and the page-switch state starts over with
// every run, as in a fresh process. The scenario is loaded once and every run starts from a copy of
// it (sharing the loaded elements until the run changes one), freed at the end of the run.
// Standard output goes to /dev/null.
#include "../support/ForwardingPlatform.h"
#include "entry/Entry.h"
#include "fuzz/StandardInput.h"
#include "inspection/PageSwitch.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <array>
#include <fcntl.h>
#include <fstream>
#include <string>

namespace {

struct ProcessEnded {
    int status;
};

// The simulated Chrome with exitProcess ending only the run.
class RunPlatform final : public cpi::test::ForwardingPlatform {
public:
    explicit RunPlatform(std::unique_ptr<cpi::SimulatedPlatform> inner)
        : ForwardingPlatform(*inner), inner_(std::move(inner)) {}

    [[noreturn]] void exitProcess(int status) override { throw ProcessEnded{status}; }
    [[noreturn]] void terminateProcess(int status) override { throw ProcessEnded{status}; }

private:
    std::unique_ptr<cpi::SimulatedPlatform> inner_;
};

// The realistic Chrome, loaded once; every run gets a copy of it as it was loaded.
const cpi::SimulatedPlatform& realisticChrome() {
    static const std::unique_ptr<cpi::SimulatedPlatform> loaded = [] {
        std::ifstream file(std::string(CPI_SOURCE_DIR) + "/tests/scenarios/realistic-chrome.json");
        return cpi::SimulatedPlatform::load(nlohmann::json::parse(file), std::nullopt);
    }();
    return *loaded;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) != 1) {
        std::abort();
    }
    ::close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::vector<std::string>, 3> modes{std::vector<std::string>{},
                                                               std::vector<std::string>{"--key-baseline"},
                                                               std::vector<std::string>{"--key-capture"}};
    if (size == 0) {
        return 0;
    }
    // Between runs the page-switch state (and its exit handler) works on an idle platform that
    // lives as long as the process, so that each run's platform is freed at the end of its own run
    // (a run that frees what it allocated is not run again for leaks).
    static RunPlatform idle(realisticChrome().copy());
    auto platform = std::make_unique<RunPlatform>(realisticChrome().copy());
    cpi::fuzz::setStandardInput(data + 1, size - 1);
    try {
        cpi::runTool(*platform, modes[data[0] % modes.size()]);
    } catch (const ProcessEnded& ended) {
        if (ended.status != 0 && ended.status != 1) {
            std::abort();
        }
    }
    if (cpi::pageSwitchState() != nullptr) {
        cpi::createPageSwitchState(idle);
    }
    return 0;
}
