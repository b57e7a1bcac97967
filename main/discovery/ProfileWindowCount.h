// The profile window count: how Chrome's windows of one profile stand, without changing anything.
#pragma once

#include "platform/Platform.h"
#include "protocol/ResultLines.h"

#include <string_view>

namespace cpi {

// How the windows of `profileName` stand, or the refusal the count mode answers instead.
Verdict<ProfileWindowCountAnswer> profileWindowCount(Platform& platform, std::string_view profileName);

} // namespace cpi
