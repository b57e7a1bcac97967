#include "entry/ChromeModes.h"

#include "entry/Modes.h"
#include "inspection/PageSwitch.h"
#include "inspection/Settle.h"
#include "platform/Process.h"
#include "protocol/Frames.h"

#include <optional>

namespace cpi {

SettledRequest settleRequest(Platform& platform, std::uint32_t maximum, InspectionGoal goal) {
    process::disableCoreDumps();
    createPageSwitchState(platform);
    installRestoreGuard();

    std::optional<Request> request;
    if (const std::optional<SecureBytes> frame = readFrame(maximum)) {
        request = decodeRequest(*frame);
    }
    if (!request) {
        endGuarded(platform, exitRefused);
    }
    std::optional<ChromeTarget> target = settle(platform, *request, goal);
    if (!target) {
        endGuarded(platform, exitRefused);
    }
    return SettledRequest{std::move(*request), std::move(*target)};
}

} // namespace cpi
