#include "keycapture/PageKeyRuns.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"
#include "platform/SecureMemory.h"

#include <array>
#include <iterator>
#include <string_view>

namespace cpi {

namespace {

constexpr std::array<std::string_view, 3> textAttributes{ax::subrole, ax::value, ax::focused};

} // namespace

std::optional<PageKeyRuns> pageKeyRuns(Platform& platform, const Element& root) {
    std::optional<WalkedTree> tree = walkTree(platform, root, false, pageWalkLimit, textAttributes);
    if (!tree) {
        return std::nullopt;
    }
    PageKeyRuns result;
    for (std::size_t index = 0; index < tree->size(); ++index) {
        ElementFacts& facts = tree->facts[index];
        if (ChromePrivateInputPolicy::isKeyTextNode(tree->roles[index], facts.string(ax::subrole))) {
            if (std::optional<std::string> value = facts.string(ax::value)) {
                ++result.textNodes;
                std::vector<std::string> runs = ChromePrivateInputPolicy::keyRuns(*value);
                wipeContents(*value);
                if (!runs.empty() && facts.boolean(ax::focused) == true) {
                    result.focusedRuns.insert(result.focusedRuns.end(), runs.begin(), runs.end());
                }
                result.runs.insert(result.runs.end(), std::make_move_iterator(runs.begin()),
                                   std::make_move_iterator(runs.end()));
            }
        }
        facts.wipeStrings();
    }
    return result;
}

} // namespace cpi
