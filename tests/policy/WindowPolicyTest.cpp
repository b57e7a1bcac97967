// Windows and profiles: one table per operation.
#include "PolicyTestSupport.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

using P = ChromePrivateInputPolicy;
using Text = std::optional<std::string>;
constexpr std::nullopt_t none = std::nullopt;

const std::string thumbsUpMedium = "\U0001F44D\U0001F3FD";               // skin-tone modifier
const std::string flagFrance = "\U0001F1EB\U0001F1F7";                   // regional indicator pair
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467"; // joined by ZWJ

TEST(WindowPolicy, shouldDescend) {
    struct Row {
        std::string role;
        bool prune;
        bool expected;
    };
    for (const Row& row : std::vector<Row>{
             {"AXWebArea", false, true},
             {"AXWebArea", true, false},
             {"", true, true},
             {"AXGroup", true, true},
             {"axwebarea", true, true},
         }) {
        EXPECT_EQ(P::shouldDescend(row.role, row.prune ? cpi::WebContent::prune : cpi::WebContent::enter),
                  row.expected)
            << row.role << " prune " << row.prune;
    }
}

TEST(WindowPolicy, isMainToolbar) {
    struct Row {
        std::vector<std::string> roles;
        bool expected;
    };
    for (const Row& row : std::vector<Row>{
             {{}, false},
             {{"AXButton", "AXGroup", "AXTextField", "AXPopUpButton"}, true},
             {{"AXSecureTextField"}, false},
             {{"AXComboBox", "axtextfield"}, false},
         }) {
        EXPECT_EQ(P::isMainToolbar(row.roles), row.expected) << ::testing::PrintToString(row.roles);
    }
}

TEST(WindowPolicy, avatarIndex) {
    struct Row {
        std::vector<std::string> roles;
        std::optional<std::size_t> expected;
    };
    for (const Row& row : std::vector<Row>{
             {{"AXButton", "AXButton", "AXPopUpButton"}, 1},
             {{"AXButton", "AXPopUpButton"}, 0},
             {{"AXPopUpButton", "AXButton"}, none},
             {{"AXButton"}, none},
             {{}, none},
             {{"AXGroup", "AXPopUpButton"}, none},
             {{"AXButton", "AXPopUpButton", "AXButton"}, none}, // only the last two count
         }) {
        EXPECT_EQ(P::avatarIndex(row.roles), row.expected) << ::testing::PrintToString(row.roles);
    }
}

TEST(WindowPolicy, windowKind) {
    struct Row {
        bool hasMainToolbar;
        Text subrole;
        std::string expected;
    };
    for (const Row& row : std::vector<Row>{
             {true, "AXDialog", "browser"},
             {true, none, "browser"},
             {false, "AXSystemDialog", "dialog"},
             {false, "AXDialog", "dialog"},
             {false, "AXStandardWindow", "other"},
             {false, none, "other"},
             {false, "", "other"},
         }) {
        EXPECT_EQ(P::windowKind(row.hasMainToolbar, row.subrole), row.expected) << row.subrole.value_or("-");
    }
}

TEST(WindowPolicy, toolbarLabel) {
    struct Row {
        std::string name;
        Text title;
        Text description;
        Text expected;
    };
    const std::string hundred = repeated("abcdefghij", 10);
    for (const Row& row : std::vector<Row>{
             {"blank title gives way", "  ", "Alice", "Alice"},
             {"title trimmed", " Bob\n", "Alice", "Bob"},
             {"cut to 80", hundred, none, hundred.substr(0, 80)},
             {"both absent", none, none, none},
             {"both blank", "\u00A0\u2028\u2029", " \t\r\n\u0085\v\f", none},
             {"description alone", none, "\u3000Alice\u2003", "Alice"},
             {"inner space kept", "Alice  Smith", none, "Alice  Smith"},
             {"format characters are not whitespace", "\u200BBob", none, "\u200BBob"},
             {"a space carrying a mark stays whole", " \u0301Bob", none, " \u0301Bob"},
             {"80 emoji with skin tone", repeated(thumbsUpMedium, 85), none, repeated(thumbsUpMedium, 80)},
             {"80 flags", repeated(flagFrance, 81), none, repeated(flagFrance, 80)},
             {"80 families", repeated(family, 90), none, repeated(family, 80)},
             {"80 decomposed letters", repeated("e\u0301", 100), none, repeated("e\u0301", 80)},
             {"malformed bytes become U+FFFD", "Bob\xff", none, "Bob\uFFFD"},
         }) {
        EXPECT_EQ(P::toolbarLabel(row.title, row.description), row.expected) << row.name;
    }
}

