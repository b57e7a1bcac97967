#include "inspection/Settle.h"

#include "discovery/AccessibilityElements.h"
#include "inspection/PageSwitch.h"
#include "platform/Process.h"
#include "protocol/ResultLines.h"

#include <algorithm>

namespace cpi {

namespace {

// Whether the switch may be turned on for `first`, and on which application element.
std::optional<Element> switchTarget(Platform& platform, const Request& request,
                                    const InspectionResult& first) {
    const Verdict<ChromeProcess> chrome = chromeProcess(platform);
    if (!chrome || !chrome->app) {
        return std::nullopt;
    }
    // Whether some attribute of the switch already reads true (the first one that does ends the reads).
    const bool alreadyOn =
        std::ranges::any_of(Policy::pageSwitchAttributes, [&](const PageSwitchAttribute& row) {
            return readBoolean(platform, chrome->app, row.attribute) == true;
        });
    if (!Policy::shouldTurnOnPageSwitch(request.windowNumber.has_value(), first.refusal(), alreadyOn)) {
        return std::nullopt;
    }
    return chrome->app;
}

} // namespace

std::optional<ChromeTarget> settle(Platform& platform, const Request& request, InspectionGoal goal) {
    InspectionResult result = inspect(platform, request, goal);

    if (const std::optional<Element> app = switchTarget(platform, request, result)) {
        if (PageSwitchState* state = pageSwitchState()) {
            state->turnOn(*app);
        }
        for (int attempt = 0; attempt < settleAttempts; ++attempt) {
            // No more waiting once a stop has begun: its thread ends the process.
            if (process::stopRequested()) {
                process::parkForever();
            }
            platform.sleep(settleInterval);
            result = inspect(platform, request, goal);
            if (!Policy::shouldWaitForPage(result.refusal())) {
                break;
            }
        }
    }

    if (result) {
        return std::move(result.value());
    }
    writeFinal(refusalLine(*result.refusal()));
    return std::nullopt;
}

} // namespace cpi
