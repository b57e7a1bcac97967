// The simulated platform answers as the scenario says and as the real calls would.
#include "SimulationTestSupport.h"
#include "platform/Process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace cpi {
namespace {

using nlohmann::json;
using testing::journalLines;
using testing::journalPath;
using testing::platformFor;
using testing::remoteToken;

constexpr const char* tree = R"({
  "applications": [{
    "pid": 501, "bundleIdentifier": "com.google.Chrome",
    "root": {
      "id": "app", "role": "AXApplication",
      "windows": [{"ref": "w1"}],
      "focusedWindow": {"ref": "w1"},
      "children": [
        {"id": "w1", "role": "AXWindow", "title": "Work", "windowNumber": 41,
         "children": [
           {"role": "AXToolbar", "description": "Main toolbar"},
           {"id": "field", "role": "AXTextField", "value": "old", "focused": true, "settable": ["AXValue"],
            "setResults": {"AXSelectedText": -25205}},
           {"id": "page", "role": "AXWebArea", "url": "https://example.com/login",
            "children": [{"id": "text", "repeat": 3, "role": "AXStaticText", "children": [{"id": "inner"}]}]}
         ]},
        {"id": "kinds", "value": 7,
         "attributes": {
           "AXFlag": false, "AXCount": 3.5, "AXLink": {"url": "https://a.example/"},
           "AXTarget": {"element": "w1"}, "AXPair": {"elements": ["w1", "field"]},
           "AXMixed": {"list": ["text", {"element": "field"}, {"other": "AXPoint"}, 2]},
           "AXBroken": {"error": -25204}, "AXEmpty": {"noValue": true}, "AXOdd": {"other": "AXRange"}
         }}
      ]
    },
    "tokens": {"5": {"ref": "w1"}, "7": {"id": "hidden", "role": "AXWindow", "windowNumber": 99}}
  }]
})";

std::string stringOf(const AttributeRead& read) {
    return std::get<std::string>(read.value->value);
}

TEST(Reads, KeepTheKindOfEveryValue) {
    auto platform = platformFor(tree);
    Element app = platform->createApplicationElement(501);
    auto children = std::get<AttributeList>(platform->copyAttributeValue(app, "AXChildren").value->value);
    ASSERT_EQ(children.size(), 2u);
    const Element kinds = std::get<Element>(children[1].value);
    EXPECT_EQ(platform->elementName(kinds), "kinds");

    EXPECT_EQ(std::get<double>(platform->copyAttributeValue(kinds, "AXValue").value->value), 7.0);
    EXPECT_EQ(std::get<bool>(platform->copyAttributeValue(kinds, "AXFlag").value->value), false);
    EXPECT_EQ(std::get<double>(platform->copyAttributeValue(kinds, "AXCount").value->value), 3.5);
    EXPECT_EQ(std::get<UrlValue>(platform->copyAttributeValue(kinds, "AXLink").value->value).absoluteString,
              "https://a.example/");
    EXPECT_EQ(platform->elementName(
                  std::get<Element>(platform->copyAttributeValue(kinds, "AXTarget").value->value)),
              "w1");
    EXPECT_TRUE(
        std::holds_alternative<OtherValue>(platform->copyAttributeValue(kinds, "AXOdd").value->value));

    const auto mixed = std::get<AttributeList>(platform->copyAttributeValue(kinds, "AXMixed").value->value);
    ASSERT_EQ(mixed.size(), 4u);
    EXPECT_EQ(std::get<std::string>(mixed[0].value), "text");
    EXPECT_EQ(platform->elementName(std::get<Element>(mixed[1].value)), "field");
    EXPECT_TRUE(std::holds_alternative<OtherValue>(mixed[2].value));
    EXPECT_EQ(std::get<double>(mixed[3].value), 2.0);
}

TEST(Reads, TellFailureNoValueAndValueApart) {
    auto platform = platformFor(tree);
    Element app = platform->createApplicationElement(501);
    const Element kinds = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(app, "AXChildren").value->value)[1].value);

    const AttributeRead broken = platform->copyAttributeValue(kinds, "AXBroken");
    EXPECT_EQ(broken.error, axErrorCannotComplete);
    EXPECT_FALSE(broken.value);
    const AttributeRead empty = platform->copyAttributeValue(kinds, "AXEmpty");
    EXPECT_EQ(empty.error, axErrorSuccess);
    EXPECT_FALSE(empty.value);
    const AttributeRead missing = platform->copyAttributeValue(kinds, "AXTitle");
    EXPECT_EQ(missing.error, axErrorNoValue);
    EXPECT_FALSE(missing.value);
}

