#include "discovery/Toolbars.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <deque>
#include <utility>

namespace cpi {

namespace {

using Policy = ChromePrivateInputPolicy;

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
        std::optional<std::size_t> matchingToolbar;
        std::size_t matchingToolbars = 0;
        for (std::size_t toolbar : mainToolbars(*tree)) {
            std::optional<std::vector<Element>> children =
                readElements(platform, tree->nodes[toolbar], ax::children);
            if (!children) {
                return refusal;
            }
            std::size_t matches = 0;
            for (const Element& child : *children) {
                ElementFacts facts = ElementFacts::read(platform, child, buttonAttributes);
                if (Policy::isProfileAvatarLabel(facts.role(), true, facts.string(ax::title),
                                                 facts.string(ax::description), profileName)) {
                    ++matches;
                }
            }
            if (matches >= 2) {
                return refusal;
            }
            if (matches == 1) {
                ++matchingToolbars;
                if (!matchingToolbar) {
                    matchingToolbar = toolbar;
                }
            }
        }
        if (matchingToolbars >= 2) {
            return refusal;
        }
        if (matchingToolbar) {
            Element toolbar = tree->nodes[*matchingToolbar];
            found.push_back({window, std::move(toolbar), std::move(tree->nodes), std::move(tree->roles)});
        }
    }
    return found;
}

WindowDescription windowAvatar(Platform& platform, const Element& window) {
    std::optional<std::string> subrole = readString(platform, window, ax::subrole);
    std::optional<WalkedTree> tree = walkTree(platform, window, WebContent::prune, windowWalkLimit);
    if (tree) {
        std::vector<std::size_t> toolbars = mainToolbars(*tree);
        if (!toolbars.empty()) {
            std::vector<Element> children =
                readElements(platform, tree->nodes[toolbars.front()], ax::children)
                    .value_or(std::vector<Element>());
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
    }
    return {Policy::windowKind(false, subrole), std::nullopt};
}

} // namespace cpi
