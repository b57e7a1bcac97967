#include "discovery/Toolbars.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace cpi {

namespace {

constexpr ReasonCode refusal = ReasonCode::selectedChromeProfileNotConfirmed;

// A toolbar child's role and labels, read together.
constexpr std::string_view buttonAttributes[] = {ax::role, ax::title, ax::description};

// The roles of the toolbar at `toolbar` and the elements near it, breadth first: at most 200
// roles; elements deeper than two levels below the toolbar, web areas and text fields are
// examined but not expanded.
std::vector<std::string> toolbarSubtreeRoles(const WalkedTree& tree, std::size_t toolbar) {
    std::vector<std::string> roles;
    std::deque<std::pair<std::size_t, std::size_t>> queue{{toolbar, 0}};
    while (roles.size() < toolbarRoleLimit && !queue.empty()) {
        const auto [position, depth] = queue.front();
        queue.pop_front();
        const std::string& role = tree.roles[position];
        roles.push_back(role);
        if (depth > toolbarExpandDepth || role == axRole::webArea || role == axRole::textField) {
            continue;
        }
        // The walk entered every element but web areas, so the children it read are the ones a
        // read now would give.
        if (const auto& children = tree.children[position]) {
            for (std::size_t child : *children) {
                queue.emplace_back(child, depth + 1);
            }
        }
    }
    return roles;
}

} // namespace

std::vector<std::size_t> mainToolbars(const WalkedTree& window) {
    std::vector<std::size_t> toolbars;
    for (std::size_t position = 0; position < window.size(); ++position) {
        if (window.roles[position] == axRole::toolbar &&
            Policy::isMainToolbar(toolbarSubtreeRoles(window, position))) {
            toolbars.push_back(position);
        }
    }
    return toolbars;
}

AvatarSearch avatarWindows(Platform& platform, const std::vector<Element>& windows,
                           std::string_view profileName) {
    std::vector<ProfiledWindow> found;
    for (const Element& window : windows) {
        std::optional<WalkedTree> tree = walkTree(platform, window, WebContent::prune, windowWalkLimit);
        if (!tree) {
            continue; // too large to tell: neither counts nor refuses
        }
        std::vector<std::size_t> matchingToolbars;
        for (std::size_t toolbar : mainToolbars(*tree)) {
            std::optional<std::vector<Element>> children =
                readElements(platform, tree->nodes[toolbar], ax::children);
            if (!children) {
                return refusal;
            }
            const auto matches = std::ranges::count_if(*children, [&](const Element& child) {
                ElementFacts facts = ElementFacts::read(platform, child, buttonAttributes);
                return Policy::isProfileAvatarLabel(facts.role(), true, facts.string(ax::title),
                                                    facts.string(ax::description), profileName);
            });
            if (matches >= 2) {
                return refusal;
            }
            if (matches == 1) {
                matchingToolbars.push_back(toolbar);
            }
        }
        if (matchingToolbars.size() >= 2) {
            return refusal;
        }
        if (!matchingToolbars.empty()) {
            Element toolbar = tree->nodes[matchingToolbars.front()];
            found.push_back({window, std::move(toolbar), std::move(tree->nodes), std::move(tree->roles)});
        }
    }
    return found;
}

WindowDescription windowAvatar(Platform& platform, const Element& window) {
    std::optional<std::string> subrole = readString(platform, window, ax::subrole);
    std::optional<WalkedTree> tree = walkTree(platform, window, WebContent::prune, windowWalkLimit);
    const std::vector<std::size_t> toolbars = tree ? mainToolbars(*tree) : std::vector<std::size_t>();
    if (toolbars.empty()) {
        return {Policy::windowKind(false, subrole), std::nullopt};
    }
    std::vector<Element> children =
        readElements(platform, tree->nodes[toolbars.front()], ax::children).value_or(std::vector<Element>());
    std::vector<ElementFacts> buttons;
    std::vector<std::string> childRoles;
    for (const Element& child : children) {
        buttons.push_back(ElementFacts::read(platform, child, buttonAttributes));
        childRoles.push_back(buttons.back().role());
    }
    const std::optional<std::size_t> avatar = Policy::avatarIndex(childRoles);
    return {Policy::windowKind(true, subrole),
            avatar ? Policy::toolbarLabel(buttons[*avatar].string(ax::title),
                                          buttons[*avatar].string(ax::description))
                   : std::nullopt};
}

} // namespace cpi