TEST(Reads, ShorthandKeysAnswerTheirAttributes) {
    auto platform = platformFor(tree);
    Element app = platform->createApplicationElement(501);
    const Element window =
        std::get<Element>(platform->copyAttributeValue(app, "AXFocusedWindow").value->value);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(window, "AXRole")), "AXWindow");
    EXPECT_EQ(stringOf(platform->copyAttributeValue(window, "AXTitle")), "Work");
    EXPECT_EQ(platform->windowNumber(window), 41u);
    EXPECT_EQ(platform->windowNumber(app), std::nullopt);

    const auto windows = std::get<AttributeList>(platform->copyAttributeValue(app, "AXWindows").value->value);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_TRUE(platform->elementsEqual(std::get<Element>(windows[0].value), window));

    const auto children =
        std::get<AttributeList>(platform->copyAttributeValue(window, "AXChildren").value->value);
    ASSERT_EQ(children.size(), 3u);
    const Element toolbar = std::get<Element>(children[0].value);
    EXPECT_EQ(platform->elementName(toolbar), "w1/children/0");
    EXPECT_EQ(stringOf(platform->copyAttributeValue(toolbar, "AXDescription")), "Main toolbar");
    const Element field = std::get<Element>(children[1].value);
    EXPECT_EQ(std::get<bool>(platform->copyAttributeValue(field, "AXFocused").value->value), true);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(field, "AXValue")), "old");
    const Element page = std::get<Element>(children[2].value);
    EXPECT_EQ(std::get<UrlValue>(platform->copyAttributeValue(page, "AXURL").value->value).absoluteString,
              "https://example.com/login");

    bool settable = false;
    EXPECT_EQ(platform->isAttributeSettable(field, "AXValue", settable), axErrorSuccess);
    EXPECT_TRUE(settable);
    EXPECT_EQ(platform->isAttributeSettable(page, "AXValue", settable), axErrorSuccess);
    EXPECT_FALSE(settable);
}

TEST(Reads, MultipleReadIsOneRoundTripWithTheAnswersOfSingleReads) {
    auto platform = platformFor(tree);
    Element app = platform->createApplicationElement(501);
    const Element kinds = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(app, "AXChildren").value->value)[1].value);
    const std::string_view names[] = {"AXValue", "AXBroken", "AXEmpty", "AXTitle", "AXTarget"};
    const std::int64_t before = platform->roundTrips();
    const std::vector<AttributeRead> reads = platform->copyAttributeValues(kinds, names);
    EXPECT_EQ(platform->roundTrips(), before + 1);
    EXPECT_EQ(platform->callCount("AXUIElementCopyMultipleAttributeValues"), 1);
    ASSERT_EQ(reads.size(), 5u);
    for (std::size_t index = 0; index < reads.size(); ++index) {
        const AttributeRead single = platform->copyAttributeValue(kinds, names[index]);
        EXPECT_EQ(reads[index].error, single.error) << names[index];
        EXPECT_EQ(reads[index].value.has_value(), single.value.has_value()) << names[index];
    }
    EXPECT_EQ(std::get<double>(reads[0].value->value), 7.0);
    EXPECT_EQ(platform->elementName(std::get<Element>(reads[4].value->value)), "w1");
}

TEST(Elements, EveryReadIsANewHandleEqualOnlyToTheSameElement) {
    auto platform = platformFor(tree);
    const Element first = platform->createApplicationElement(501);
    const Element second = platform->createApplicationElement(501);
    EXPECT_NE(first.object(), second.object());
    EXPECT_TRUE(platform->elementsEqual(first, second));

    const Element focused =
        std::get<Element>(platform->copyAttributeValue(first, "AXFocusedWindow").value->value);
    const Element again =
        std::get<Element>(platform->copyAttributeValue(first, "AXFocusedWindow").value->value);
    EXPECT_NE(focused.object(), again.object());
    EXPECT_TRUE(platform->elementsEqual(focused, again));
    EXPECT_FALSE(platform->elementsEqual(focused, first));
    EXPECT_FALSE(platform->elementsEqual(focused, Element{}));
    EXPECT_EQ(platform->callCount("CFEqual"), 4);
}

TEST(Elements, ApplicationElementOfAPidWithoutApplicationFailsEveryRead) {
    auto platform = platformFor(tree);
    const Element nobody = platform->createApplicationElement(999);
    ASSERT_TRUE(nobody);
    EXPECT_NE(platform->copyAttributeValue(nobody, "AXRole").error, axErrorSuccess);
    EXPECT_NE(platform->copyAttributeValue(nobody, "AXWindows").error, axErrorSuccess);
    EXPECT_EQ(platform->windowNumber(nobody), std::nullopt);
    bool settable = true;
    EXPECT_NE(platform->isAttributeSettable(nobody, "AXValue", settable), axErrorSuccess);
    EXPECT_FALSE(settable);
    EXPECT_TRUE(platform->elementsEqual(nobody, platform->createApplicationElement(999)));
    EXPECT_FALSE(platform->elementsEqual(nobody, platform->createApplicationElement(998)));
}

TEST(Elements, RepeatMakesNumberedCopiesWithTheirOwnSubtrees) {
    auto platform = platformFor(tree);
    const Element page = platform->createElementWithRemoteToken(remoteToken(501, 5));
    const auto windowChildren =
        std::get<AttributeList>(platform->copyAttributeValue(page, "AXChildren").value->value);
    const Element area = std::get<Element>(windowChildren[2].value);
    const auto copies =
        std::get<AttributeList>(platform->copyAttributeValue(area, "AXChildren").value->value);
    ASSERT_EQ(copies.size(), 3u);
    for (std::size_t index = 0; index < copies.size(); ++index) {
        const Element copy = std::get<Element>(copies[index].value);
        EXPECT_EQ(platform->elementName(copy), "text#" + std::to_string(index + 1));
        const auto inner =
            std::get<AttributeList>(platform->copyAttributeValue(copy, "AXChildren").value->value);
        EXPECT_EQ(platform->elementName(std::get<Element>(inner[0].value)),
                  "inner#" + std::to_string(index + 1));
    }
    EXPECT_FALSE(
        platform->elementsEqual(std::get<Element>(copies[0].value), std::get<Element>(copies[1].value)));
}

