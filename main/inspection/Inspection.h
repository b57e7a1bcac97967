// One complete, read-only look at Google Chrome against a request.
//
// `inspect` runs its stages in order, each ending in a value or a refusal: trust, Chrome's process
// (the single regular Chrome), its window list (on every Space), the window of the profile (and,
// when the request names a window number, that very window), the page whose allowed origin the
// address bar shows, unless only the page is wanted the one focused, writable text or password
// field of that page, and last whether Chrome is still the same process. It changes nothing in
// Chrome and keeps nothing between calls; every verdict is the policy's, this code only gathers
// facts in a fixed order.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/ChromeProcess.h"
#include "platform/Platform.h"
#include "protocol/Requests.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cpi {

// The confirmed place to work on: the Chrome process, its window and the focused field (or, for a
// page-only inspection, the accepted web area).
struct ChromeTarget {
    std::int32_t pid = 0;
    Element window;
    Element focused;
};

// The target, or a refusal; "selected_chrome_profile_not_confirmed" carries its "windowCheck",
// "origin_not_allowed" its "originCheck".
using InspectionResult = Verdict<ChromeTarget>;

// What the inspection looks for on the accepted page.
enum class InspectionGoal {
    writableField, // the one focused, writable text or password field
    page,          // the page's web area itself
};

InspectionResult inspect(Platform& platform, const Request& request, InspectionGoal goal);

// What a web area says about its page ("AXURL", a URL or else a string): the https origin, and
// whether it reported a URL at all (a non-empty URL or string), even one that gives no origin.
struct PageReport {
    std::optional<std::string> origin;
    bool reportsUrl = false;
};
PageReport pageReport(Platform& platform, const Element& webArea);

} // namespace cpi
