#include "discovery/TabCount.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace cpi {

std::optional<std::int64_t> countTabs(Platform& platform, const Element& window) {
    // The tab strip is looked for without entering tab strips; its tabs are counted without
    // entering tabs.
    const std::optional<WalkedTree> search =
        walkTree(platform, window, WebContent::prune, tabStripSearchLimit, {}, axRole::tabGroup);
    if (!search || std::ranges::count(search->roles, axRole::tabGroup) != 1) {
        return std::nullopt;
    }
    const auto tabGroup = std::ranges::find(search->roles, axRole::tabGroup) - search->roles.begin();
    const std::optional<WalkedTree> strip =
        walkTree(platform, search->nodes[static_cast<std::size_t>(tabGroup)], WebContent::prune,
                 tabCountLimit - search->size(), {}, axRole::radioButton);
    if (!strip) {
        return std::nullopt;
    }
    return std::ranges::count(strip->roles, axRole::radioButton);
}

} // namespace cpi
