// Counting the tabs of one Chrome window: its one tab strip ("AXTabGroup") and the tabs
// ("AXRadioButton") in it.
#pragma once

#include "ChromePrivateInputPolicy/Limits.h"
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace cpi {

// One counter of examined elements runs over both walks of a window: the search for the tab strip
// stops at `tabStripSearchLimit`, the count of its tabs at `tabCountLimit` (Limits.h).
// The number of tabs of `window`; absent when the tab strip is missing, not unique, or too large.
std::optional<std::int64_t> countTabs(Platform& platform, const Element& window);

} // namespace cpi