TEST(Elements, RemoteTokensYieldTheScenariosElementsAndNothingElse) {
    auto platform = platformFor(tree);
    const Element byToken = platform->createElementWithRemoteToken(remoteToken(501, 5));
    ASSERT_TRUE(byToken);
    EXPECT_EQ(platform->elementName(byToken), "w1");
    const Element hidden = platform->createElementWithRemoteToken(remoteToken(501, 7));
    EXPECT_EQ(platform->elementName(hidden), "hidden");
    EXPECT_EQ(platform->windowNumber(hidden), 99u);

    EXPECT_FALSE(platform->createElementWithRemoteToken(remoteToken(501, 6)));
    EXPECT_FALSE(platform->createElementWithRemoteToken(remoteToken(502, 5)));
    EXPECT_FALSE(platform->createElementWithRemoteToken(remoteToken(501, 5 + (std::uint64_t{1} << 32))));
    auto token = remoteToken(501, 5);
    token[5] = 1;
    EXPECT_FALSE(platform->createElementWithRemoteToken(token));
    token = remoteToken(501, 5);
    token[9] = 0x64;
    EXPECT_FALSE(platform->createElementWithRemoteToken(token));
    token = remoteToken(501, 5);
    EXPECT_FALSE(platform->createElementWithRemoteToken(std::span<const std::uint8_t>(token).first(19)));
    EXPECT_EQ(platform->callCount("_AXUIElementCreateWithRemoteToken"), 8);
}

TEST(Elements, TokenBytesAreLittleEndian) {
    // pid 1234, element 5: D2 04 00 00 | 00 00 00 00 | 6F 63 6F 63 | 05 00 ...
    auto platform = platformFor(R"({"applications": [{"pid": 1234, "tokens": {"5": {"id": "w"}}}]})");
    const std::uint8_t token[20] = {0xD2, 0x04, 0, 0, 0, 0, 0, 0, 0x6F, 0x63, 0x6F, 0x63, 0x05};
    EXPECT_EQ(platform->elementName(platform->createElementWithRemoteToken(token)), "w");
}

TEST(Sets, StoreTheValueOrReturnTheScenariosCodeAndAreJournalled) {
    const std::string journal = journalPath();
    auto platform = platformFor(tree, journal);
    const Element field = platform->createElementWithRemoteToken(remoteToken(501, 5));
    const Element input = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(field, "AXChildren").value->value)[1].value);
    const char secret[] = {'s', '3', 'c'};
    const auto text = platform->createSecretText(secret);

    EXPECT_EQ(platform->setAttributeValue(input, "AXValue", *text), axErrorSuccess);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(input, "AXValue")), "s3c");
    EXPECT_EQ(platform->setAttributeValue(input, "AXSelectedText", *text), axErrorAttributeUnsupported);
    EXPECT_EQ(platform->copyAttributeValue(input, "AXSelectedText").error, axErrorNoValue);
    const Element app = platform->createApplicationElement(501);
    EXPECT_EQ(platform->setAttributeValue(app, "AXManualAccessibility", true), axErrorSuccess);
    EXPECT_EQ(std::get<bool>(platform->copyAttributeValue(app, "AXManualAccessibility").value->value), true);
    EXPECT_NE(
        platform->setAttributeValue(platform->createApplicationElement(4), "AXEnhancedUserInterface", false),
        axErrorSuccess);

    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(
        lines[0],
        json::parse(R"({"op":"set","element":"field","attribute":"AXValue","value":"s3c","result":0})"));
    EXPECT_EQ(lines[1]["result"], -25205);
    EXPECT_EQ(
        lines[2],
        json::parse(
            R"({"op":"set","element":"app","attribute":"AXManualAccessibility","value":true,"result":0})"));
    EXPECT_EQ(lines[3]["element"], "4 (no application)");
    EXPECT_NE(lines[3]["result"], 0);
}

TEST(Sets, TheSecretsValueIsVerifiedOnTheClock) {
    const std::string journal = journalPath();
    auto platform = platformFor(R"({"applications": [{"pid": 501, "root": {
        "id": "field", "value": "previous", "valueArrives": false,
        "children": [{"id": "silent", "value": "previous", "setResults": {"AXValue": 0}}]}}]})",
                                journal);
    const Element field = platform->createApplicationElement(501);
    const char secret[] = {'s', '3', 'c'};
    const auto text = platform->createSecretText(secret);

    // Accepted but never arriving: a second of polling on the clock, then a failure.
    EXPECT_EQ(platform->setAttributeValue(field, "AXValue", *text), axErrorFailure);
    EXPECT_DOUBLE_EQ(platform->clockSeconds(), 1.0);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(field, "AXValue")), "previous");
    EXPECT_EQ(platform->callCount("AXUIElementCopyAttributeValue"), 1); // the polls are not calls
    // Only "AXValue" waits for its value; other sets store as they always did.
    EXPECT_EQ(platform->setAttributeValue(field, "AXSelectedText", *text), axErrorSuccess);
    EXPECT_EQ(platform->setAttributeValue(field, "AXFocused", true), axErrorSuccess);
    // A scenario's own answer of success is not checked: it stands, and the clock does not move.
    const Element silent = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(field, "AXChildren").value->value)[0].value);
    EXPECT_EQ(platform->setAttributeValue(silent, "AXValue", *text), axErrorSuccess);
    EXPECT_DOUBLE_EQ(platform->clockSeconds(), 1.0);

    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["result"], axErrorFailure);
    EXPECT_EQ(lines[1]["result"], 0);
}

