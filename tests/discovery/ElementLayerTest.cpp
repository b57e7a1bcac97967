#include "DiscoveryTestSupport.h"
#include "discovery/AccessibilityElements.h"

#include <gtest/gtest.h>

namespace cpi::test {
namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;

struct Stub : ElementObject {};
Element stubElement() {
    return Element(std::make_shared<Stub>());
}

AttributeRead ok(AttributeValue value) {
    return {axErrorSuccess, std::move(value)};
}

// ---------------------------------------------------------------------------------------------
// Reading values: the expected kind or absent.

struct ConversionCase {
    const char* name;
    AttributeRead read;
    std::optional<std::string> string;
    std::optional<bool> boolean;
    std::optional<std::size_t> elementCount;
    std::optional<std::string> urlOrString;
    bool raw;
};

TEST(ElementReads, YieldTheExpectedKindOrNothing) {
    const std::vector<ConversionCase> cases = {
        {"failed read with a value",
         {axErrorCannotComplete, AttributeValue{std::string("x")}},
         {},
         {},
         {},
         {},
         false},
        {"no value", {axErrorSuccess, std::nullopt}, {}, {}, {}, {}, false},
        {"string", ok({std::string("AXButton")}), "AXButton", {}, {}, "AXButton", true},
        {"empty string", ok({std::string()}), "", {}, {}, "", true},
        {"boolean", ok({true}), {}, true, {}, {}, true},
        {"number is not a boolean", ok({1.0}), {}, {}, {}, {}, true},
        {"url", ok({UrlValue{"https://a.example/"}}), {}, {}, {}, "https://a.example/", true},
        {"elements", ok({AttributeList{{stubElement()}, {stubElement()}}}), {}, {}, 2, {}, true},
        {"empty list", ok({AttributeList{}}), {}, {}, 0, {}, true},
        {"one foreign item", ok({AttributeList{{stubElement()}, {std::string("x")}}}), {}, {}, {}, {}, true},
        {"empty handle in a list", ok({AttributeList{{Element()}}}), {}, {}, {}, {}, true},
        {"single element", ok({stubElement()}), {}, {}, {}, {}, true},
        {"other kind", ok({OtherValue{}}), {}, {}, {}, {}, true},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(stringFrom(c.read), c.string);
        EXPECT_EQ(booleanFrom(c.read), c.boolean);
        std::optional<std::vector<Element>> elements = elementsFrom(c.read);
        EXPECT_EQ(elements ? std::optional<std::size_t>(elements->size()) : std::nullopt, c.elementCount);
        EXPECT_EQ(urlOrStringFrom(c.read), c.urlOrString);
        EXPECT_EQ(rawValueFrom(c.read).has_value(), c.raw);
    }
}

TEST(ElementReads, FactsOfOneElementComeInOneRoundTrip) {
    auto simulated = loadScenario(chromeWith(json::parse(R"({
        "role": "AXApplication", "title": "Chrome",
        "attributes": {"AXDescription": {"error": -25204}, "AXValue": {"noValue": true}, "AXFocused": 1}
    })")));
    CountingPlatform platform(*simulated);
    Element app = platform.createApplicationElement(501);
    ElementFacts facts = ElementFacts::read(
        platform, app, {ax::role, ax::title, ax::description, ax::value, ax::focused, ax::url});
    EXPECT_EQ(platform.roundTrips(), 1);
    EXPECT_EQ(facts.role(), "AXApplication");
    EXPECT_EQ(facts.string(ax::title), "Chrome");
    EXPECT_EQ(facts.string(ax::description), std::nullopt);
    EXPECT_EQ(facts.rawValue(ax::value).has_value(), false);
    EXPECT_EQ(facts.boolean(ax::focused), std::nullopt);
    EXPECT_EQ(facts.string(ax::subrole), std::nullopt); // never asked for
}

// ---------------------------------------------------------------------------------------------
// The bounded walk.

struct Walk {
    std::unique_ptr<Platform> simulated;
    std::optional<std::vector<Element>> nodes;
    long roundTrips = 0;
    long singleReads = 0;

    std::optional<Strings> names() {
        if (!nodes) {
            return std::nullopt;
        }
        return titles(*simulated, *nodes);
    }
};

Walk walk(const json& root, bool prune, std::size_t limit) {
    Walk result;
    result.simulated = loadScenario(chromeWith(root));
    CountingPlatform platform(*result.simulated);
    Element app = platform.createApplicationElement(501);
    result.nodes = descendants(platform, app, prune ? WebContent::prune : WebContent::enter, limit);
    result.roundTrips = platform.roundTrips();
    result.singleReads = platform.singleReads;
    return result;
}

const json rootC1C2D = json::parse(R"({"title": "root", "children": [
    {"title": "c1", "children": [{"title": "d"}]}, {"title": "c2"}]})");

