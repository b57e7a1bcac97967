// The run scanner against the key-run pattern itself, run by PCRE2 (which has look-behind), on
// random and adversarial texts: the same runs in the same order, every time.
#include "PatternRuns.h"
#include "PolicyTestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace cpi {
namespace {

using P = ChromePrivateInputPolicy;

const std::vector<std::string>& neighbours() {
    static const std::vector<std::string> all{
        "",
        ".",
        "/",
        "=",
        "==",
        "-",
        "_",
        "a",
        "9",
        " ",
        "\n",
        "\t",
        ":",
        "\"",
        "'",
        "?",
        "&",
        "+",
        "~",
        "@",
        "#",
        "(",
        ")",
        "\\",
        "\u00E9",
        "\u00DF",
        "\u044F",
        "\u4E2D",
        "\u0301",
        "\u200D",
        "\U0001F44D\U0001F3FD",
        "\u0600",
        "\u00A0",
        "\xff",
        "\xc3",
        "\x80",
        "e\u0301",
        ".\u0301",
        "=\u0301",
        std::string(1, '\0'),
    };
    return all;
}

std::string keyStretch(std::size_t length, std::mt19937& random) {
    static constexpr std::string_view keys =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    std::uniform_int_distribution<std::size_t> pick(0, keys.size() - 1);
    std::string out(length, ' ');
    for (char& c : out) {
        c = keys[pick(random)];
    }
    return out;
}

// The number of runs found, so that a test can make sure it exercised runs at all.
std::size_t expectSameRuns(const PatternRuns& pattern, const std::string& text, const std::string& label) {
    const std::vector<std::string> scanned = P::keyRuns(text);
    const std::optional<std::vector<std::string>> reference = pattern(text);
    if (!reference) {
        ADD_FAILURE() << label << ": PCRE2 failed on a text of " << text.size() << " bytes";
        return 0;
    }
    const std::vector<std::string>& matched = *reference;
    if (scanned != matched) {
        ADD_FAILURE() << label << ": scanner " << scanned.size() << " runs, pattern " << matched.size()
                      << " runs; text of " << text.size() << " bytes: " << text.substr(0, 200);
    }
    return matched.size();
}

TEST(KeyRunsDifferential, borderLengthsWithEveryNeighbour) {
    const PatternRuns pattern;
    ASSERT_TRUE(pattern.compiled());
    std::mt19937 random(40);
    std::size_t runs = 0;
    for (const std::size_t length : {0, 1, 39, 40, 41, 4095, 4096, 4097, 100000}) {
        const std::string stretch = keyStretch(length, random);
        for (const std::string& before : neighbours()) {
            for (const std::string& after : neighbours()) {
                runs += expectSameRuns(pattern, before + stretch + after,
                                       std::to_string(length) + " [" + before + "] [" + after + "]");
            }
        }
    }
    EXPECT_EQ(expectSameRuns(pattern, "", "empty text"), 0u);
    EXPECT_GT(runs, 500u);
}

// Texts built from pieces that sit near the rule's edges: stretches around 40 and 4096 key
// characters, forbidden neighbours, "=" padding, non-ASCII letters, marks and malformed bytes.
TEST(KeyRunsDifferential, randomTexts) {
    const PatternRuns pattern;
    std::mt19937 random(4096);
    std::uniform_int_distribution<int> pieces(1, 12);
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<std::size_t> shortLength(0, 60);
    std::uniform_int_distribution<std::size_t> neighbour(0, neighbours().size() - 1);
    std::size_t runs = 0;
    for (int round = 0; round < 30000; ++round) {
        std::string text;
        const int count = pieces(random);
        for (int piece = 0; piece < count; ++piece) {
            const int k = kind(random);
            if (k < 55) {
                text += keyStretch(shortLength(random), random);
            } else if (k < 60) {
                text += keyStretch(37 + static_cast<std::size_t>(k - 55), random);
            } else if (k < 61 && round % 10 == 0) {
                text += keyStretch(4094 + static_cast<std::size_t>(round % 5), random);
            } else if (k < 64) {
                text += "==";
            } else {
                text += neighbours()[neighbour(random)];
            }
        }
        runs += expectSameRuns(pattern, text, "round " + std::to_string(round));
    }
    EXPECT_GT(runs, 3000u);
}

} // namespace
} // namespace cpi
