#include "entry/StatusModes.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace cpi {
namespace {

TEST(ParseProcessIdentifier, Table) {
    struct Row {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Row rows[] = {
        {"4242", 4242},
        {"+4242", 4242},
        {"-7", -7},
        {"0", 0},
        {"0002", 2},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"++1", std::nullopt},
        {"+-1", std::nullopt},
        {"-+1", std::nullopt},
        {" 42", std::nullopt},
        {"42 ", std::nullopt},
        {"4 2", std::nullopt},
        {"42a", std::nullopt},
        {"0x2a", std::nullopt},
        {"4.0", std::nullopt},
        {"\xd9\xa4", std::nullopt}, // an Arabic-Indic digit is not an ASCII digit
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parseProcessIdentifier(row.text), row.value) << "[" << row.text << "]";
    }
}

// A number of any JSON kind as typed; anything else absent, as the backends read record entries.
std::optional<WindowServerNumber> numberOf(const nlohmann::json& map, const char* key) {
    if (!map.is_object() || !map.contains(key) || !map[key].is_number()) {
        return std::nullopt;
    }
    const nlohmann::json& value = map[key];
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_number_integer()) {
        return value.get<std::int64_t>();
    }
    return value.get<double>();
}

WindowRecord record(const nlohmann::json& fields) {
    WindowRecord result;
    result.ownerPid = numberOf(fields, "kCGWindowOwnerPID");
    result.layer = numberOf(fields, "kCGWindowLayer");
    result.number = numberOf(fields, "kCGWindowNumber");
    if (!fields.contains("kCGWindowBounds")) {
        return result;
    }
    const auto& bounds = fields["kCGWindowBounds"];
    result.width = numberOf(bounds, "Width");
    result.height = numberOf(bounds, "Height");
    if (bounds.is_object() && bounds.contains("X") && bounds.contains("Y") && result.width && result.height) {
        result.bounds = Rect{bounds["X"].get<double>(), bounds["Y"].get<double>(),
                             bounds["Width"].get<double>(), bounds["Height"].get<double>()};
    }
    return result;
}

nlohmann::json window(nlohmann::json owner, nlohmann::json layer, nlohmann::json width,
                      nlohmann::json height) {
    return {{"kCGWindowOwnerPID", std::move(owner)},
            {"kCGWindowLayer", std::move(layer)},
            {"kCGWindowNumber", 10},
            {"kCGWindowBounds",
             {{"X", 0}, {"Y", 0}, {"Width", std::move(width)}, {"Height", std::move(height)}}}};
}

// Whether a record passes the filter for process 4242.
TEST(BrowserWindows, FilterTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* what;
        nlohmann::json fields;
        bool kept;
    };
    const Row rows[] = {
        {"ordinary window", window(4242, 0, 1200, 800), true},
        {"smallest size", window(4242, 0, 200, 100), true},
        {"sizes as floats", window(4242, 0, 200.0, 100.0), true},
        {"sizes unsigned", window(4242, 0, 200u, 100u), true},
        {"width unsigned 199", window(4242, 0, 199u, 800), false},
        {"width 199.5", window(4242, 0, 199.5, 800), false},
        {"height 99", window(4242, 0, 1200, 99), false},
        {"width NaN", window(4242, 0, nan, 800), false},
        {"height a string", window(4242, 0, 1200, "800"), false},
        {"height null", window(4242, 0, 1200, nullptr), false},
        {"other process", window(4243, 0, 1200, 800), false},
        {"owner as an integral float", window(4242.0, 0, 1200, 800), true},
        {"owner unsigned", window(4242u, 0, 1200, 800), true},
        {"owner unsigned beyond the signed 64 bits", window(18446744073709551615ULL, 0, 1200, 800), false},
        {"owner negative", window(-4242, 0, 1200, 800), false},
        {"owner fractional", window(4242.5, 0, 1200, 800), false},
        {"owner 2^32 + 4242 does not wrap around", window(4294971538LL, 0, 1200, 800), false},
        {"owner beyond 64 bits", window(1e30, 0, 1200, 800), false},
        {"owner a string", window("4242", 0, 1200, 800), false},
        {"owner a boolean", window(true, 0, 1200, 800), false},
        {"layer 3", window(4242, 3, 1200, 800), false},
        {"layer -1", window(4242, -1, 1200, 800), false},
        {"layer 0 as a float", window(4242, 0.0, 1200, 800), true},
        {"layer 0 unsigned", window(4242, 0u, 1200, 800), true},
        {"layer -0.0", window(4242, -0.0, 1200, 800), true},
        {"layer 0.5 is not integral", window(4242, 0.5, 1200, 800), false},
        {"layer 2^32 does not wrap to 0", window(4242, 4294967296LL, 1200, 800), false},
        {"layer false", window(4242, false, 1200, 800), false},
        {"layer missing",
         {{"kCGWindowOwnerPID", 4242}, {"kCGWindowBounds", {{"Width", 1200}, {"Height", 800}}}},
         false},
        {"bounds missing", {{"kCGWindowOwnerPID", 4242}, {"kCGWindowLayer", 0}}, false},
        {"bounds a list",
         {{"kCGWindowOwnerPID", 4242}, {"kCGWindowLayer", 0}, {"kCGWindowBounds", {1200, 800}}},
         false},
    };
    for (const Row& row : rows) {
        const auto kept = browserWindows({record(row.fields)}, 4242);
        EXPECT_EQ(kept.size(), row.kept ? 1u : 0u) << row.what;
    }
}

