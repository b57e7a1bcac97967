#include "inspection/Settle.h"

#include "discovery/AccessibilityElements.h"
#include "inspection/PageSwitch.h"
#include "platform/Process.h"

#include <nlohmann/json.hpp>

namespace cpi {

namespace {

using Policy = ChromePrivateInputPolicy;

// Whether some attribute of the switch already reads true (the first one that does ends the reads).
bool switchAlreadyOn(Platform& platform, const Element& app) {
    for (const PageSwitchAttribute& row : Policy::pageSwitchAttributes) {
        if (readBoolean(platform, app, row.attribute) == true) {
            return true;
        }
    }
    return false;
}

// Whether the switch may be turned on for `first`, and on which application element.
std::optional<Element> switchTarget(Platform& platform, const Request& request,
                                    const InspectionResult& first) {
    const RunningApplicationRef chrome = singleRegularChrome(platform);
    if (!chrome) {
        return std::nullopt;
    }
    Element app = platform.createApplicationElement(chrome->processIdentifier());
    if (!app) {
        return std::nullopt;
    }
    const bool alreadyOn = switchAlreadyOn(platform, app);
    if (!Policy::shouldTurnOnPageSwitch(request.windowNumber.has_value(), first.reason, first.checkMap,
                                        alreadyOn)) {
        return std::nullopt;
    }
    return app;
}

} // namespace

std::optional<ChromeTarget> settle(Platform& platform, const Request& request, bool page) {
    InspectionResult result = inspect(platform, request, page);

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
            result = inspect(platform, request, page);
            if (!Policy::shouldWaitForPage(result.reason, result.checkMap)) {
                break;
            }
        }
    }

    if (result.target && !result.reason) {
        return std::move(result.target);
    }
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["ok"] = false;
    line["reason"] = result.reason.value_or(std::string(reason::inputUnavailable));
    if (result.checkMap) {
        line[result.reason == reason::originNotAllowed ? "originCheck" : "windowCheck"] =
            checkMapJson(*result.checkMap);
    }
    writeFinal(std::move(line));
    return std::nullopt;
}

} // namespace cpi
