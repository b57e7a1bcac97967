// Key baseline and key capture.
//
// The agent runs the tool twice with the same request: "--key-baseline" before the page shows a new
// API key, "--key-capture" after. The baseline answers the fingerprints of every key-like run on the
// confirmed page; the capture answers the one run whose fingerprint the baseline lacks (focus
// decides between several). The page's text never leaves the process otherwise.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "entry/ChromeModes.h"
#include "protocol/Frames.h"
#include "entry/Modes.h"
#include "protocol/Requests.h"
#include "inspection/PageSwitch.h"
#include "inspection/Settle.h"
#include "keycapture/PageKeyRuns.h"
#include "platform/Process.h"

#include <set>
#include <string>

namespace cpi {

namespace {

using Policy = ChromePrivateInputPolicy;

[[noreturn]] void refuse(Platform& platform, std::string_view reason) {
    writeFinal({{"ok", false}, {"reason", reason}});
    endGuarded(platform, exitRefused);
}

[[noreturn]] void takeBaseline(Platform& platform, PageKeyRuns& page) {
    std::set<std::string> fingerprints;
    for (const std::string& run : page.runs) {
        fingerprints.insert(Policy::keyFingerprint(run));
    }
    page.wipe();
    if (fingerprints.size() > Policy::baselineLimit) {
        refuse(platform, reason::pageTextUnavailable);
    }
    // A std::set iterates in ascending byte order: the order the line carries.
    writeFinal({{"ok", true}, {"baseline", fingerprints}});
    endGuarded(platform, exitSuccess);
}

[[noreturn]] void captureKey(Platform& platform, const Request& request, PageKeyRuns& page) {
    std::set<std::string> baseline;
    if (request.baseline) {
        baseline.insert(request.baseline->begin(), request.baseline->end());
    }
    NewKeyResult found = Policy::newKey(page.runs, page.focusedRuns, baseline);
    if (found.key) {
        page.wipe();
        writeFinal({{"ok", true}, {"key", std::move(*found.key)}});
        endGuarded(platform, exitSuccess);
    }
    const CheckMap check = Policy::keyCheck(page.textNodes, page.runs, page.focusedRuns, baseline);
    page.wipe();
    writeFinal({{"ok", false},
                {"reason", found.reason.value_or(std::string(reason::pageKeyNotFound))},
                {"keyCheck", checkMapJson(check)}});
    endGuarded(platform, exitRefused);
}

} // namespace

void runKeyMode(Platform& platform, std::string_view keyMode) {
    const auto [request, target] = settleRequest(platform, keyRequestFrameMaximum, true);
    std::optional<PageKeyRuns> page = pageKeyRuns(platform, target.focused);
    if (!page) {
        refuse(platform, reason::pageTextUnavailable);
    }
    // The page's key runs are wiped however the mode ends, a stop included.
    if (PageSwitchState* state = pageSwitchState()) {
        state->holdSecrets([&page] { page->wipe(); });
    }
    if (keyMode == keyBaselineSwitch) {
        takeBaseline(platform, *page);
    }
    captureKey(platform, request, *page);
}

} // namespace cpi
