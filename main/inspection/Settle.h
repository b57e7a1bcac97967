// Settling: from a first inspection to a target or a written refusal.
//
// When the only fault is that the requested window exposes no web area yet, Chrome's page
// accessibility switch is turned on (once per process until it is restored) and the inspection is
// repeated a few times, a quarter of a second apart, until the page shows up. Every other refusal
// is final at once.
#pragma once

#include "inspection/Inspection.h"
#include "platform/Platform.h"
#include "protocol/Requests.h"

#include <optional>

namespace cpi {

inline constexpr int settleAttempts = 12;
inline constexpr double settleInterval = 0.25; // seconds

// The target of the latest inspection, or none after the refusal line has been written with
// `writeFinal`. Needs the process-wide page-switch state (createPageSwitchState).
std::optional<ChromeTarget> settle(Platform& platform, const Request& request, InspectionGoal goal);

} // namespace cpi
