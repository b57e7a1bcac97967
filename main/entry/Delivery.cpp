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
#include "entry/Modes.h"
#include "inspection/Inspection.h"
#include "inspection/PageSwitch.h"
#include "platform/SecureMemory.h"
#include "protocol/Frames.h"
#include "protocol/ResultLines.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace cpi {

namespace {

// The secret's two places: the frame it arrived in and the platform's mutable string made from it.
struct Secret {
    std::optional<SecureBytes> frame;
    std::unique_ptr<SecretText> text;
};

[[noreturn]] void refuse(Platform& platform, ReasonCode reason) {
    writeFinal(refusalLine(Refusal{reason, std::nullopt}));
    endGuarded(platform, exitRefused);
}

// Whether `inspection` found the very target `expected`: the same process, window and field.
bool sameTarget(Platform& platform, const InspectionResult& inspection, const ChromeTarget& expected) {
    return inspection && inspection->pid == expected.pid &&
           platform.elementsEqual(inspection->window, expected.window) &&
           platform.elementsEqual(inspection->focused, expected.focused);
}

// The secret frame, and the mutable string made from its text. Ends the process (status 1, no
// line) when the frame is missing, not UTF-8 or empty, or the platform gives no string.
void readSecret(Platform& platform, Secret& secret) {
    secret.frame = readFrame(deliverySecretFrameMaximum);
    if (!secret.frame) {
        endGuarded(platform, exitRefused);
    }
    PageSwitchState& state = *pageSwitchState();
    // From here on every way out, the stop path included, wipes the frame and the mutable secret.
    state.holdSecrets([&secret] {
        if (secret.text) {
            secret.text->clear();
        }
        wipeContents(*secret.frame);
    });
    {
        // Read and copied under the lock, so that a stop never wipes a secret that is being copied.
        const PageSwitchState::Commit commit(state);
        const std::optional<std::span<const char>> text = secretText(*secret.frame);
        if (text && !text->empty()) {
            secret.text = platform.createSecretText(*text);
        }
    }
    // Not UTF-8, empty, or no platform string: the frame is wiped on the way out.
    if (!secret.text) {
        endGuarded(platform, exitRefused);
    }
}

// The target must not have moved since settling: a fresh inspection finds the very one.
ChromeTarget confirmTarget(Platform& platform, const Request& request, const ChromeTarget& settled) {
    InspectionResult before = inspect(platform, request, InspectionGoal::writableField);
    if (!sameTarget(platform, before, settled)) {
        refuse(platform, before ? ReasonCode::focusChanged : before.refusal()->reason);
    }
    return std::move(before.value());
}

AXError writeSecret(Platform& platform, const ChromeTarget& target, const SecretText& secret) {
    // A stop that has begun wins over the write; one that comes during it waits for it.
    const PageSwitchState::Commit commit(*pageSwitchState());
    return platform.setAttributeValue(target.focused, ax::value, secret);
}

// The write succeeded and the target is still the same after it.
void verifyWrite(Platform& platform, const Request& request, const ChromeTarget& target, AXError setError) {
    const InspectionResult after = inspect(platform, request, InspectionGoal::writableField);
    const Check written =
        Policy::writeOutcome(setError == axErrorSuccess, sameTarget(platform, after, target));
    if (!written) {
        refuse(platform, written.refusal()->reason);
    }
}

} // namespace

[[noreturn]] void runDelivery(Platform& platform) {
    const auto [request, settled] =
        settleRequest(platform, deliveryRequestFrameMaximum, InspectionGoal::writableField);
    writeInterim(acceptedLine());
    Secret secret;
    readSecret(platform, secret);
    const ChromeTarget target = confirmTarget(platform, request, settled);
    const AXError setError = writeSecret(platform, target, *secret.text);
    verifyWrite(platform, request, target, setError);
    writeFinal(acceptedLine("typed", true));
    endGuarded(platform, exitSuccess);
}

} // namespace cpi
