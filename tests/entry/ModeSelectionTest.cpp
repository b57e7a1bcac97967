#include "entry/ClipboardHandoff.h"
#include "entry/Modes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace cpi {
namespace {

TEST(SelectMode, Table) {
    struct Row {
        std::vector<std::string> arguments;
        Mode mode;
        std::string argument;
    };
    const Row rows[] = {
        {{}, Mode::delivery, ""},
        {{"--trust-check"}, Mode::trustCheck, ""},
        {{"--agent-browser-window-visibility", "4242"}, Mode::agentBrowserWindowVisibility, "4242"},
        {{"--agent-browser-window-visibility", ""}, Mode::agentBrowserWindowVisibility, ""},
        {{"--copy-delivered-secret", "1765000060000"}, Mode::clipboardHandoff, "1765000060000"},
        {{"--profile-window-count"}, Mode::profileWindowCount, ""},
        {{"--key-baseline"}, Mode::keyBaseline, ""},
        {{"--key-capture"}, Mode::keyCapture, ""},
        // Wrong number of arguments.
        {{"--agent-browser-window-visibility"}, Mode::unrecognised, ""},
        {{"--agent-browser-window-visibility", "1", "2"}, Mode::unrecognised, ""},
        {{"--copy-delivered-secret"}, Mode::unrecognised, ""},
        {{"--trust-check", "x"}, Mode::unrecognised, ""},
        {{"--profile-window-count", "x"}, Mode::unrecognised, ""},
        {{"--key-capture", "x"}, Mode::unrecognised, ""},
        // Exact, case-sensitive comparisons.
        {{"--KEY-BASELINE"}, Mode::unrecognised, ""},
        {{" --key-capture"}, Mode::unrecognised, ""},
        {{"--key-capture "}, Mode::unrecognised, ""},
        {{"--trust-check="}, Mode::unrecognised, ""},
        {{""}, Mode::unrecognised, ""},
        {{"-"}, Mode::unrecognised, ""},
        // A switch counts only as the first argument.
        {{"x", "--trust-check"}, Mode::unrecognised, ""},
        {{"4242", "--agent-browser-window-visibility"}, Mode::unrecognised, ""},
    };
    for (const Row& row : rows) {
        const ModeChoice choice = selectMode(row.arguments);
        std::string shown;
        for (const std::string& word : row.arguments) {
            shown += "[" + word + "]";
        }
        EXPECT_EQ(choice.mode, row.mode) << shown;
        EXPECT_EQ(choice.argument, row.argument) << shown;
    }
}

TEST(ParseDeadline, Table) {
    struct Row {
        const char* text;
        std::optional<double> value;
    };
    const Row rows[] = {
        {"1765000060000", 1765000060000.0},
        {"1765000060000.25", 1765000060000.25},
        {"+12", 12.0},
        {"-12", -12.0},
        {".5", 0.5},
        {"1e3", 1000.0},
        {"0x1p40", 1099511627776.0},
        {"0X10", 16.0},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"4.9e-324", 4.9e-324},
        // No finite moment: refused as unusable input rather than held as "never passes".
        {"inf", std::nullopt},
        {"-Infinity", std::nullopt},
        {"INFINITY", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"0x1p1024", std::nullopt},
        {"nan", std::nullopt},
        {"NAN(123)", std::nullopt},
        {"", std::nullopt},
        {" 1", std::nullopt},
        {"\t1", std::nullopt},
        {"\n1", std::nullopt},
        {"1 ", std::nullopt},
        {"12ms", std::nullopt},
        {"1765000060000x", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
        {"+", std::nullopt},
        {"e5", std::nullopt},
        {"infinit", std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<double> parsed = parseDeadline(row.text);
        ASSERT_EQ(parsed.has_value(), row.value.has_value()) << "[" << row.text << "]";
        if (!parsed) {
            continue;
        }
        EXPECT_EQ(*parsed, *row.value) << row.text;
    }
    // An embedded NUL does not end the argument early.
    EXPECT_FALSE(parseDeadline(std::string("12\0"
                                           "34",
                                           5)));
}

} // namespace
} // namespace cpi
