// The tool's pasteboard types as the X targets the clipboard offers.
#include "platform/linux/ClipboardTargets.h"

#include <gtest/gtest.h>

namespace cpi::x11 {
namespace {

SecureBytes bytes(std::string_view text) {
    return SecureBytes(text.begin(), text.end());
}

std::vector<std::pair<std::string, std::string>> readable(const ClipboardContents& targets) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& [name, data] : targets) {
        out.emplace_back(name, std::string(data.begin(), data.end()));
    }
    return out;
}

TEST(ClipboardTargets, MapsEveryTypeInOrder) {
    struct Case {
        const char* name;
        ClipboardContents representations;
        std::vector<std::pair<std::string, std::string>> targets;
    };
    const std::vector<Case> cases{
        {"nothing", {}, {}},
        {"plain text under both names, same bytes",
         {{"UTF8_STRING", bytes("p4ss")}},
         {{"UTF8_STRING", "p4ss"}, {"text/plain;charset=utf-8", "p4ss"}}},
        // The marker's own bytes never reach the hint: managers look for the word "secret".
        {"concealment marker as the managers' hint",
         {{"org.nspasteboard.ConcealedType", bytes("")}},
         {{"x-kde-passwordManagerHint", "secret"}}},
        {"another type under its own name", {{"image/png", bytes("\x89PNG")}}, {{"image/png", "\x89PNG"}}},
        {"text then marker keep their order",
         {{"UTF8_STRING", bytes("x")}, {"org.nspasteboard.ConcealedType", bytes("1")}},
         {{"UTF8_STRING", "x"}, {"text/plain;charset=utf-8", "x"}, {"x-kde-passwordManagerHint", "secret"}}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        EXPECT_EQ(readable(clipboardTargets(each.representations)), each.targets);
    }
}

} // namespace
} // namespace cpi::x11
