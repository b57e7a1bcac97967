// The reason codes and check names as the result lines spell them, and the shape of a verdict.
#include "PolicyTestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

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

// The protocol's reason table lists exactly the codes of the reason table, in its order, and its
// sentence counts them: a new code is one row here and one row there.
TEST(Verdict, ReasonTableMatchesTheProtocolDocument) {
    std::ifstream file(CPI_SOURCE_DIR "/docs/protocol.md");
    ASSERT_TRUE(file) << "docs/protocol.md not found";
    std::stringstream text;
    text << file.rdbuf();
    const std::string document = text.str();
    const std::size_t section = document.find("\n## Reason codes\n");
    ASSERT_NE(section, std::string::npos);
    const std::size_t sectionEnd = document.find("\n## ", section + 1);
    const std::string body = document.substr(section, sectionEnd - section);

    std::vector<std::string> documented;
    const std::regex row(R"row(\n\| "([a-z_]+)" \|)row");
    for (auto match = std::sregex_iterator(body.begin(), body.end(), row); match != std::sregex_iterator();
         ++match) {
        documented.push_back((*match)[1]);
    }
    std::vector<std::string> tabled;
    for (const ReasonCodeRow& entry : reasonCodes) {
        tabled.emplace_back(entry.wire);
    }
    EXPECT_EQ(documented, tabled);

    const std::vector<std::string_view> numbers{"ten",      "eleven",  "twelve", "thirteen",
                                                "fourteen", "fifteen", "sixteen"};
    ASSERT_GE(reasonCodes.size(), 10u);
    ASSERT_LT(reasonCodes.size() - 10, numbers.size());
    const std::string sentence =
        "Every \"reason\" is one of these " + std::string(numbers[reasonCodes.size() - 10]) + ";";
    EXPECT_NE(body.find(sentence), std::string::npos) << sentence;
}

// A new code is one row: the table built from the rows and one more has the new enumerator at its
// end, indexing its own row, with every earlier code where it was.
#define CPI_REASON_CODES_AND_ONE_MORE(row) CPI_REASON_CODES(row) row(newCode, "new_code")
#define CPI_TEST_ENUMERATOR(code, wire) code,
enum class ExtendedCode { CPI_REASON_CODES_AND_ONE_MORE(CPI_TEST_ENUMERATOR) };
#define CPI_TEST_ROW(code, wire) std::pair{ExtendedCode::code, std::string_view(wire)},
constexpr std::array extendedCodes{CPI_REASON_CODES_AND_ONE_MORE(CPI_TEST_ROW)};

TEST(Verdict, ANewReasonCodeIsOneRow) {
    ASSERT_EQ(extendedCodes.size(), reasonCodes.size() + 1);
    for (std::size_t i = 0; i < reasonCodes.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(extendedCodes[i].first), i);
        EXPECT_EQ(extendedCodes[i].second, reasonCodes[i].wire);
    }
    EXPECT_EQ(static_cast<std::size_t>(ExtendedCode::newCode), reasonCodes.size());
    EXPECT_EQ(extendedCodes.back().second, "new_code");
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
