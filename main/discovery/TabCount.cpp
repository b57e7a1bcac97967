#include "discovery/TabCount.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"

#include <optional>
#include <string>
#include <vector>

namespace cpi {

namespace {

// One depth-first walk from `root` that stops entering at `stopRole` (web areas are not entered
// either) and hands every element of that role to `onStopRole`. Adds each examined element to
// `examined`; false when the walk would go past `limit`.
template <typename OnStopRole>
bool walkUntil(Platform& platform, const Element& root, std::string_view stopRole, std::size_t limit,
               std::size_t& examined, OnStopRole onStopRole) {
    static constexpr std::string_view attributes[] = {ax::role, ax::children};
    std::vector<Element> stack{root};
    while (!stack.empty()) {
        Element element = std::move(stack.back());
        stack.pop_back();
        if (examined >= limit) {
            return false;
        }
        ElementFacts facts = ElementFacts::read(platform, element, attributes);
        ++examined;
        const std::string role = facts.role();
        if (role == stopRole) {
            onStopRole(element);
            continue;
        }
        if (ChromePrivateInputPolicy::shouldDescend(role, WebContent::prune)) {
            if (std::optional<std::vector<Element>> children = facts.elements(ax::children)) {
                for (Element& child : *children) {
                    stack.push_back(std::move(child));
                }
            }
        }
    }
    return true;
}

} // namespace

std::optional<std::int64_t> countTabs(Platform& platform, const Element& window) {
    std::size_t examined = 0;

    std::vector<Element> tabGroups;
    if (!walkUntil(platform, window, axRole::tabGroup, tabStripSearchLimit, examined,
                   [&](const Element& group) { tabGroups.push_back(group); })) {
        return std::nullopt;
    }
    if (tabGroups.size() != 1) {
        return std::nullopt;
    }

    std::int64_t tabs = 0;
    if (!walkUntil(platform, tabGroups.front(), axRole::radioButton, tabCountLimit, examined,
                   [&](const Element&) { ++tabs; })) {
        return std::nullopt;
    }
    return tabs;
}

} // namespace cpi