TEST(Stop, PreparingForAStopIsRecorded) {
    auto platform = platformFor(tree, std::nullopt);
    EXPECT_FALSE(platform->preparedForStop());
    platform->prepareForStop();
    EXPECT_TRUE(platform->preparedForStop());
    EXPECT_EQ(platform->callCount("prepareForStop"), 0);
}

TEST(Events, CallTriggerFiresJustBeforeTheNthCallIsAnswered) {
    auto platform = platformFor(R"({
      "applications": [{"pid": 1, "root": {"id": "app", "title": "before"}}],
      "events": [{"when": {"call": "AXUIElementCopyAttributeValue", "count": 2},
                  "do": [{"setAttribute": {"element": "app", "attribute": "AXTitle", "value": "after"}}]}]})");
    const Element app = platform->createApplicationElement(1);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "before");
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "after");
}

TEST(Events, SetTriggerFiresAfterASuccessfulSetOfThatValueOnly) {
    auto platform = platformFor(R"({
      "applications": [{"pid": 1, "root": {"id": "app", "setResults": {"AXEnhancedUserInterface": -25200}}}],
      "events": [
        {"when": {"set": {"element": "app", "attribute": "AXManualAccessibility", "value": true}},
         "do": [{"setAttribute": {"element": "app", "attribute": "AXTitle", "value": "on"}}]},
        {"when": {"set": {"element": "app", "attribute": "AXEnhancedUserInterface"}},
         "do": [{"setAttribute": {"element": "app", "attribute": "AXDescription", "value": "never"}}]}]})");
    const Element app = platform->createApplicationElement(1);
    platform->setAttributeValue(app, "AXManualAccessibility", false);
    EXPECT_EQ(platform->copyAttributeValue(app, "AXTitle").error, axErrorNoValue);
    platform->setAttributeValue(app, "AXManualAccessibility", true);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "on");
    EXPECT_EQ(platform->setAttributeValue(app, "AXEnhancedUserInterface", true), axErrorFailure);
    EXPECT_EQ(platform->copyAttributeValue(app, "AXDescription").error, axErrorNoValue);
}

TEST(Events, TimedEventsFireAtTheirTimeInsideAVirtualSleep) {
    const std::string journal = journalPath();
    auto platform = platformFor(R"({
      "now": 1000000,
      "applications": [{"pid": 1, "root": {"id": "app"}}],
      "events": [
        {"when": {"time": 7}, "do": [{"setAttribute": {"element": "app", "attribute": "AXTitle", "value": "seven"}}]},
        {"when": {"time": 3}, "do": [{"setAttribute": {"element": "app", "attribute": "AXTitle", "value": "three"}},
                                     {"pasteboardCopy": "other"}]},
        {"when": {"call": "sleep", "count": 2}, "delay": 1.5,
         "do": [{"setAttribute": {"element": "app", "attribute": "AXDescription", "value": "late"}}]}]})",
                                journal);
    const Element app = platform->createApplicationElement(1);
    platform->sleep(5);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "three");
    EXPECT_EQ(platform->pasteboardChangeCount(), 1);
    EXPECT_EQ(platform->pasteboardContents(),
              nlohmann::ordered_json::parse(R"([{"public.utf8-plain-text":"other"}])"));
    platform->sleep(20);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "seven");
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXDescription")), "late");
    EXPECT_DOUBLE_EQ(platform->clockSeconds(), 25.0);
    EXPECT_DOUBLE_EQ(platform->currentTime(), 1025.0);
    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], json::parse(R"({"op":"sleep","seconds":5})"));
}

TEST(Events, DelayedEventWaitsForTheClock) {
    auto platform = platformFor(R"({
      "roundTripMicros": 250000,
      "applications": [{"pid": 1, "root": {"id": "app", "title": "a"}}],
      "events": [{"when": {"call": "AXUIElementCopyAttributeValue", "count": 1}, "delay": 1,
                  "do": [{"setAttribute": {"element": "app", "attribute": "AXTitle", "value": "b"}}]}]})");
    const Element app = platform->createApplicationElement(1);
    for (int read = 1; read <= 3; ++read) {
        EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "a") << "read " << read;
    }
    EXPECT_EQ(stringOf(platform->copyAttributeValue(app, "AXTitle")), "b");
}

TEST(Events, RemoveTakesTheElementAndItsSubtreeOutOfTheTree) {
    auto platform = platformFor(
        std::string(tree).insert(std::string(tree).rfind('}'),
                                 R"(, "events": [{"when": {"call": "sleep"}, "do": [{"remove": "page"}]}])"));
    const Element window = platform->createElementWithRemoteToken(remoteToken(501, 5));
    const auto before =
        std::get<AttributeList>(platform->copyAttributeValue(window, "AXChildren").value->value);
    const Element page = std::get<Element>(before[2].value);
    const Element text = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(page, "AXChildren").value->value)[0].value);
    platform->sleep(0);
    const auto after =
        std::get<AttributeList>(platform->copyAttributeValue(window, "AXChildren").value->value);
    EXPECT_EQ(after.size(), 2u);
    EXPECT_EQ(platform->copyAttributeValue(page, "AXRole").error, axErrorInvalidUIElement);
    EXPECT_EQ(platform->copyAttributeValue(text, "AXRole").error, axErrorInvalidUIElement);
}

