// Page readiness, the page switch, the focused field and the write verdict.
#include "PolicyTestSupport.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

using P = ChromePrivateInputPolicy;
using Text = std::optional<std::string>;
constexpr std::nullopt_t none = std::nullopt;

TEST(PagePolicy, shouldWaitForPageAndTurnOnPageSwitch) {
    struct Row {
        std::string name;
        std::optional<ReasonCode> reason;
        std::optional<CheckMap> map;
        bool waits;
    };
    constexpr ReasonCode originNotAllowed = ReasonCode::originNotAllowed;
    const CheckMap noWebArea = checkMap({{"addressFound", 1}, {"webAreas", 0}, {"pageUrls", 0}});
    for (const Row& row : std::vector<Row>{
             {"no web area", originNotAllowed, noWebArea, true},
             {"one web area", originNotAllowed, checkMap({{"webAreas", 1}}), false},
             {"map without webAreas", originNotAllowed, checkMap({{"pageUrls", 0}}), false},
             {"empty map", originNotAllowed, CheckMap{}, false},
             {"no map", originNotAllowed, none, false},
             {"other reason", ReasonCode::focusedFieldNotSupported, noWebArea, false},
             {"no reason", none, noWebArea, false},
         }) {
        std::optional<Refusal> refusal;
        if (row.reason) {
            refusal = Refusal{*row.reason, std::nullopt};
            if (row.map) {
                refusal->check = NamedCheck{CheckName::originCheck, *row.map};
            }
        }
        const Refusal* given = refusal ? &*refusal : nullptr;
        EXPECT_EQ(P::shouldWaitForPage(given), row.waits) << row.name;
        EXPECT_EQ(P::shouldTurnOnPageSwitch(true, given, false), row.waits) << row.name;
        EXPECT_FALSE(P::shouldTurnOnPageSwitch(false, given, false)) << row.name;
        EXPECT_FALSE(P::shouldTurnOnPageSwitch(true, given, true)) << row.name;
    }
}

TEST(PagePolicy, pageSwitchAttributes) {
    ASSERT_EQ(P::pageSwitchAttributes.size(), 2u);
    EXPECT_EQ(P::pageSwitchAttributes[0].attribute, "AXManualAccessibility");
    EXPECT_EQ(P::pageSwitchAttributes[0].name, "manual");
    EXPECT_EQ(P::pageSwitchAttributes[1].attribute, "AXEnhancedUserInterface");
    EXPECT_EQ(P::pageSwitchAttributes[1].name, "enhanced");
}

TEST(PagePolicy, pageSwitchReport) {
    struct Row {
        std::string name;
        SwitchCodes set;
        std::optional<SwitchCodes> restore;
        CheckMap expected;
    };
    for (const Row& row : std::vector<Row>{
             {"set, not restored",
              {{"manual", 0}},
              none,
              checkMap({{"set", 1}, {"restored", 0}, {"manualSetError", 0}})},
             {"second attribute, both restored",
              {{"manual", -25205}, {"enhanced", 0}},
              SwitchCodes{{"manual", 0}, {"enhanced", 0}},
              checkMap({{"set", 1},
                        {"restored", 1},
                        {"manualSetError", -25205},
                        {"enhancedSetError", 0},
                        {"manualRestoreError", 0},
                        {"enhancedRestoreError", 0}})},
             {"nothing set, empty restore", {}, SwitchCodes{}, checkMap({{"set", 0}, {"restored", 1}})},
             {"nothing set, no restore", {}, none, checkMap({{"set", 0}, {"restored", 0}})},
             {"one failed restore",
              {{"enhanced", 0}},
              SwitchCodes{{"manual", 0}, {"enhanced", -25200}},
              checkMap({{"set", 1},
                        {"restored", 0},
                        {"enhancedSetError", 0},
                        {"manualRestoreError", 0},
                        {"enhancedRestoreError", -25200}})},
             {"every set failed",
              {{"manual", -25205}, {"enhanced", -25211}},
              none,
              checkMap(
                  {{"set", 0}, {"restored", 0}, {"manualSetError", -25205}, {"enhancedSetError", -25211}})},
             {"a repeated name keeps its place, the later code stays",
              {{"manual", -1}, {"enhanced", 0}, {"manual", 0}},
              none,
              checkMap({{"set", 1}, {"restored", 0}, {"manualSetError", 0}, {"enhancedSetError", 0}})},
         }) {
        EXPECT_EQ(P::pageSwitchReport(row.set, row.restore), row.expected) << row.name;
    }
}

TEST(PagePolicy, supportsFocusedField) {
    // Each row is judged twice: as any field may take the secret, and with "secureFieldOnly".
    struct Row {
        std::string role;
        Text subrole;
        bool expected;
        bool expectedSecureOnly;
    };
    for (const Row& row : std::vector<Row>{
             {"AXSecureTextField", none, true, true},
             {"AXTextField", "AXSecureTextField", true, true},
             {"AXTextField", "", true, false},
             {"AXTextField", none, true, false},
             {"AXTextField", "AXEmailField", true, false},
             {"AXTextField", "AXSearchField", false, false},
             {"AXTextField", "AXAddressField", false, false},
             {"AXSecureTextField", "AXSearchField", false, false},
             {"AXTextField", "AXSecureTextfield", true, false},
             {"AXTextArea", "AXSecureTextField", false, false},
             {"AXComboBox", "AXSecureTextField", false, false},
             {"AXTextArea", none, false, false},
             {"AXComboBox", none, false, false},
             {"AXStaticText", none, false, false},
             {"", none, false, false},
             {"", "AXSecureTextField", false, false},
             {"AXtextField", none, false, false},
             {"AXSecuretextField", none, false, false},
         }) {
        EXPECT_EQ(P::supportsFocusedField(row.role, row.subrole, false), row.expected)
            << row.role << " " << row.subrole.value_or("-");
        EXPECT_EQ(P::supportsFocusedField(row.role, row.subrole, true), row.expectedSecureOnly)
            << row.role << " " << row.subrole.value_or("-") << " (secure field only)";
    }
}

TEST(PagePolicy, writeOutcome) {
    EXPECT_EQ(wire(P::writeOutcome(false, true)), "input_unavailable");
    EXPECT_EQ(wire(P::writeOutcome(false, false)), "input_unavailable");
    EXPECT_EQ(wire(P::writeOutcome(true, false)), "focus_changed");
    EXPECT_EQ(wire(P::writeOutcome(true, true)), none);
}

} // namespace
} // namespace cpi
