#include "keycapture/PageKeyRuns.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"
#include "platform/SecureMemory.h"

#include <array>
#include <iterator>
#include <string_view>

namespace cpi {

namespace {

// Read with role and children by the walk: enough to tell a text element from a password field
// before anything of its text is asked for.
constexpr std::array<std::string_view, 1> walkAttributes{ax::subrole};
// Read in one round trip from each text element.
constexpr std::array<std::string_view, 2> textAttributes{ax::value, ax::focused};

void wipeAll(std::vector<std::string>& texts) noexcept {
    for (std::string& text : texts) {
        wipeContents(text);
    }
    texts.clear();
}

} // namespace

void PageKeyRuns::wipe() noexcept {
    wipeAll(runs);
    wipeAll(focusedRuns);
}

std::optional<PageKeyRuns> pageKeyRuns(Platform& platform, const Element& root) {
    const std::optional<WalkedTree> tree =
        walkTree(platform, root, WebContent::enter, pageWalkLimit, walkAttributes);
    if (!tree) {
        return std::nullopt;
    }
    PageKeyRuns result;
    for (std::size_t index = 0; index < tree->size(); ++index) {
        if (!Policy::isKeyTextNode(tree->roles[index], tree->facts[index].string(ax::subrole))) {
            continue;
        }
        ElementFacts text = ElementFacts::read(platform, tree->nodes[index], textAttributes);
        if (std::optional<std::string> value = text.string(ax::value)) {
            ++result.textNodes;
            std::vector<std::string> runs = Policy::keyRuns(*value);
            wipeContents(*value);
            // Focus only matters, and is only looked at, for an element with runs.
            if (!runs.empty() && text.boolean(ax::focused) == true) {
                result.focusedRuns.insert(result.focusedRuns.end(), runs.begin(), runs.end());
            }
            result.runs.insert(result.runs.end(), std::make_move_iterator(runs.begin()),
                               std::make_move_iterator(runs.end()));
        }
        text.wipeStrings();
    }
    return result;
}

} // namespace cpi
