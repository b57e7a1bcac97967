// The reason codes and check names as the result lines spell them, and the shape of a verdict.
#include "PolicyTestSupport.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

TEST(Verdict, EveryReasonCodeHasItsWireString) {
    const std::vector<std::pair<ReasonCode, std::string_view>> rows{
        {ReasonCode::accessibilityUnavailable, "accessibility_unavailable"},
        {ReasonCode::siteConfigurationInvalid, "site_configuration_invalid"},
        {ReasonCode::chromeWindowUnavailable, "chrome_window_unavailable"},
        {ReasonCode::chromeWindowNotOnCurrentSpace, "chrome_window_not_on_current_space"},
        {ReasonCode::selectedChromeProfileNotConfirmed, "selected_chrome_profile_not_confirmed"},
        {ReasonCode::originNotAllowed, "origin_not_allowed"},
        {ReasonCode::focusedFieldNotSupported, "focused_field_not_supported"},
        {ReasonCode::inputUnavailable, "input_unavailable"},
        {ReasonCode::focusChanged, "focus_changed"},
        {ReasonCode::pageTextUnavailable, "page_text_unavailable"},
        {ReasonCode::pageKeyNotFound, "page_key_not_found"},
        {ReasonCode::pageKeyAmbiguous, "page_key_ambiguous"},
    };
    for (const auto& [code, text] : rows) {
        EXPECT_EQ(wireName(code), text);
    }
    EXPECT_EQ(wireName(CheckName::windowCheck), "windowCheck");
    EXPECT_EQ(wireName(CheckName::originCheck), "originCheck");
    EXPECT_EQ(wireName(CheckName::keyCheck), "keyCheck");
}

TEST(Verdict, HoldsAValueOrARefusal) {
    const Verdict<int> accepted = 7;
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted.value(), 7);
    EXPECT_EQ(accepted.refusal(), nullptr);

    const Verdict<int> refused =
        Refusal{ReasonCode::originNotAllowed, NamedCheck{CheckName::originCheck, {}}};
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.refusal()->reason, ReasonCode::originNotAllowed);
    EXPECT_EQ(refused.refusal()->check->name, CheckName::originCheck);
}

} // namespace
} // namespace cpi