TEST(Events, AddChildInsertsAtTheIndexOrAtTheEnd) {
    auto platform = platformFor(R"({
      "applications": [{"pid": 1, "root": {"id": "app", "children": [{"id": "a"}, {"id": "b"}]}}],
      "events": [{"when": {"call": "sleep"}, "do": [
        {"addChild": {"parent": "app", "element": {"id": "first"}, "index": 0}},
        {"addChild": {"parent": "app", "element": {"role": "AXGroup"}}}]}]})");
    platform->sleep(0);
    const auto children = std::get<AttributeList>(
        platform->copyAttributeValue(platform->createApplicationElement(1), "AXChildren").value->value);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(platform->elementName(std::get<Element>(children[0].value)), "first");
    EXPECT_EQ(platform->elementName(std::get<Element>(children[3].value)), "app/children/last");
    EXPECT_EQ(stringOf(platform->copyAttributeValue(std::get<Element>(children[3].value), "AXRole")),
              "AXGroup");
}

TEST(Events, ApplicationsTerminateQuitAndLaunchLive) {
    auto platform = platformFor(R"({
      "applications": [{"pid": 10, "bundleIdentifier": "com.google.Chrome", "root": {"role": "AXApplication"}},
                       {"pid": 11, "bundleIdentifier": null, "activationPolicy": 2}],
      "events": [
        {"when": {"call": "sleep", "count": 1}, "do": [{"terminate": 10}]},
        {"when": {"call": "sleep", "count": 2}, "do": [{"quit": 10}]},
        {"when": {"call": "sleep", "count": 3},
         "do": [{"launch": {"pid": 12, "bundleIdentifier": "com.google.Chrome", "root": {"role": "AXApplication"}}}]}]})");
    const auto chromes = platform->runningApplicationsWithBundleIdentifier("com.google.Chrome");
    ASSERT_EQ(chromes.size(), 1u);
    const RunningApplicationRef chrome = chromes[0];
    EXPECT_EQ(chrome->processIdentifier(), 10);
    EXPECT_FALSE(chrome->isTerminated());
    const Element root = platform->createApplicationElement(10);
    const auto other = platform->runningApplicationWithProcessIdentifier(11);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->bundleIdentifier(), std::nullopt);
    EXPECT_EQ(other->activationPolicy(), 2);

    platform->sleep(1);
    EXPECT_TRUE(chrome->isTerminated());
    EXPECT_EQ(platform->runningApplicationsWithBundleIdentifier("com.google.Chrome").size(), 1u);
    EXPECT_EQ(platform->copyAttributeValue(root, "AXRole").error, axErrorSuccess);

    platform->sleep(1);
    EXPECT_TRUE(platform->runningApplicationsWithBundleIdentifier("com.google.Chrome").empty());
    EXPECT_EQ(platform->runningApplicationWithProcessIdentifier(10), nullptr);
    EXPECT_NE(platform->copyAttributeValue(root, "AXRole").error, axErrorSuccess);

    platform->sleep(1);
    const auto launched = platform->runningApplicationsWithBundleIdentifier("com.google.Chrome");
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0]->processIdentifier(), 12);
    EXPECT_EQ(stringOf(platform->copyAttributeValue(platform->createApplicationElement(12), "AXRole")),
              "AXApplication");
}

TEST(Counters, RoundTripsAreAccessibilityCallsThatCrossToTheApplication) {
    auto platform = platformFor(std::string(R"({"roundTripMicros": 1500,)") + (tree + 1));
    const Element app = platform->createApplicationElement(501);
    platform->isProcessTrusted();
    platform->elementsEqual(app, app);
    EXPECT_EQ(platform->roundTrips(), 0);
    platform->copyAttributeValue(app, "AXRole");
    const std::string_view names[] = {"AXRole", "AXChildren"};
    platform->copyAttributeValues(app, names);
    platform->setAttributeValue(app, "AXManualAccessibility", true);
    bool settable = false;
    platform->isAttributeSettable(app, "AXValue", settable);
    platform->windowNumber(app);
    platform->createElementWithRemoteToken(remoteToken(501, 5));
    EXPECT_EQ(platform->roundTrips(), 6);
    EXPECT_DOUBLE_EQ(platform->clockSeconds(), 0.009);
    EXPECT_EQ(platform->callCount("AXIsProcessTrusted"), 1);
    EXPECT_EQ(platform->callCount("AXUIElementCreateApplication"), 1);
}

