#include "discovery/ProfileWindowCount.h"
#include "entry/Frames.h"
#include "entry/Modes.h"
#include "entry/Requests.h"

namespace cpi {

void runProfileWindowCount(Platform& platform) {
    const std::optional<CountRequest> request = []() -> std::optional<CountRequest> {
        const std::optional<SecureBytes> frame = readFrame(countRequestFrameMaximum);
        return frame ? decodeCountRequest(*frame) : std::nullopt;
    }();
    if (!request) {
        endProcess(platform, exitRefused);
    }
    const std::optional<nlohmann::ordered_json> map = profileWindowCount(platform, *request);
    if (!map) {
        endProcess(platform, exitRefused);
    }
    // Whatever the map says, the mode has answered.
    writeResult(*map);
    endProcess(platform, exitSuccess);
}

} // namespace cpi
