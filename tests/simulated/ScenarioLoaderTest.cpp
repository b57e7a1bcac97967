// The loader rejects what it does not understand, naming the JSON path of the problem.
#include "SimulationTestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace cpi {
namespace {

struct Rejection {
    const char* name;
    const char* scenario;
    const char* message;
};

// A row prints as its name, so that a failing row names itself.
void PrintTo(const Rejection& row, std::ostream* out) {
    *out << row.name;
}

const Rejection rejections[] = {
    {"not an object", R"([])", "scenario: expected an object, found a list"},
    {"unknown top-level key", R"({"trustd": true})", R"(scenario: unknown key "trustd")"},
    {"wrong type of a setting", R"({"trusted": 1})", "trusted: expected a boolean, found a number"},
    {"negative round-trip cost", R"({"roundTripMicros": -1})",
     "roundTripMicros: expected an integer from 0 to 1000000000"},
    {"unknown key deep in a tree",
     R"({"applications": [{"pid": 501, "root": {"children": [{}, {}, {"rol": "AXWindow"}]}}]})",
     R"(applications[0].root.children[2]: unknown key "rol")"},
    {"missing pid", R"({"applications": [{"bundleIdentifier": "com.google.Chrome"}]})",
     R"(applications[0]: missing key "pid")"},
    {"pid out of range", R"({"applications": [{"pid": 2147483648}]})",
     "applications[0].pid: expected an integer from -2147483648 to 2147483647"},
    {"duplicate pid", R"({"applications": [{"pid": 7}, {"pid": 7}]})",
     "applications[1].pid: duplicate pid 7"},
    {"duplicate id", R"({"applications": [{"pid": 1, "root": {"id": "a", "children": [{"id": "a"}]}}]})",
     R"(applications[0].root.children[0].id: duplicate id "a")"},
    {"duplicate id made by repeat",
     R"({"applications": [{"pid": 1, "root": {"children": [{"id": "t", "repeat": 2}, {"id": "t#2"}]}}]})",
     R"(applications[0].root.children[1].id: duplicate id "t#2")"},
    {"dangling reference", R"({"applications": [{"pid": 1, "root": {"children": [{"ref": "nowhere"}]}}]})",
     R"(applications[0].root.children[0].ref: no element with id "nowhere")"},
    {"empty reference (no element has an empty id)",
     R"({"applications": [{"pid": 1, "root": {"children": [{"ref": ""}]}}]})",
     R"(applications[0].root.children[0].ref: no element with id "")"},
    {"empty typed element",
     R"({"applications": [{"pid": 1, "root": {"focusedWindow": {"ref": ""}, "attributes": {"AXTop": {"element": ""}}}}]})",
     R"(applications[0].root.focusedWindow.ref: no element with id "")"},
    {"dangling typed element",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXTop": {"element": "x"}}}}]})",
     R"(applications[0].root.attributes.AXTop.element: no element with id "x")"},
    {"reference with more keys",
     R"({"applications": [{"pid": 1, "root": {"children": [{"ref": "a", "role": "x"}]}}]})",
     R"(applications[0].root.children[0]: unknown key "role")"},
    {"inline focused window",
     R"({"applications": [{"pid": 1, "root": {"focusedWindow": {"role": "AXWindow"}}}]})",
     R"(applications[0].root.focusedWindow: unknown key "role")"},
    {"role that is not a string", R"({"applications": [{"pid": 1, "root": {"role": 5}}]})",
     "applications[0].root.role: expected a string, found a number"},
    {"value that is a list", R"({"applications": [{"pid": 1, "root": {"value": []}}]})",
     "applications[0].root.value: expected a string, number or boolean, found a list"},
    {"attribute given twice",
     R"({"applications": [{"pid": 1, "root": {"role": "a", "attributes": {"AXRole": "b"}}}]})",
     R"(applications[0].root.attributes.AXRole: attribute also given by "role")"},
    {"unknown typed value",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"point": [1, 2]}}}}]})",
     R"(applications[0].root.attributes.AXA: unknown typed value "point")"},
    {"typed value with two keys",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"url": "x", "error": 1}}}}]})",
     "applications[0].root.attributes.AXA: a typed value object has exactly one key"},
    {"error inside a list",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"list": ["a", {"error": -25200}]}}}}]})",
     R"(applications[0].root.attributes.AXA.list[1].error: "error" describes a whole read and cannot stand in a list)"},
    {"noValue false",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"noValue": false}}}}]})",
     "applications[0].root.attributes.AXA.noValue: expected true"},
    {"null attribute", R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": null}}}]})",
     "applications[0].root.attributes.AXA: expected a string, number, boolean or typed value object, found "
     "null"},
    {"negative window number", R"({"applications": [{"pid": 1, "root": {"windowNumber": -1}}]})",
     "applications[0].root.windowNumber: expected an integer from 0 to 4294967295"},
    {"repeat outside a list", R"({"applications": [{"pid": 1, "root": {"repeat": 2}}]})",
     "applications[0].root.repeat: only an element in a list may repeat"},
    {"token identifier too large", R"({"applications": [{"pid": 1, "tokens": {"1000": {}}}]})",
     R"(applications[0].tokens: token identifier "1000" is not a decimal number from 0 to 999)"},
    {"token identifier with a leading zero", R"({"applications": [{"pid": 1, "tokens": {"05": {}}}]})",
     R"(applications[0].tokens: token identifier "05" is not a decimal number from 0 to 999)"},
    {"window server with an unknown key", R"({"windowServer": {"al": []}})",
     R"(windowServer: unknown key "al")"},
    {"pasteboard flag of the wrong type", R"({"pasteboard": {"failWrite": "yes"}})",
     "pasteboard.failWrite: expected a boolean, found a string"},
    {"value arrival of the wrong type", R"({"applications": [{"pid": 1, "root": {"valueArrives": 0}}]})",
     "applications[0].root.valueArrives: expected a boolean, found a number"},
    {"event without actions", R"({"events": [{"when": {"time": 1}}]})", R"(events[0]: missing key "do")"},
    {"unknown trigger", R"({"events": [{"when": {"calls": "sleep"}, "do": []}]})",
     R"(events[0].when: unknown trigger "calls")"},
    {"unknown platform call", R"({"events": [{"when": {"call": "AXUIElementCopyAttribute"}, "do": []}]})",
     R"(events[0].when.call: unknown platform call "AXUIElementCopyAttribute")"},
    {"call count 0", R"({"events": [{"when": {"call": "sleep", "count": 0}, "do": []}]})",
     "events[0].when.count: expected an integer from 1 to 9223372036854775807"},
    {"negative time", R"({"events": [{"when": {"time": -1}, "do": []}]})",
     "events[0].when.time: expected a number of seconds from 0 to 1e9"},
    {"set trigger on a missing element",
     R"({"events": [{"when": {"set": {"element": "app", "attribute": "AXManualAccessibility"}}, "do": []}]})",
     R"(events[0].when.set.element: no element with id "app")"},
    {"set trigger with a list value",
     R"({"applications": [{"pid": 1, "root": {"id": "app"}}],
         "events": [{"when": {"set": {"element": "app", "attribute": "A", "value": [true]}}, "do": []}]})",
     "events[0].when.set.value: expected a string or boolean, found a list"},
    {"unknown action", R"({"events": [{"when": {"time": 0}, "do": [{"explode": true}]}]})",
     R"(events[0].do[0]: unknown action "explode")"},
    {"action with two keys", R"({"events": [{"when": {"time": 0}, "do": [{"quit": 1, "terminate": 1}]}]})",
     "events[0].do[0]: an action has exactly one key"},
    {"unknown signal", R"({"events": [{"when": {"time": 0}, "do": [{"signal": "SIGSEGV"}]}]})",
     R"(events[0].do[0].signal: unknown signal "SIGSEGV")"},
    {"quit of an unknown pid", R"({"events": [{"when": {"time": 0}, "do": [{"quit": 44}]}]})",
     "events[0].do[0].quit: no application with pid 44"},
    {"addChild under a missing parent",
     R"({"events": [{"when": {"time": 0}, "do": [{"addChild": {"parent": "p", "element": {}}}]}]})",
     R"(events[0].do[0].addChild.parent: no element with id "p")"},
    {"setAttribute on a missing element",
     R"({"events": [{"when": {"time": 0}, "do": [{"setAttribute": {"element": "e", "attribute": "A", "value": 1}}]}]})",
     R"(events[0].do[0].setAttribute.element: no element with id "e")"},
    {"launch with an unknown key",
     R"({"events": [{"when": {"time": 0}, "do": [{"launch": {"pid": 9, "name": "x"}}]}]})",
     R"(events[0].do[0].launch: unknown key "name")"},
    // Of several problems, the first in the document's key order is the one reported.
    {"two wrong settings", R"({"trusted": 1, "now": "x"})", "now: expected a number, found a string"},
    {"two wrong pasteboard entries", R"({"pasteboard": {"failWrite": 1, "changeCount": "x"}})",
     "pasteboard.changeCount: expected an integer, found a string"},
    {"setting of another kind", R"({"now": true})", "now: expected a number, found a boolean"},
    {"display width that is not a number", R"({"display": {"height": 1, "width": "wide"}})",
     "display.width: expected a number, found a string"},
    {"display with an unknown key", R"({"display": {"depth": 2}})", R"(display: unknown key "depth")"},
    {"fractional activation policy", R"({"applications": [{"pid": 1, "activationPolicy": 1.5}]})",
     "applications[0].activationPolicy: expected an integer, found a number"},
    {"terminated that is not a boolean", R"({"applications": [{"pid": 1, "terminated": "no"}]})",
     "applications[0].terminated: expected a boolean, found a string"},
    {"dangling token reference", R"({"applications": [{"pid": 1, "tokens": {"5": {"ref": "x"}}}]})",
     R"(applications[0].tokens.5.ref: no element with id "x")"},
    {"settable name that is not a string",
     R"({"applications": [{"pid": 1, "root": {"settable": ["AXValue", 3]}}]})",
     "applications[0].root.settable[1]: expected a string, found a number"},
    {"element id in a list that is not a string",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"elements": ["a", 1]}}}}]})",
     "applications[0].root.attributes.AXA.elements[1]: expected a string, found a number"},
    {"bytes repeated too often",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"bytes": {"hex": "00", "repeat": 16777217}}}}}]})",
     "applications[0].root.attributes.AXA.bytes.repeat: expected an integer from 0 to 16777216"},
    {"bytes with an odd number of digits",
     R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"bytes": {"hex": "abc"}}}}}]})",
     "applications[0].root.attributes.AXA.bytes.hex: expected an even number of hexadecimal digits"},
    {"error code 0", R"({"applications": [{"pid": 1, "root": {"attributes": {"AXA": {"error": 0}}}}]})",
     "applications[0].root.attributes.AXA.error: an error code is not 0"},
    {"events that are not a list", R"({"events": {}})", "events: expected a list, found an object"},
    {"actions that are not a list", R"({"events": [{"when": {"time": 0}, "do": null}]})",
     "events[0].do: expected a list, found null"},
    {"negative delay", R"({"events": [{"when": {"time": 0}, "delay": -1, "do": []}]})",
     "events[0].delay: expected a number of seconds from 0 to 1e9"},
    {"call trigger with count and every",
     R"({"events": [{"when": {"call": "sleep", "count": 2, "every": 2}, "do": []}]})",
     R"(events[0].when: a call trigger has "count" or "every", not both)"},
    {"every 0", R"({"events": [{"when": {"call": "sleep", "every": 0}, "do": []}]})",
     "events[0].when.every: expected an integer from 1 to 9223372036854775807"},
    {"negative child index",
     R"({"events": [{"when": {"time": 0}, "do": [{"addChild": {"parent": "p", "element": {}, "index": -1}}]}]})",
     "events[0].do[0].addChild.index: expected an integer from 0 to 2147483647"},
    {"removeAttribute with a value",
     R"({"events": [{"when": {"time": 0}, "do": [{"removeAttribute": {"element": "e", "attribute": "A", "value": 1}}]}]})",
     R"(events[0].do[0].removeAttribute: unknown key "value")"},
    {"setWindowNumber that is not an object",
     R"({"events": [{"when": {"time": 0}, "do": [{"setWindowNumber": 3}]}]})",
     "events[0].do[0].setWindowNumber: expected an object, found a number"},
};

