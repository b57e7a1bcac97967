// One look at an application through a Cache reply of the layout Chromium's bridge sends, and
// the matching of a frame to its X window.
#include "platform/linux/ApplicationSnapshot.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

namespace cpi::atspi {
namespace {

constexpr const char* app = ":1.42";

struct Row {
    const char* bus;
    const char* path;
    const char* parent;
    std::int32_t index;
    std::int32_t childCount;
    const char* name;
    std::uint32_t role;
};

void appendObject(DBusMessageIter& into, const char* bus, const char* path) {
    DBusMessageIter object;
    dbus_message_iter_open_container(&into, DBUS_TYPE_STRUCT, nullptr, &object);
    dbus_message_iter_append_basic(&object, DBUS_TYPE_STRING, &bus);
    dbus_message_iter_append_basic(&object, DBUS_TYPE_OBJECT_PATH, &path);
    dbus_message_iter_close_container(&into, &object);
}

// a((so)(so)(so)iiassusau), or the same without the description when `shortRows` is set.
Message cacheReply(const std::vector<Row>& rows, bool shortRows = false) {
    Message reply(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    DBusMessageIter top;
    DBusMessageIter items;
    dbus_message_iter_init_append(reply.get(), &top);
    const char* signature = shortRows ? "((so)(so)(so)iiassuau)" : "((so)(so)(so)iiassusau)";
    dbus_message_iter_open_container(&top, DBUS_TYPE_ARRAY, signature, &items);
    for (const Row& row : rows) {
        DBusMessageIter fields;
        DBusMessageIter list;
        dbus_message_iter_open_container(&items, DBUS_TYPE_STRUCT, nullptr, &fields);
        appendObject(fields, row.bus, row.path);
        appendObject(fields, row.bus, rootPath);
        appendObject(fields, row.bus, row.parent);
        dbus_message_iter_append_basic(&fields, DBUS_TYPE_INT32, &row.index);
        dbus_message_iter_append_basic(&fields, DBUS_TYPE_INT32, &row.childCount);
        dbus_message_iter_open_container(&fields, DBUS_TYPE_ARRAY, "s", &list);
        const char* interface = "org.a11y.atspi.Accessible";
        dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &interface);
        dbus_message_iter_close_container(&fields, &list);
        dbus_message_iter_append_basic(&fields, DBUS_TYPE_STRING, &row.name);
        dbus_message_iter_append_basic(&fields, DBUS_TYPE_UINT32, &row.role);
        if (!shortRows) {
            const char* description = "";
            dbus_message_iter_append_basic(&fields, DBUS_TYPE_STRING, &description);
        }
        dbus_message_iter_open_container(&fields, DBUS_TYPE_ARRAY, "u", &list);
        const std::uint32_t states[2] = {1u << 8, 0};
        for (const std::uint32_t& word : states) {
            dbus_message_iter_append_basic(&list, DBUS_TYPE_UINT32, &word);
        }
        dbus_message_iter_close_container(&fields, &list);
        dbus_message_iter_close_container(&items, &fields);
    }
    dbus_message_iter_close_container(&top, &items);
    return reply;
}

std::vector<std::string> paths(const std::optional<std::vector<ObjectRef>>& objects) {
    std::vector<std::string> out;
    for (const ObjectRef& object : objects.value_or(std::vector<ObjectRef>{})) {
        out.push_back(object.path);
    }
    return out;
}

TEST(CacheSnapshot, IndexesAReplyOfChromiumsLayout) {
    // Listed out of order, with a parent missing from the reply, a menu whose children are not
    // listed, and an element of another application's bus.
    const std::vector<Row> rows{
        {app, "/w/field", "/w/panel", 1, 0, "Password", 40},
        {app, "/w", rootPath, 0, 1, "Sign in - Chromium", 23},
        {app, "/w/panel", "/w", 0, 2, "", 39},
        {app, "/w/label", "/w/panel", 0, 0, "Name", 29},
        {":1.7", "/x", rootPath, 1, 0, "Other", 23},
        {app, "/w/toolbar/button", "/w/toolbar", 0, 0, "Back", 43},
        {app, "/menu", rootPath, 1, 3, "", 33},
    };
    const std::optional<std::vector<CachedElement>> elements = cachedElementsIn(cacheReply(rows).get());
    ASSERT_TRUE(elements);
    ASSERT_EQ(elements->size(), rows.size());
    EXPECT_EQ(elements->front().name, "Password");
    EXPECT_EQ(elements->front().states[0], 1u << 8);

    const CacheSnapshot snapshot(app, *elements);
    EXPECT_EQ(paths(snapshot.listedUnder(ObjectRef{app, rootPath})),
              (std::vector<std::string>{"/w", "/menu"}));
    EXPECT_EQ(paths(snapshot.allChildren(ObjectRef{app, "/w/panel"})),
              (std::vector<std::string>{"/w/label", "/w/field"}));
    EXPECT_EQ(paths(snapshot.allChildren(ObjectRef{app, "/w/field"})), std::vector<std::string>{});
    EXPECT_EQ(paths(snapshot.allChildren(ObjectRef{app, "/w"})), std::vector<std::string>{"/w/panel"});
    // Counted more children than listed, or not listed itself: the element must be asked.
    EXPECT_FALSE(snapshot.allChildren(ObjectRef{app, "/menu"}));
    EXPECT_FALSE(snapshot.allChildren(ObjectRef{app, "/w/toolbar"}));
    EXPECT_EQ(paths(snapshot.listedUnder(ObjectRef{app, "/w/toolbar"})),
              std::vector<std::string>{"/w/toolbar/button"});
    EXPECT_EQ(snapshot.find(ObjectRef{":1.7", "/x"}), nullptr);
    EXPECT_EQ(snapshot.find(ObjectRef{app, "/x"}), nullptr);
}

TEST(CacheSnapshot, ReplyOfAnotherLayoutGivesNothing) {
    EXPECT_FALSE(cachedElementsIn(cacheReply({{app, "/w", rootPath, 0, 0, "W", 23}}, true).get()));
    EXPECT_FALSE(cachedElementsIn(nullptr));
}

TEST(FrameWindow, MatchesOnlyOneWindowOfTheProcessByNameAndGeometry) {
    const Rect frame{10, 20, 800, 600};
    const Rect elsewhere{0, 0, 800, 600};
    auto window = [](std::uint32_t id, std::optional<std::int32_t> pid, const char* name, Rect geometry) {
        return x11::WindowFacts{id, pid, name, geometry, true, true};
    };
    struct Case {
        const char* name;
        std::vector<x11::WindowFacts> windows;
        std::optional<std::uint32_t> expected;
    };
    const std::vector<Case> cases{
        {"one match", {window(5, 100, "W", frame), window(6, 100, "W", elsewhere)}, 5},
        {"a window with no process named", {window(7, std::nullopt, "W", frame)}, 7},
        {"another process's window", {window(8, 200, "W", frame)}, std::nullopt},
        {"another name", {window(9, 100, "V", frame)}, std::nullopt},
        {"two alike", {window(5, 100, "W", frame), window(6, std::nullopt, "W", frame)}, std::nullopt},
        {"none", {}, std::nullopt},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        EXPECT_EQ(frameWindowAmong(each.windows, 100, "W", frame), each.expected);
    }
}

} // namespace
} // namespace cpi::atspi