TEST(WindowPolicy, isProfileAvatarLabel) {
    struct Row {
        std::string name;
        std::string role;
        bool direct;
        Text title;
        Text description;
        std::string profileName;
        bool expected;
    };
    for (const Row& row : std::vector<Row>{
             {"description alone", "AXButton", true, none, "Work", "Work", true},
             {"not a direct child", "AXButton", false, none, "Work", "Work", false},
             {"pop-up button", "AXPopUpButton", true, "Work", none, "Work", false},
             {"no trimming", "AXButton", true, " Work", none, "Work", false},
             {"case-sensitive", "AXButton", true, "work", none, "Work", false},
             {"name and a space", "AXButton", true, "Work (Alice)", none, "Work", true},
             {"name and a word", "AXButton", true, "Work Profile", none, "Work", true},
             {"longer word", "AXButton", true, "Workshop", none, "Work", false},
             {"title misses, description hits", "AXButton", true, "Other", "Work", "Work", true},
             {"greeting", "AXButton", true, "Hi, Alice", none, "Alice (Work)", true},
             {"base name alone", "AXButton", true, "Alice", none, "Alice (Work)", false},
             {"full name and more", "AXButton", true, "Alice (Work) is signed in", none, "Alice (Work)",
              true},
             {"empty base: no greeting", "AXButton", true, "Hi, ", none, " (Work)", false},
             {"empty base: equality", "AXButton", true, " (Work)", none, " (Work)", true},
             {"empty profile name", "AXButton", true, "", "", "", false},
             {"greeting of the first ' ('", "AXButton", true, "Hi, A", none, "A (B) (C)", true},
             // Canonical equivalence: composed and decomposed forms are the same name.
             {"decomposed title", "AXButton", true, "Cafe\u0301", none, "Caf\u00E9", true},
             {"decomposed name", "AXButton", true, "Caf\u00E9 Team", none, "Cafe\u0301", true},
             {"decomposed greeting", "AXButton", true, "Hi, Jose\u0301", none, "Jos\u00E9 (Home)", true},
             {"letter with a mark is another letter", "AXButton", true, "Cafe\u0301 Team", none, "Cafe",
              false},
             {"prefix ends inside a character", "AXButton", true, "Work \u0301x", none, "Work", false},
             {"emoji name", "AXButton", true, thumbsUpMedium + " Team (2)", none, thumbsUpMedium + " Team",
              true},
             {"emoji without its modifier", "AXButton", true, thumbsUpMedium + " x", none, "\U0001F44D",
              false},
             {"' (' carrying a mark is no separator", "AXButton", true, "Hi, Al", none, "Al (\u0301W)",
              false},
             {"malformed name", "AXButton", true, "Work\xff", none, "Work\xff", false},
             {"malformed label", "AXButton", true, "Work \xff", none, "Work", false},
         }) {
        EXPECT_EQ(P::isProfileAvatarLabel(row.role, row.direct, row.title, row.description, row.profileName),
                  row.expected)
            << row.name;
    }
}

TEST(WindowPolicy, windowCount) {
    struct Row {
        std::optional<std::size_t> count;
        Text expected;
    };
    for (const Row& row : std::vector<Row>{
             {none, "chrome_window_unavailable"},
             {0, "chrome_window_not_on_current_space"},
             {1, none},
             {64, none},
             {65, "chrome_window_unavailable"},
         }) {
        const Verdict<std::size_t> verdict = P::windowCount(row.count);
        EXPECT_EQ(wire(verdict), row.expected) << row.count.value_or(999999);
        if (verdict) {
            EXPECT_EQ(verdict.value(), row.count);
        }
    }
}

