// The common start of the two modes that may turn on Chrome's page accessibility switch, delivery
// and the key modes.
#pragma once

#include "inspection/Inspection.h"
#include "platform/Platform.h"
#include "protocol/Requests.h"

#include <cstdint>

namespace cpi {

struct SettledRequest {
    Request request;
    ChromeTarget target;
};

// Disables core dumps, creates the page-switch state and installs its restore guard, reads the
// request frame (at most `maximum` bytes), decodes it and settles on the target `goal` asks for. Ends the
// process with status 1 when the frame is missing or refused or does not decode (no output), and when
// settling refused (its line is written).
SettledRequest settleRequest(Platform& platform, std::uint32_t maximum, InspectionGoal goal);

} // namespace cpi
