#include "discovery/ProfileWindowCount.h"
#include "entry/Modes.h"
#include "protocol/Frames.h"
#include "protocol/Requests.h"
#include "protocol/ResultLines.h"

namespace cpi {

void runProfileWindowCount(Platform& platform) {
    const std::optional<CountRequest> request = []() -> std::optional<CountRequest> {
        const std::optional<SecureBytes> frame = readFrame(countRequestFrameMaximum);
        return frame ? decodeCountRequest(*frame) : std::nullopt;
    }();
    if (!request) {
        endProcess(platform, exitRefused);
    }
    // Whatever the line says, the mode has answered.
    writeResult(profileWindowCountLine(profileWindowCount(platform, request->profileName)));
    endProcess(platform, exitSuccess);
}

} // namespace cpi