TEST(WindowPolicy, uniqueMatchIndex) {
    struct Row {
        std::vector<bool> matches;
        std::optional<std::size_t> expected;
    };
    for (const Row& row : std::vector<Row>{
             {{false, true, false}, 1},
             {{true, true}, none},
             {{}, none},
             {{false, false}, none},
             {{true}, 0},
         }) {
        EXPECT_EQ(P::uniqueMatchIndex(row.matches), row.expected) << ::testing::PrintToString(row.matches);
    }
}

TEST(WindowPolicy, confirmedWindowIndex) {
    struct Row {
        std::vector<std::optional<std::uint32_t>> numbers;
        std::uint32_t confirmed;
        std::optional<std::size_t> expected;
    };
    for (const Row& row : std::vector<Row>{
             {{none, 7, 9}, 7, 1},
             {{7, 7}, 7, none},
             {{none}, 0, none},
             {{}, 7, none},
             {{1, 2, 3}, 4, none},
             {{4294967295u}, 4294967295u, 0},
         }) {
        EXPECT_EQ(P::confirmedWindowIndex(row.numbers, row.confirmed), row.expected) << row.confirmed;
    }
}

TEST(WindowPolicy, windowCheck) {
    EXPECT_EQ(P::profileNotConfirmed(4, 4, true, 1, 0, 100),
              (Refusal{ReasonCode::selectedChromeProfileNotConfirmed,
                       NamedCheck{CheckName::windowCheck, P::windowCheck(4, 4, true, 1, 0, 100)}}));
    EXPECT_EQ(P::windowCheck(120, 3, false, 0, 0, none), checkMap({{"windows", 99},
                                                                   {"numbersRead", 3},
                                                                   {"confirmedGiven", 0},
                                                                   {"numberMatches", 0},
                                                                   {"targetAvatar", 0},
                                                                   {"avatarWindows", 0},
                                                                   {"avatarRefused", 1}}));
    EXPECT_EQ(P::windowCheck(4, 4, true, 1, 0, 100), checkMap({{"windows", 4},
                                                               {"numbersRead", 4},
                                                               {"confirmedGiven", 1},
                                                               {"numberMatches", 1},
                                                               {"targetAvatar", 0},
                                                               {"avatarWindows", 99},
                                                               {"avatarRefused", 0}}));
}

TEST(WindowPolicy, requestBounds) {
    struct Row {
        std::string name;
        std::string profileName;
        bool expected;
    };
    for (const Row& row : std::vector<Row>{
             {"empty", "", false},
             {"one letter", "a", true},
             {"80 letters", std::string(80, 'a'), true},
             {"81 letters", std::string(81, 'a'), false},
             {"80 families", repeated(family, 80), true},
             {"81 flags", repeated(flagFrance, 81), false},
             {"80 letters with marks", repeated("e\u0301", 80), true},
             {"80 skin-toned emoji", repeated(thumbsUpMedium, 80), true},
             {"malformed", "Work\xc3", false},
         }) {
        EXPECT_EQ(P::isProfileNameUsable(row.profileName), row.expected) << row.name;
    }
    EXPECT_FALSE(P::isAllowedOriginCountUsable(0));
    EXPECT_TRUE(P::isAllowedOriginCountUsable(1));
    EXPECT_TRUE(P::isAllowedOriginCountUsable(16));
    EXPECT_FALSE(P::isAllowedOriginCountUsable(17));
}

TEST(WindowPolicy, checkMapKeepsFirstPlace) {
    CheckMap map;
    map.set("b", 1);
    map.set("a", 2);
    map.set("b", 3);
    EXPECT_EQ(map.entries(), (std::vector<CheckMap::Entry>{{"b", 3}, {"a", 2}}));
    EXPECT_EQ(map.get("a"), 2);
    EXPECT_EQ(map.get("c"), none);
}

} // namespace
} // namespace cpi