TEST(BrowserWindows, IdAndBounds) {
    struct Row {
        const char* what;
        nlohmann::json number;
        std::optional<std::uint32_t> id;
    };
    const Row rows[] = {
        {"integer", 812, 812u},
        {"largest", 4294967295LL, 4294967295u},
        {"integral float", 812.0, 812u},
        {"too large", 4294967296LL, std::nullopt},
        {"negative", -1, std::nullopt},
        {"fractional", 812.5, std::nullopt},
        {"string", "812", std::nullopt},
        {"null", nullptr, std::nullopt},
        {"unsigned", 812u, 812u},
        {"unsigned too large", 4294967296ULL, std::nullopt},
        {"NaN", std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const Row& row : rows) {
        nlohmann::json fields = window(4242, 0, 500, 500);
        fields["kCGWindowNumber"] = row.number;
        const auto kept = browserWindows({record(fields)}, 4242);
        ASSERT_EQ(kept.size(), 1u) << row.what;
        EXPECT_EQ(kept[0].id, row.id) << row.what;
        EXPECT_EQ(kept[0].bounds, (Rect{0, 0, 500, 500})) << row.what;
    }
    nlohmann::json withoutNumber = window(4242, 0, 500, 500);
    withoutNumber.erase("kCGWindowNumber");
    withoutNumber["kCGWindowBounds"].erase("X"); // no longer a rectangle, still wide and high enough
    const auto kept = browserWindows({record(withoutNumber)}, 4242);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(kept[0].id);
    EXPECT_EQ(kept[0].bounds, nullRect());
}

BrowserWindow at(std::optional<std::uint32_t> id, Rect bounds = {40, 40, 1200, 800}) {
    return {id, bounds};
}

constexpr double height = 1117;
const Rect placeholder{0, height - 500, 500, 500};

nlohmann::ordered_json visibility(const std::vector<BrowserWindow>& all,
                                  const std::vector<BrowserWindow>& onScreen) {
    return windowVisibility(all, onScreen, [] { return height; });
}

TEST(WindowVisibility, Table) {
    struct Row {
        const char* what;
        std::vector<BrowserWindow> all;
        std::vector<BrowserWindow> onScreen;
        std::string line;
    };
    const Row rows[] = {
        {"no windows", {}, {}, R"({"all":0,"onScreen":0,"excludingPlaceholder":0})"},
        {"two visible and the placeholder",
         {at(1), at(2), at(3, placeholder)},
         {at(1), at(2)},
         R"({"all":3,"onScreen":2,"excludingPlaceholder":2})"},
        {"two placeholders count once",
         {at(1, placeholder), at(2, placeholder), at(3)},
         {at(3)},
         R"({"all":3,"onScreen":1,"excludingPlaceholder":2})"},
        {"a placeholder-shaped window on screen is no placeholder",
         {at(1, placeholder)},
         {at(1, placeholder)},
         R"({"all":1,"onScreen":1,"excludingPlaceholder":1})"},
        {"off screen but one point off",
         {at(1, Rect{0, height - 501, 500, 500})},
         {},
         R"({"all":1,"onScreen":0,"excludingPlaceholder":1})"},
        {"unreadable bounds are never a placeholder",
         {at(1, nullRect())},
         {},
         R"({"all":1,"onScreen":0,"excludingPlaceholder":1})"},
        {"a window without id", {at(1), at(std::nullopt, placeholder)}, {at(1)}, R"({"all":2,"onScreen":1})"},
        {"an id twice", {at(1), at(1, placeholder)}, {}, R"({"all":2,"onScreen":0})"},
        {"an id twice on screen", {at(1), at(2)}, {at(1), at(1)}, R"({"all":2,"onScreen":2})"},
        {"an on-screen window missing from all windows",
         {at(1)},
         {at(1), at(2)},
         R"({"all":1,"onScreen":2})"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(visibility(row.all, row.onScreen).dump(), row.line) << row.what;
    }
}

TEST(WindowVisibility, DisplayAskedOnlyWhenTheSnapshotsAgree) {
    int asked = 0;
    windowVisibility({at(std::nullopt)}, {}, [&] { return ++asked, height; });
    EXPECT_EQ(asked, 0);
    windowVisibility({at(1)}, {}, [&] { return ++asked, height; });
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace cpi