TEST(Descendants, DepthFirstWithSiblingsFromTheLast) {
    EXPECT_EQ(walk(rootC1C2D, true, 2500).names(), (Strings{"root", "c2", "c1", "d"}));
}

TEST(Descendants, LimitBoundsTheWholeWalk) {
    const json lone = json::parse(R"({"title": "root"})");
    const json oneChild = json::parse(R"({"title": "root", "children": [{"title": "c"}]})");
    struct Case {
        const char* name;
        json root;
        std::size_t limit;
        std::optional<Strings> expected;
    };
    const std::vector<Case> cases = {
        {"lone root, limit 1", lone, 1, Strings{"root"}},
        {"lone root, limit 0", lone, 0, std::nullopt},
        {"root with a child, limit 0", oneChild, 0, std::nullopt},
        {"root with a child, limit 1", oneChild, 1, std::nullopt},
        {"exactly the limit", rootC1C2D, 4, Strings{"root", "c2", "c1", "d"}},
        {"one over the limit", rootC1C2D, 3, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(walk(c.root, false, c.limit).names(), c.expected);
    }
}

TEST(Descendants, PruningListsAWebAreaButNotItsPage) {
    const json window = json::parse(R"({"title": "window", "role": "AXWindow", "children": [
        {"title": "toolbar", "role": "AXToolbar"},
        {"title": "page", "role": "AXWebArea", "children": [{"role": "AXStaticText", "repeat": 3000}]}]})");
    EXPECT_EQ(walk(window, true, 2500).names(), (Strings{"window", "page", "toolbar"}));
    EXPECT_EQ(walk(window, false, 2500).names(), std::nullopt);
}

TEST(Descendants, UnreadableRolesAndChildren) {
    // A role that fails or is a number counts as the empty role: the element is still entered.
    // Children that fail, or hold one item that is not an element, leave the element childless.
    const json root = json::parse(R"({"title": "root", "children": [
        {"title": "failing role", "attributes": {"AXRole": {"error": -25204}}, "children": [{"title": "a"}]},
        {"title": "number role", "attributes": {"AXRole": 7}, "children": [{"title": "b"}]},
        {"id": "x", "title": "foreign item", "attributes": {"AXChildren": {"list": [{"element": "x"}, "text"]}}},
        {"title": "failing children", "attributes": {"AXChildren": {"error": -25200}}},
        {"title": "no children value", "attributes": {"AXChildren": {"noValue": true}}},
        {"title": "children not a list", "attributes": {"AXChildren": "c"}}]})");
    EXPECT_EQ(walk(root, true, 2500).names(),
              (Strings{"root", "children not a list", "no children value", "failing children", "foreign item",
                       "number role", "b", "failing role", "a"}));
}

