// The discovery code reads several attributes per round trip and derives the toolbar search from
// the window walk. These tests hold it to the answers of reading one attribute at a time, written
// out plainly below, on random trees with shared elements, loops and unreadable attributes.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "DiscoveryTestSupport.h"
#include "discovery/Toolbars.h"

#include <deque>
#include <gtest/gtest.h>
#include <random>

namespace cpi::test {
namespace {

using nlohmann::json;
using Policy = ChromePrivateInputPolicy;

// ---------------------------------------------------------------------------------------------
// One attribute at a time.

std::optional<std::vector<Element>> plainDescendants(Platform& platform, const Element& root, bool prune,
                                                     std::size_t limit) {
    std::vector<Element> stack{root};
    std::vector<Element> result;
    while (!stack.empty()) {
        Element element = stack.back();
        stack.pop_back();
        if (result.size() == limit) {
            return std::nullopt;
        }
        result.push_back(element);
        std::string role = readRole(platform, element);
        if (Policy::shouldDescend(role, prune ? WebContent::prune : WebContent::enter)) {
            if (auto children = readElements(platform, element, ax::children)) {
                stack.insert(stack.end(), children->begin(), children->end());
            }
        }
    }
    return result;
}

std::vector<Element> plainMainToolbars(Platform& platform, const std::vector<Element>& elements) {
    std::vector<Element> toolbars;
    for (const Element& element : elements) {
        if (readString(platform, element, ax::role) != "AXToolbar") {
            continue;
        }
        std::deque<std::pair<Element, int>> queue{{element, 0}};
        std::vector<std::string> roles;
        while (roles.size() < 200 && !queue.empty()) {
            auto [next, depth] = queue.front();
            queue.pop_front();
            std::string role = readRole(platform, next);
            roles.push_back(role);
            if (depth > 2 || role == "AXWebArea" || role == "AXTextField") {
                continue;
            }
            if (auto children = readElements(platform, next, ax::children)) {
                for (const Element& child : *children) {
                    queue.emplace_back(child, depth + 1);
                }
            }
        }
        if (Policy::isMainToolbar(roles)) {
            toolbars.push_back(element);
        }
    }
    return toolbars;
}

AvatarSearch plainAvatarWindows(Platform& platform, const std::vector<Element>& windows,
                                const std::string& profile) {
    const ReasonCode refusal = ReasonCode::selectedChromeProfileNotConfirmed;
    std::vector<ProfiledWindow> found;
    for (const Element& window : windows) {
        auto nodes = plainDescendants(platform, window, true, 2500);
        if (!nodes) {
            continue;
        }
        std::vector<Element> matching;
        for (const Element& toolbar : plainMainToolbars(platform, *nodes)) {
            auto children = readElements(platform, toolbar, ax::children);
            if (!children) {
                return refusal;
            }
            int matches = 0;
            for (const Element& child : *children) {
                std::string role = readRole(platform, child);
                auto title = readString(platform, child, ax::title);
                auto description = readString(platform, child, ax::description);
                matches += Policy::isProfileAvatarLabel(role, true, title, description, profile) ? 1 : 0;
            }
            if (matches >= 2) {
                return refusal;
            }
            if (matches == 1) {
                matching.push_back(toolbar);
            }
        }
        if (matching.size() >= 2) {
            return refusal;
        }
        if (matching.size() == 1) {
            found.push_back({window, matching.front(), *nodes, {}});
        }
    }
    return found;
}

WindowDescription plainWindowAvatar(Platform& platform, const Element& window) {
    auto subrole = readString(platform, window, ax::subrole);
    auto nodes = plainDescendants(platform, window, true, 2500);
    if (nodes) {
        auto toolbars = plainMainToolbars(platform, *nodes);
        if (!toolbars.empty()) {
            auto children =
                readElements(platform, toolbars.front(), ax::children).value_or(std::vector<Element>());
            std::vector<std::string> roles;
            for (const Element& child : children) {
                roles.push_back(readRole(platform, child));
            }
            auto index = Policy::avatarIndex(roles);
            if (!index) {
                return {"browser", std::nullopt};
            }
            return {"browser", Policy::toolbarLabel(readString(platform, children[*index], ax::title),
                                                    readString(platform, children[*index], ax::description))};
        }
    }
    return {Policy::windowKind(false, subrole), std::nullopt};
}

// ---------------------------------------------------------------------------------------------
// Random Chrome-like trees.

class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : random_(seed) {}

    json window() {
        json w = {{"id", nextId()}, {"role", "AXWindow"}};
        if (chance(0.5)) {
            w["subrole"] = pick({"AXStandardWindow", "AXDialog", "AXSystemDialog"});
        }
        w["children"] = json::array();
        int count = between(1, 5);
        for (int i = 0; i < count; ++i) {
            w["children"].push_back(chance(0.5) ? toolbar() : node(1));
        }
        return w;
    }

private:
    json toolbar() {
        json t = {{"id", nextId()}, {"role", "AXToolbar"}, {"children", json::array()}};
        int count = between(0, 6);
        for (int i = 0; i < count; ++i) {
            t["children"].push_back(chance(0.6) ? button() : node(2));
        }
        if (chance(0.6)) {
            t["children"].push_back({{"role", "AXPopUpButton"}});
        }
        return t;
    }