TEST(WindowServer, SnapshotsByOptionAndRectanglesAsTheirDictionaryReadsThem) {
    auto platform = platformFor(R"({
      "windowServer": {
        "all": [
          {"kCGWindowOwnerPID": 7, "kCGWindowBounds": {"X": 0, "Y": 617, "Width": 500, "Height": 500.5}},
          {"kCGWindowBounds": {"X": 0, "Y": 0, "Width": 500}},
          {"kCGWindowBounds": {"X": "0", "Y": 0, "Width": 500, "Height": 500}},
          {"kCGWindowBounds": [0, 0, 500, 500]},
          {"kCGWindowLayer": "zero"}],
        "onScreen": null},
      "events": [{"when": {"call": "CGWindowListCopyWindowInfo", "count": 3},
                  "do": [{"windowServer": {"onScreen": [{"kCGWindowNumber": 3}, 5]}}]}]})");
    const auto all = platform->copyWindowInfo(windowListExcludeDesktopElements);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 5u);
    EXPECT_EQ((*all)[0].bounds, (Rect{0, 617, 500, 500.5}));
    EXPECT_EQ((*all)[0].ownerPid, WindowServerNumber(std::uint64_t{7}));
    EXPECT_EQ((*all)[0].width, WindowServerNumber(std::uint64_t{500}));
    EXPECT_EQ((*all)[0].height, WindowServerNumber(500.5));
    for (std::size_t index = 1; index < 5; ++index) {
        EXPECT_EQ((*all)[index].bounds, std::nullopt) << index;
    }
    EXPECT_EQ((*all)[4].layer, std::nullopt);
    EXPECT_EQ(platform->copyWindowInfo(windowListExcludeDesktopElements | windowListOptionOnScreenOnly),
              std::nullopt);
    EXPECT_EQ(platform->copyWindowInfo(17), std::nullopt); // a list with an item that is no record
}

// Each entry the tool reads comes out as the number it was written as, and absent when it is
// missing or of any other kind.
TEST(WindowServer, RecordEntriesAreNumbersOfTheirOwnKindOrAbsent) {
    auto platform = platformFor(R"({"windowServer": {"all": [
          {"kCGWindowOwnerPID": -3, "kCGWindowLayer": 2.5, "kCGWindowNumber": 18446744073709551615,
           "kCGWindowBounds": {"Width": -1.0, "Height": 0}},
          {"kCGWindowOwnerPID": true, "kCGWindowLayer": "0", "kCGWindowNumber": {"n": 1},
           "kCGWindowBounds": {"Width": false, "Height": [100]}},
          {"kCGWindowOwnerPID": null, "kCGWindowLayer": [0], "kCGWindowBounds": 500},
          {"kCGWindowWidth": 500, "Width": 500, "Height": 500}]}})");
    const auto all = platform->copyWindowInfo(windowListExcludeDesktopElements);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 4u);
    const WindowRecord& typed = (*all)[0];
    EXPECT_EQ(typed.ownerPid, WindowServerNumber(std::int64_t{-3}));
    EXPECT_EQ(typed.layer, WindowServerNumber(2.5));
    EXPECT_EQ(typed.number, WindowServerNumber(std::uint64_t{18446744073709551615ULL}));
    EXPECT_EQ(typed.width, WindowServerNumber(-1.0));
    EXPECT_EQ(typed.height, WindowServerNumber(std::uint64_t{0}));
    for (std::size_t index = 1; index < all->size(); ++index) {
        const WindowRecord& record = (*all)[index];
        EXPECT_FALSE(record.ownerPid || record.layer || record.number || record.width || record.height ||
                     record.bounds)
            << index;
    }
}

TEST(Pasteboard, ClearWriteAndChangeCountAreJournalled) {
    const std::string journal = journalPath();
    auto platform = platformFor(R"({"pasteboard": {"changeCount": 40}})", journal);
    const char secret[] = {'p', 'w'};
    const auto text = platform->createSecretText(secret);
    auto item = platform->createPasteboardItem();
    EXPECT_TRUE(item->setString(*text, platform->plainTextPasteboardType()));
    EXPECT_TRUE(item->setData({}, "org.nspasteboard.ConcealedType"));
    const std::uint8_t bytes[] = {0x00, 0xAB, 0x7f};
    EXPECT_TRUE(item->setData(bytes, "com.example.bytes"));
    EXPECT_EQ(platform->clearPasteboard(), 41);
    PasteboardItem* items[] = {item.get()};
    EXPECT_TRUE(platform->writePasteboardItems(items));
    EXPECT_EQ(platform->pasteboardChangeCount(), 42);
    EXPECT_EQ(platform->clearPasteboard(), 43);
    EXPECT_EQ(platform->pasteboardContents(), nlohmann::ordered_json::array());

    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], json::parse(R"({"op":"pasteboardClear"})"));
    EXPECT_EQ(lines[1], json::parse(R"({"op":"pasteboardWrite","items":[{"public.utf8-plain-text":"pw",
        "org.nspasteboard.ConcealedType":"","com.example.bytes":"00ab7f"}],"result":true})"));
    EXPECT_EQ(platform->plainTextPasteboardType(), "public.utf8-plain-text");
}

TEST(Pasteboard, FailuresChangeNothing) {
    const std::string journal = journalPath();
    auto platform = platformFor(
        R"({"pasteboard": {"failSetString": true, "failSetData": true, "failWrite": true}})", journal);
    const char secret[] = {'x'};
    const auto text = platform->createSecretText(secret);
    auto item = platform->createPasteboardItem();
    EXPECT_FALSE(item->setString(*text, "public.utf8-plain-text"));
    EXPECT_FALSE(item->setData({}, "org.nspasteboard.ConcealedType"));
    PasteboardItem* items[] = {item.get()};
    EXPECT_FALSE(platform->writePasteboardItems(items));
    EXPECT_EQ(platform->pasteboardChangeCount(), 0);
    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], json::parse(R"({"op":"pasteboardWrite","items":[{}],"result":false})"));
}