class LoaderRejects : public ::testing::TestWithParam<Rejection> {};

TEST_P(LoaderRejects, NamingThePath) {
    const Rejection& rejection = GetParam();
    try {
        testing::platformFor(rejection.scenario);
        FAIL() << "accepted: " << rejection.scenario;
    } catch (const ScenarioError& error) {
        EXPECT_EQ(std::string(error.what()), rejection.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, LoaderRejects, ::testing::ValuesIn(rejections),
                         [](const ::testing::TestParamInfo<Rejection>& parameter) {
                             std::string name = parameter.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

TEST(Loader, AcceptsTheEmptyScenarioWithItsDefaults) {
    auto platform = testing::platformFor("{}");
    EXPECT_TRUE(platform->isProcessTrusted());
    EXPECT_DOUBLE_EQ(platform->currentTime(), 1765000000.0);
    EXPECT_EQ(platform->mainDisplayBounds(), (Rect{0, 0, 1728, 1117}));
    EXPECT_EQ(platform->pasteboardChangeCount(), 0);
    EXPECT_EQ(platform->copyWindowInfo(16)->size(), 0u);
    EXPECT_EQ(platform->copyWindowInfo(17)->size(), 0u);
    EXPECT_TRUE(platform->runningApplicationsWithBundleIdentifier("com.google.Chrome").empty());
}

TEST(Loader, JournalThatCannotBeOpenedIsAnError) {
    EXPECT_THROW(testing::platformFor("{}", "/nonexistent-folder/journal.jsonl"), ScenarioError);
}

} // namespace
} // namespace cpi

namespace cpi {
namespace {

// The shared scenarios under tests/scenarios are used by many cases: each must load.
TEST(SharedScenarios, EveryOneLoads) {
    const std::filesystem::path folder = std::filesystem::path(CPI_REPOSITORY_ROOT) / "tests" / "scenarios";
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".json") {
            continue;
        }
        std::ifstream input(entry.path());
        try {
            SimulatedPlatform::load(nlohmann::json::parse(input), std::nullopt);
            ++loaded;
        } catch (const std::exception& error) {
            ADD_FAILURE() << entry.path().filename() << ": " << error.what();
        }
    }
    EXPECT_GT(loaded, 0);
}

} // namespace
} // namespace cpi

namespace cpi {
namespace {

std::string chainOfElements(int depth) {
    std::string text = R"({"applications": [{"pid": 501, "root": )";
    for (int level = 0; level < depth; ++level) {
        text += R"({"role": "AXGroup", "children": [)";
    }
    text += "{}";
    for (int level = 0; level < depth; ++level) {
        text += "]}";
    }
    return text + "}]}";
}

TEST(Loader, NestingIsBoundedSoThatDeepDocumentsAreRefusedNotFatal) {
    auto platform = testing::platformFor(chainOfElements(990));
    EXPECT_EQ(
        std::get<std::string>(
            platform->copyAttributeValue(platform->createApplicationElement(501), "AXRole").value->value),
        "AXGroup");
    for (const int depth : {1000, 5000}) {
        try {
            testing::platformFor(chainOfElements(depth));
            ADD_FAILURE() << "accepted a chain of " << depth;
        } catch (const ScenarioError& error) {
            EXPECT_EQ(std::string(error.what()), "scenario: nested deeper than 2000 levels");
        }
    }
}

} // namespace
} // namespace cpi
