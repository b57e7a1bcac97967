// The running Chrome applications the tool works with.
#pragma once

#include "platform/Platform.h"

#include <string_view>
#include <vector>

namespace cpi {

inline constexpr std::string_view chromeBundleIdentifier = "com.google.Chrome";

// The running Chromes that are not terminated and have the regular activation policy.
std::vector<RunningApplicationRef> regularChromes(Platform& platform);

// The single regular Chrome; null unless there is exactly one.
RunningApplicationRef singleRegularChrome(Platform& platform);

} // namespace cpi
