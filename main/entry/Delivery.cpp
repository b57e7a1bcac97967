// The delivery mode: the secret typed into the one focused field that passes every check.
//
// Request frame, settling, the interim {"ok": true}, the secret frame, a fresh inspection that must
// find the very target settling found, the write of "AXValue", one more inspection, the final line.
// The secret lives in exactly two places: the frame buffer it arrived in (validated in place, never
// decoded into another buffer) and the platform's mutable secret string made from it. Both are
// held by the page-switch state from the moment the frame is read, which empties them before the
// process ends on every path, a stop signal's included; core dumps are off before it is read.
#include "discovery/AccessibilityElements.h"
#include "entry/ChromeModes.h"
#include "protocol/Frames.h"
#include "entry/Modes.h"
#include "protocol/Requests.h"
#include "inspection/Inspection.h"
#include "inspection/PageSwitch.h"
#include "inspection/Settle.h"
#include "platform/Process.h"
#include "platform/SecureMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace cpi {

namespace {

bool sameElement(Platform& platform, const Element& first, const Element& second) {
    return platform.elementsEqual(first, second);
}

} // namespace

[[noreturn]] void runDelivery(Platform& platform) {
    const auto [request, settled] = settleRequest(platform, deliveryRequestFrameMaximum, false);
    writeInterim(nlohmann::ordered_json{{"ok", true}});

    std::optional<SecureBytes> secretFrame = readFrame(deliverySecretFrameMaximum);
    if (!secretFrame) {
        endGuarded(platform, exitRefused);
    }
    PageSwitchState& state = *pageSwitchState();
    // From here on every way out, the stop path included, wipes the frame and the mutable secret.
    std::unique_ptr<SecretText> mutableSecret;
    state.holdSecrets([&] {
        if (mutableSecret) {
            mutableSecret->clear();
        }
        wipeContents(*secretFrame);
    });
    {
        // Read and copied under the lock, so that a stop never wipes a secret that is being copied.
        const PageSwitchState::Commit commit(state);
        const std::optional<std::span<const char>> text = secretText(*secretFrame);
        if (text && !text->empty()) {
            mutableSecret = platform.createSecretText(*text);
        }
    }
    // Not UTF-8, empty, or no platform string: the frame is wiped on the way out.
    if (!mutableSecret) {
        endGuarded(platform, exitRefused);
    }

    // The target must not have moved since settling.
    const InspectionResult before = inspect(platform, request, false);
    const bool stillSettled = before.target && !before.reason && before.target->pid == settled.pid &&
                              sameElement(platform, before.target->window, settled.window) &&
                              sameElement(platform, before.target->focused, settled.focused);
    if (!stillSettled) {
        writeFinal({{"ok", false}, {"reason", before.reason.value_or(std::string(reason::focusChanged))}});
        endGuarded(platform, exitRefused);
    }

    AXError setError = axErrorSuccess;
    {
        // A stop that has begun wins over the write; one that comes during it waits for it.
        const PageSwitchState::Commit commit(state);
        setError = platform.setAttributeValue(before.target->focused, ax::value, *mutableSecret);
    }

    // Nor after the write.
    const InspectionResult after = inspect(platform, request, false);
    const bool targetStillMatches = after.target && after.target->pid == settled.pid &&
                                    sameElement(platform, after.target->window, before.target->window) &&
                                    sameElement(platform, after.target->focused, before.target->focused);
    if (const std::optional<std::string> failure =
            ChromePrivateInputPolicy::mutationFailure(setError == axErrorSuccess, targetStillMatches)) {
        writeFinal({{"ok", false}, {"reason", *failure}});
        endGuarded(platform, exitRefused);
    }

    writeFinal({{"ok", true}, {"typed", true}});
    endGuarded(platform, exitSuccess);
}

} // namespace cpi