TEST(Time, RealTimeSleepsReallySleepAndFiresTimedEventsOnTheWay) {
    // The event is due well after the first short sleep, even on a slow machine.
    auto platform = platformFor(
        R"({"realTime": true, "events": [{"when": {"time": 0.5}, "do": [{"pasteboardCopy": "x"}]}]})");
    const auto start = std::chrono::steady_clock::now();
    platform->sleep(0.01);
    EXPECT_EQ(platform->pasteboardChangeCount(), 0);
    platform->sleep(0.6);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(610));
    EXPECT_EQ(platform->pasteboardChangeCount(), 1);
    EXPECT_GE(platform->clockSeconds(), 0.61);
}

TEST(Concurrency, CallsFromTwoThreadsAreSafe) {
    auto platform = platformFor(tree);
    const Element app = platform->createApplicationElement(501);
    std::thread other([&] {
        for (int round = 0; round < 2000; ++round) {
            platform->setAttributeValue(app, "AXManualAccessibility", round % 2 == 0);
        }
    });
    for (int round = 0; round < 2000; ++round) {
        const AttributeRead read = platform->copyAttributeValue(app, "AXManualAccessibility");
        if (read.error == axErrorSuccess) {
            EXPECT_TRUE(std::holds_alternative<bool>(read.value->value));
        }
    }
    other.join();
    EXPECT_EQ(platform->callCount("AXUIElementSetAttributeValue"), 2000);
}

// -- the end of the process -------------------------------------------------------------------

using ExitDeathTest = ::testing::Test;

// Like the harness, the process keeps its platform to the very end: nothing is destroyed at exit
// while another thread may still be inside a platform call.
SimulatedPlatform* exitingPlatform = nullptr;
Element* exitingApp = nullptr;

TEST(ExitDeathTest, ExitLineFollowsTheToolsOwnExitHandlers) {
    const std::string journal = journalPath();
    EXPECT_EXIT(
        {
            exitingPlatform =
                platformFor(R"({"roundTripMicros": 500000, "applications": [{"pid": 1}]})", journal)
                    .release();
            exitingApp = new Element(exitingPlatform->createApplicationElement(1));
            // The tool registers its restore after the platform exists.
            std::atexit(
                [] { exitingPlatform->setAttributeValue(*exitingApp, "AXManualAccessibility", false); });
            exitingPlatform->sleep(2);
            exitingPlatform->exitProcess(3);
        },
        ::testing::ExitedWithCode(3), "");
    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["op"], "sleep");
    EXPECT_EQ(lines[1]["op"], "set");
    EXPECT_EQ(lines[2], json::parse(R"({"op":"exit","status":3,
        "calls":{"AXUIElementCreateApplication":1,"AXUIElementSetAttributeValue":1,"sleep":1},
        "roundTrips":1,"clock":2.5})"));
}

TEST(ExitDeathTest, SignalActionWithTheDefaultActionEndsTheProcessWithoutAnExitLine) {
    const std::string journal = journalPath();
    EXPECT_EXIT(
        {
            auto platform = platformFor(
                R"({"events": [{"when": {"call": "sleep"}, "do": [{"signal": "SIGHUP"}]}]})", journal);
            platform->sleep(1);
            platform->exitProcess(0);
        },
        ::testing::KilledBySignal(SIGHUP), "");
    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 1u); // the sleep line, written before the event fired: no exit line
    EXPECT_EQ(lines[0]["op"], "sleep");
}

TEST(Events, ChangeAWindowsNumberOrTakeItAway) {
    auto platform = platformFor(R"({
      "applications": [{"pid": 501, "root": {"id": "app", "windows": [{"id": "w", "windowNumber": 7}]}}],
      "events": [
        {"when": {"call": "sleep", "count": 1}, "do": [{"setWindowNumber": {"element": "w", "windowNumber": 4294967295}}]},
        {"when": {"call": "sleep", "count": 2}, "do": [{"setWindowNumber": {"element": "w", "windowNumber": null}}]}]})");
    const Element app = platform->createApplicationElement(501);
    const Element window = std::get<Element>(
        std::get<AttributeList>(platform->copyAttributeValue(app, "AXWindows").value->value)[0].value);
    EXPECT_EQ(platform->windowNumber(window), 7u);
    platform->sleep(0);
    EXPECT_EQ(platform->windowNumber(window), 4294967295u);
    platform->sleep(0);
    EXPECT_EQ(platform->windowNumber(window), std::nullopt);
}

