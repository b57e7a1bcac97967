// Chrome's windows on every Space.
//
// "AXWindows" of an application lists only the windows of the Space on screen. Windows on other
// Spaces are reached by building elements from remote element tokens for Chrome's first element
// identifiers; those that are windows with a window number not seen yet are added after the
// ordinary list.
#pragma once

#include "platform/Platform.h"
#include "platform/RemoteToken.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cpi {

// The ordinary window list of `app` followed by the windows found by token, each window number at
// most once among the windows that have one. Absent when 65 or more windows would be listed.
std::optional<std::vector<Element>> windowsOnEverySpace(Platform& platform, const Element& app,
                                                        std::int32_t pid);

} // namespace cpi
