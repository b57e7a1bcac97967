#include "discovery/TabCount.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace cpi {

std::optional<std::int64_t> countTabs(Platform& platform, const Element& window) {
    const auto countOf = [](const WalkedTree& tree, std::string_view role) {
        return std::count(tree.roles.begin(), tree.roles.end(), role);
    };
    // The tab strip is looked for without entering tab strips; its tabs are counted without
    // entering tabs.
    const std::optional<WalkedTree> search =
        walkTree(platform, window, WebContent::prune, tabStripSearchLimit, {}, axRole::tabGroup);
    if (!search || countOf(*search, axRole::tabGroup) != 1) {
        return std::nullopt;
    }
    const std::size_t tabGroup = static_cast<std::size_t>(
        std::find(search->roles.begin(), search->roles.end(), axRole::tabGroup) - search->roles.begin());
    const std::optional<WalkedTree> strip = walkTree(platform, search->nodes[tabGroup], WebContent::prune,
                                                     tabCountLimit - search->size(), {}, axRole::radioButton);
    if (!strip) {
        return std::nullopt;
    }
    return countOf(*strip, axRole::radioButton);
}

} // namespace cpi
