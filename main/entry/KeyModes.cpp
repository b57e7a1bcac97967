// Key baseline and key capture.
//
// The agent runs the tool twice with the same request: "--key-baseline" before the page shows a new
// API key, "--key-capture" after. The baseline answers the fingerprints of every key-like run on the
// confirmed page; the capture answers the one run whose fingerprint the baseline lacks (focus
// decides between several). The page's text never leaves the process otherwise.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "entry/ChromeModes.h"
#include "entry/Modes.h"
#include "inspection/PageSwitch.h"
#include "keycapture/PageKeyRuns.h"
#include "protocol/Frames.h"
#include "protocol/ResultLines.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <string>

namespace cpi {

namespace {

[[noreturn]] void finish(Platform& platform, const Verdict<nlohmann::ordered_json>& answer,
                         std::string_view key) {
    const Refusal* refusal = answer.refusal();
    writeFinal(refusal != nullptr ? refusalLine(*refusal) : acceptedLine(key, answer.value()));
    endGuarded(platform, refusal != nullptr ? exitRefused : exitSuccess);
}

// The fingerprints of every run, in ascending byte order (the order a std::set iterates in).
Verdict<nlohmann::ordered_json> takeBaseline(PageKeyRuns& page) {
    std::set<std::string> fingerprints;
    std::ranges::transform(page.runs, std::inserter(fingerprints, fingerprints.end()),
                           &Policy::keyFingerprint);
    page.wipe();
    if (fingerprints.size() > baselineLimit) {
        return ReasonCode::pageTextUnavailable;
    }
    return nlohmann::ordered_json(fingerprints);
}

// The one run the baseline lacks, or a refusal with the "keyCheck" map.
Verdict<nlohmann::ordered_json> captureKey(const Request& request, PageKeyRuns& page) {
    const std::set<std::string> baseline =
        request.baseline ? std::set<std::string>(request.baseline->begin(), request.baseline->end())
                         : std::set<std::string>();
    Verdict<std::string> found = Policy::newKey(page.textNodes, page.runs, page.focusedRuns, baseline);
    page.wipe();
    if (!found) {
        return *found.refusal();
    }
    return nlohmann::ordered_json(std::move(found.value()));
}

} // namespace

void runKeyMode(Platform& platform, KeyMode mode) {
    const auto [request, target] = settleRequest(platform, keyRequestFrameMaximum, InspectionGoal::page);
    std::optional<PageKeyRuns> page = pageKeyRuns(platform, target.focused);
    if (!page) {
        finish(platform, ReasonCode::pageTextUnavailable, {});
    }
    // The page's key runs are wiped however the mode ends, a stop included.
    if (PageSwitchState* state = pageSwitchState()) {
        state->holdSecrets([&page] { page->wipe(); });
    }
    if (mode == KeyMode::baseline) {
        finish(platform, takeBaseline(*page), "baseline");
    }
    finish(platform, captureKey(request, *page), "key");
}

} // namespace cpi
