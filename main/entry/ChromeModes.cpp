#include "entry/ChromeModes.h"

#include "protocol/Frames.h"
#include "entry/Modes.h"
#include "inspection/PageSwitch.h"
#include "inspection/Settle.h"
#include "platform/Process.h"

#include <optional>

namespace cpi {

SettledRequest settleRequest(Platform& platform, std::uint32_t maximum, bool page) {
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
    std::optional<ChromeTarget> target = settle(platform, *request, page);
    if (!target) {
        endGuarded(platform, exitRefused);
    }
    return SettledRequest{std::move(*request), std::move(*target)};
}

} // namespace cpi