    json button() {
        json b = {{"id", nextId()}, {"role", chance(0.85) ? "AXButton" : "AXPopUpButton"}};
        labels(b);
        return b;
    }

    void labels(json& element) {
        const char* names[] = {"Work", "Work Profile", "Home", "Workshop", " Work", "", "  "};
        if (chance(0.4)) {
            element["title"] = names[between(0, 6)];
        }
        if (chance(0.3)) {
            element["description"] = names[between(0, 6)];
        }
    }

    json node(int depth) {
        if (!ids_.empty() && chance(0.06)) {
            return {{"ref", ids_[between(0, static_cast<int>(ids_.size()) - 1)]}};
        }
        json n = {{"id", nextId()}};
        double roll = uniform();
        if (roll < 0.05) {
            n["attributes"]["AXRole"] = {{"error", -25204}};
        } else if (roll < 0.08) {
            n["attributes"]["AXRole"] = 12;
        } else {
            n["role"] = pick({"AXGroup", "AXGroup", "AXButton", "AXTextField", "AXWebArea", "AXToolbar",
                              "AXStaticText", "AXPopUpButton", "AXTabGroup"});
        }
        labels(n);
        double childRoll = uniform();
        if (childRoll < 0.04) {
            n["attributes"]["AXChildren"] = {{"error", -25200}};
        } else if (childRoll < 0.07) {
            n["attributes"]["AXChildren"] = {{"list", {{{"element", ids_.front()}}, "foreign"}}};
        } else if (depth < 6 && chance(0.55)) {
            int count = between(0, 4);
            n["children"] = json::array();
            for (int i = 0; i < count; ++i) {
                n["children"].push_back(node(depth + 1));
            }
        }
        return n;
    }

    std::string nextId() {
        ids_.push_back("n" + std::to_string(ids_.size()));
        return ids_.back();
    }
    bool chance(double p) { return uniform() < p; }
    double uniform() { return std::uniform_real_distribution<double>(0, 1)(random_); }
    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    std::string pick(std::initializer_list<const char*> options) {
        return *(options.begin() + between(0, static_cast<int>(options.size()) - 1));
    }

    std::mt19937 random_;
    std::vector<std::string> ids_;
};

bool sameElements(Platform& platform, const std::vector<Element>& first, const std::vector<Element>& second) {
    if (first.size() != second.size()) {
        return false;
    }
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (!platform.elementsEqual(first[i], second[i])) {
            return false;
        }
    }
    return true;
}

TEST(OneReadAtATime, SameAnswersOnRandomTrees) {
    // How often the interesting answers came up, so that the trees stay meaningful.
    int profiledWindows = 0, refusals = 0, labels = 0, browsers = 0, absentWalks = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TreeMaker maker(seed);
        json windows = json::array();
        for (int i = 0; i < 3; ++i) {
            windows.push_back(maker.window());
        }
        auto platform = loadScenario(chromeWith({{"role", "AXApplication"}, {"windows", windows}}));
        std::vector<Element> list =
            *readElements(*platform, platform->createApplicationElement(501), ax::windows);

        for (const Element& window : list) {
            for (std::size_t limit : {std::size_t{5}, std::size_t{40}, std::size_t{2500}}) {
                for (bool prune : {true, false}) {
                    auto fast =
                        descendants(*platform, window, prune ? WebContent::prune : WebContent::enter, limit);
                    auto plain = plainDescendants(*platform, window, prune, limit);
                    ASSERT_EQ(fast.has_value(), plain.has_value());
                    absentWalks += limit == 2500 && !fast ? 1 : 0;
                    if (fast) {
                        ASSERT_TRUE(sameElements(*platform, *fast, *plain));
                    }
                }
            }
            WindowDescription fast = windowAvatar(*platform, window);
            WindowDescription plain = plainWindowAvatar(*platform, window);
            ASSERT_EQ(fast.kind, plain.kind);
            ASSERT_EQ(fast.avatar, plain.avatar);
            browsers += fast.kind == "browser" ? 1 : 0;
            labels += fast.avatar ? 1 : 0;
        }
        for (const char* profile : {"Work", "Home"}) {
            AvatarSearch fast = avatarWindows(*platform, list, profile);
            AvatarSearch plain = plainAvatarWindows(*platform, list, profile);
            ASSERT_EQ(fast.accepted(), plain.accepted());
            if (!fast) {
                ASSERT_EQ(*fast.refusal(), *plain.refusal());
                ++refusals;
                continue;
            }
            profiledWindows += static_cast<int>(fast->size());
            ASSERT_EQ(fast->size(), plain->size());
            for (std::size_t i = 0; i < fast->size(); ++i) {
                const ProfiledWindow& a = fast.value()[i];
                const ProfiledWindow& b = plain.value()[i];
                ASSERT_TRUE(platform->elementsEqual(a.window, b.window));
                ASSERT_TRUE(platform->elementsEqual(a.toolbar, b.toolbar));
                ASSERT_TRUE(sameElements(*platform, a.nodes, b.nodes));
            }
        }
    }
    EXPECT_GT(profiledWindows, 20);
    EXPECT_GT(refusals, 5);
    EXPECT_GT(labels, 20);
    EXPECT_GT(browsers, 50);
    EXPECT_GT(absentWalks, 5);
}

} // namespace
} // namespace cpi::test
