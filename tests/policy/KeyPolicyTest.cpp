// Keys: text elements, runs, fingerprints, the new key and the "keyCheck" map.
#include "PolicyTestSupport.h"

#include <gtest/gtest.h>

namespace cpi {
namespace {

using P = ChromePrivateInputPolicy;
using Text = std::optional<std::string>;
using Runs = std::vector<std::string>;
constexpr std::nullopt_t none = std::nullopt;

// `length` key characters, every kind of them, different for each `seed`.
std::string keyText(std::size_t length, char seed = 'a') {
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    std::string out(length, ' ');
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = alphabet[(i * 7 + static_cast<std::size_t>(seed)) % alphabet.size()];
    }
    return out;
}

TEST(KeyPolicy, isKeyTextNode) {
    struct Row {
        std::string role;
        Text subrole;
        bool expected;
    };
    for (const Row& row : std::vector<Row>{
             {"AXStaticText", none, true},
             {"AXTextField", "AXSecureTextField", false},
             {"AXTextField", none, true},
             {"AXTextArea", "AXSearchField", true},
             {"AXTextArea", "", true},
             {"AXWebArea", none, false},
             {"AXSecureTextField", none, false},
             {"", none, false},
         }) {
        EXPECT_EQ(P::isKeyTextNode(row.role, row.subrole), row.expected)
            << row.role << " " << row.subrole.value_or("-");
    }
}

TEST(KeyPolicy, keyRuns) {
    struct Row {
        std::string name;
        std::string text;
        Runs expected;
    };
    const std::string k40 = keyText(40);
    const std::string other40 = keyText(40, 'q');
    for (const Row& row : std::vector<Row>{
             {"40 between spaces", " " + k40 + " ", {k40}},
             {"39 between spaces", " " + keyText(39) + " ", {}},
             {"4096", " " + keyText(4096) + " ", {keyText(4096)}},
             {"4097 yields nothing", " " + keyText(4097) + " ", {}},
             {"at the start", k40 + " tail", {k40}},
             {"at the end", "head " + k40, {k40}},
             {"the whole text", k40, {k40}},
             {"after =", "token=" + k40, {}},
             {"before =", k40 + "=", {k40}},
             {"before ==", "x " + k40 + "==", {k40}},
             {"after /", "/" + k40, {}},
             {"after .", "." + k40, {}},
             {"before /", k40 + "/", {}},
             {"before .", "key " + k40 + ".", {}},
             {"colon and space", "key:" + k40 + " ", {k40}},
             {"quoted", "\"" + k40 + "\"", {k40}},
             {"bordered by non-ASCII letters", "\u00E9" + k40 + "\u00DF", {k40}},
             {"bordered by CJK", "\u4E2D" + k40 + "\u6587", {k40}},
             {"followed by a combining mark: taken whole", k40 + "\u0301 x", {k40}},
             {"same run twice", k40 + " " + k40, {k40, k40}},
             {"two runs in order", other40 + "\n" + k40, {other40, k40}},
             {"dashes and underscores are key characters", "-_" + k40, {"-_" + k40}},
             {"empty text", "", {}},
             {"malformed bytes are plain neighbours", "\xff" + k40 + "\xc3", {k40}},
         }) {
        EXPECT_EQ(P::keyRuns(row.text), row.expected) << row.name;
    }
}

TEST(KeyPolicy, keyFingerprint) {
    struct Row {
        std::string name;
        std::string input;
        std::string expected;
    };
    for (const Row& row : std::vector<Row>{
             {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {"896 bits",
              "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
              "rsmnopqrstnopqrstu",
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
             {"one million a", std::string(1000000, 'a'),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
         }) {
        EXPECT_EQ(P::keyFingerprint(row.input), row.expected) << row.name;
    }
}

TEST(KeyPolicy, newKeyAndKeyCheck) {
    const std::string a = keyText(40, 'a');
    const std::string b = keyText(41, 'b');
    const std::string known = keyText(42, 'k');
    const std::set<std::string> baseline{P::keyFingerprint(known)};
    struct Row {
        std::string name;
        Runs runs;
        Runs focused;
        Text key;
        Text reason;
        CheckMap check;
    };
    const auto counts = [](std::int64_t runs, std::int64_t distinct, std::int64_t knownCount,
                           std::int64_t fresh, std::int64_t focusedFresh) {
        return checkMap({{"textNodes", 7},
                         {"runs", runs},
                         {"distinct", distinct},
                         {"known", knownCount},
                         {"fresh", fresh},
                         {"focusedFresh", focusedFresh}});
    };
    for (const Row& row : std::vector<Row>{
             {"no runs", {}, {}, none, "page_key_not_found", counts(0, 0, 0, 0, 0)},
             {"only known runs", {known, known}, {known}, none, "page_key_not_found", counts(2, 1, 1, 0, 0)},
             {"one fresh run shown three times", {a, known, a, a}, {}, a, none, counts(4, 2, 1, 1, 0)},
             {"two fresh, one focused", {a, b, known}, {b, known}, b, none, counts(3, 3, 1, 2, 1)},
             {"two fresh, none focused", {a, b}, {}, none, "page_key_ambiguous", counts(2, 2, 0, 2, 0)},
             {"two fresh, both focused", {a, b}, {b, a}, none, "page_key_ambiguous", counts(2, 2, 0, 2, 2)},
             {"a focused known run does not count",
              {a, b, known},
              {known},
              none,
              "page_key_ambiguous",
              counts(3, 3, 1, 2, 0)},
         }) {
        const Verdict<std::string> result = P::newKey(7, row.runs, row.focused, baseline);
        EXPECT_EQ(result ? Text(result.value()) : none, row.key) << row.name;
        EXPECT_EQ(wire(result), row.reason) << row.name;
        // A refusal carries the map the mode writes; the map is the same for an accepted key.
        if (!result) {
            EXPECT_EQ(result.refusal()->check, (NamedCheck{CheckName::keyCheck, row.check})) << row.name;
        }
        EXPECT_EQ(P::keyCheck(7, row.runs, row.focused, baseline), row.check) << row.name;
    }
}

TEST(KeyPolicy, keyCheckCaps) {
    Runs runs;
    for (int i = 0; i < 120; ++i) {
        runs.push_back(keyText(40) + std::to_string(i));
    }
    EXPECT_EQ(P::keyCheck(100000, runs, {}, {}), checkMap({{"textNodes", 99999},
                                                           {"runs", 99},
                                                           {"distinct", 99},
                                                           {"known", 0},
                                                           {"fresh", 99},
                                                           {"focusedFresh", 0}}));
    EXPECT_EQ(P::keyCheck(99998, {}, {}, {}).get("textNodes"), 99998);
}

} // namespace
} // namespace cpi