TEST(Copies, StartWhereTheOriginalIsAndGoTheirOwnWay) {
    auto original = platformFor(R"({
      "applications": [{"pid": 501, "root": {"id": "app", "title": "old", "settable": ["AXTitle"],
                                            "children": [{"id": "gone"}]}}],
      "events": [{"when": {"call": "sleep", "count": 2}, "do": [{"quit": 501}]}]})");
    const Element app = original->createApplicationElement(501);
    original->sleep(2);
    auto copy = original->copy();
    const Element copyApp = copy->createApplicationElement(501);
    EXPECT_DOUBLE_EQ(copy->clockSeconds(), 2.0);
    EXPECT_EQ(copy->callCount("sleep"), 1);
    EXPECT_EQ(copy->elementName(copyApp), "app");
    EXPECT_EQ(copy->elementName(app), ""); // handles belong to the platform that gave them

    const char secret[] = {'n', 'e', 'w'};
    EXPECT_EQ(copy->setAttributeValue(copyApp, "AXTitle", *copy->createSecretText(secret)), axErrorSuccess);
    EXPECT_EQ(stringOf(copy->copyAttributeValue(copyApp, "AXTitle")), "new");
    EXPECT_EQ(stringOf(original->copyAttributeValue(app, "AXTitle")), "old");

    // Chrome quits in the copy only, and its running application says so in the copy only.
    const RunningApplicationRef copyChrome = copy->runningApplicationWithProcessIdentifier(501);
    const RunningApplicationRef chrome = original->runningApplicationWithProcessIdentifier(501);
    copy->sleep(1);
    EXPECT_TRUE(copyChrome->isTerminated());
    EXPECT_FALSE(chrome->isTerminated());
    EXPECT_EQ(copy->copyAttributeValue(copyApp, "AXTitle").error, axErrorCannotComplete);
    EXPECT_EQ(stringOf(original->copyAttributeValue(app, "AXTitle")), "old");
}

// Copies share the element tree until one of them changes it: every kind of change, made by events
// or by the tool, stays in the platform where it was made.
TEST(Copies, ChangesToTheTreeStayWhereTheyWereMade) {
    auto original = platformFor(R"({
      "applications": [{"pid": 501, "root": {"id": "app", "children": [
        {"id": "a", "title": "A", "windowNumber": 5}, {"id": "b", "title": "B", "windowNumber": 6}]}}],
      "events": [{"when": {"call": "sleep", "count": 1}, "do": [
        {"setAttribute": {"element": "b", "attribute": "AXRole", "value": "AXGroup"}},
        {"removeAttribute": {"element": "b", "attribute": "AXTitle"}},
        {"addChild": {"parent": "app", "element": {"id": "c", "title": "C"}}},
        {"remove": "a"},
        {"setWindowNumber": {"element": "b", "windowNumber": null}}]}]})");
    // The children's names, and per child its title, role and window number.
    const auto childFacts = [](SimulatedPlatform& platform) {
        std::vector<std::string> facts;
        const Element app = platform.createApplicationElement(501);
        const auto children = platform.copyAttributeValue(app, "AXChildren");
        for (const AttributeValue& child : std::get<AttributeList>(children.value->value)) {
            const Element& element = std::get<Element>(child.value);
            const auto title = platform.copyAttributeValue(element, "AXTitle");
            const auto role = platform.copyAttributeValue(element, "AXRole");
            const auto number = platform.windowNumber(element);
            facts.push_back(platform.elementName(element) + " " + (title.value ? stringOf(title) : "-") +
                            " " + (role.value ? stringOf(role) : "-") + " " +
                            (number ? std::to_string(*number) : "-"));
        }
        return facts;
    };
    const std::vector<std::string> before{"a A - 5", "b B - 6"};
    const std::vector<std::string> after{"b - AXGroup -", "c C - -"};
    auto copy = original->copy();
    auto untouched = original->copy();
    copy->sleep(0);
    EXPECT_EQ(childFacts(*copy), after);
    EXPECT_EQ(childFacts(*original), before);
    original->sleep(0);
    EXPECT_EQ(childFacts(*original), after);
    EXPECT_EQ(childFacts(*untouched), before);

    // A write by the tool, in a copy of a copy.
    auto second = untouched->copy();
    const Element app = second->createApplicationElement(501);
    const char secret[] = {'n', 'e', 'w'};
    EXPECT_EQ(second->setAttributeValue(app, "AXTitle", *second->createSecretText(secret)), axErrorSuccess);
    EXPECT_EQ(stringOf(second->copyAttributeValue(app, "AXTitle")), "new");
    EXPECT_EQ(untouched->copyAttributeValue(untouched->createApplicationElement(501), "AXTitle").error,
              axErrorNoValue);
    EXPECT_EQ(childFacts(*untouched), before);
}

TEST(ExitDeathTest, BlockedSignalIsHandledByTheStopSignalThreadWhileTheCallWaits) {
    const std::string journal = journalPath();
    EXPECT_EXIT(
        {
            exitingPlatform = platformFor(R"({"applications": [{"pid": 1}],
              "events": [{"when": {"call": "AXUIElementCopyAttributeValue"}, "do": [{"signal": "SIGTERM"}]}]})",
                                          journal)
                                  .release();
            exitingApp = new Element(exitingPlatform->createApplicationElement(1));
            process::handleStopSignals([](int) {
                // Needs the platform while the signalling call is still in progress.
                exitingPlatform->setAttributeValue(*exitingApp, "AXEnhancedUserInterface", false);
                exitingPlatform->exitProcess(1);
            });
            exitingPlatform->copyAttributeValue(*exitingApp, "AXRole");
            std::_Exit(9); // not reached: the stop-signal thread ends the process first
        },
        ::testing::ExitedWithCode(1), "");
    const auto lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["attribute"], "AXEnhancedUserInterface");
    EXPECT_EQ(lines[1]["op"], "exit");
    EXPECT_EQ(lines[1]["status"], 1);
}

} // namespace
} // namespace cpi