TEST(Descendants, RepeatsAndLoopsAreBoundedByTheLimit) {
    const json twoPaths = json::parse(R"({"title": "root", "children": [
        {"id": "a", "title": "a", "children": [{"title": "x"}]}, {"ref": "a"}]})");
    EXPECT_EQ(walk(twoPaths, true, 2500).names(), (Strings{"root", "a", "x", "a", "x"}));

    const json loop = json::parse(R"({"id": "top", "title": "root", "children": [
        {"title": "g", "children": [{"ref": "top"}]}]})");
    Walk looped = walk(loop, true, 2500);
    EXPECT_EQ(looped.nodes, std::nullopt);
    EXPECT_EQ(looped.roundTrips, 2500);
}

TEST(Descendants, OneRoundTripPerElementAlsoOnHugeTrees) {
    // 100000 elements in two levels; the walk stops at the limit.
    const json huge = json::parse(R"({"title": "root", "children": [
        {"role": "AXGroup", "repeat": 100, "children": [{"role": "AXButton", "repeat": 1000}]}]})");
    Walk stopped = walk(huge, true, 2500);
    EXPECT_EQ(stopped.nodes, std::nullopt);
    EXPECT_EQ(stopped.roundTrips, 2500);
    EXPECT_EQ(stopped.singleReads, 0);

    Walk whole = walk(huge, true, 200000);
    ASSERT_TRUE(whole.nodes);
    EXPECT_EQ(whole.nodes->size(), 100101u);
    EXPECT_EQ(whole.roundTrips, 100101);
}

TEST(WalkTree, RecordsChildPositionsAndExtraFacts) {
    auto simulated = loadScenario(chromeWith(rootC1C2D));
    Element app = simulated->createApplicationElement(501);
    const std::string_view extras[] = {ax::title};
    std::optional<WalkedTree> tree = walkTree(*simulated, app, WebContent::prune, 10, extras);
    ASSERT_TRUE(tree);
    // Walk order root, c2, c1, d: root's children are c1 (position 2) then c2 (position 1).
    EXPECT_EQ(tree->children[0], (std::vector<std::size_t>{2, 1}));
    EXPECT_EQ(tree->children[2], (std::vector<std::size_t>{3}));
    EXPECT_EQ(tree->children[3], std::nullopt); // d has no children attribute
    ASSERT_EQ(tree->facts.size(), 4u);
    EXPECT_EQ(tree->facts[3].string(ax::title), "d");
}

TEST(WalkTree, ExtraFactsKeepEveryNameAskedFor) {
    auto simulated = loadScenario(chromeWith(rootC1C2D));
    Element app = simulated->createApplicationElement(501);
    // The role is read by the walk anyway, the title is asked for twice, the subrole is absent.
    const std::string_view extras[] = {ax::title, ax::role, ax::title, ax::subrole};
    std::optional<WalkedTree> tree = walkTree(*simulated, app, WebContent::prune, 10, extras);
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->facts.size(), 4u);
    for (std::size_t index = 0; index < tree->size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(tree->facts[index].string(ax::title), titles(*simulated, {tree->nodes[index]}).front());
        EXPECT_EQ(tree->facts[index].role(), tree->roles[index]);
        EXPECT_EQ(tree->facts[index].string(ax::subrole), std::nullopt);
        EXPECT_EQ(tree->facts[index].at(ax::children).error, axErrorNoValue); // not among the extras
    }
}

TEST(UniqueAXElements, KeepsTheFirstOfEachElement) {
    auto platform = loadScenario(chromeWith(json::parse(R"({"children": [
        {"id": "a", "title": "a"}, {"title": "b"}, {"ref": "a"}, {"title": "c"}]})")));
    Element app = platform->createApplicationElement(501);
    std::optional<std::vector<Element>> children = readElements(*platform, app, ax::children);
    ASSERT_TRUE(children);
    ASSERT_EQ(children->size(), 4u);
    EXPECT_EQ(titles(*platform, uniqueAXElements(*platform, *children)), (Strings{"a", "b", "c"}));
    EXPECT_TRUE(uniqueAXElements(*platform, {}).empty());
}

} // namespace
} // namespace cpi::test
