// One complete, read-only look at Google Chrome against a request.
//
// `inspect` finds the single regular Chrome process, lists its windows on every Space, picks the
// one window whose main toolbar shows the requested profile (and, when the request names a window
// number, that very window), accepts the one page whose allowed origin the address bar shows and,
// unless only the page is wanted, finds the one focused, writable text or password field of that
// page. It changes nothing in Chrome and keeps nothing between calls; every verdict is the
// policy's, this code only gathers facts in a fixed order.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "protocol/Requests.h"
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cpi {

inline constexpr std::string_view chromeBundleIdentifier = "com.google.Chrome";

// The confirmed place to work on: the Chrome process, its window and the focused field (or, for a
// page-only inspection, the accepted web area).
struct ChromeTarget {
    std::int32_t pid = 0;
    Element window;
    Element focused;
};

// Exactly one shape: a target alone, or a reason with, for "selected_chrome_profile_not_confirmed"
// and "origin_not_allowed", the check map that explains it.
struct InspectionResult {
    std::optional<ChromeTarget> target;
    std::optional<std::string> reason;
    std::optional<CheckMap> checkMap;
};

// `page` false asks for a writable focused field; true asks for the page only.
InspectionResult inspect(Platform& platform, const Request& request, bool page);

// The https origin of the page a web area shows, from its "AXURL" (a URL, or else a string).
std::optional<std::string> pageOrigin(Platform& platform, const Element& webArea);

// What a web area says about its page: the origin of `pageOrigin`, and whether the web area
// reported a URL at all (a non-empty URL or string), even one that gives no origin.
struct PageReport {
    std::optional<std::string> origin;
    bool reportsUrl = false;
};
PageReport pageReport(Platform& platform, const Element& webArea);

// The single running Chrome that is not terminated and has the regular activation policy; null
// unless there is exactly one.
RunningApplicationRef singleRegularChrome(Platform& platform);

} // namespace cpi
