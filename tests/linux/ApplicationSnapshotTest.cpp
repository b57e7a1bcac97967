// One look at an application through a Cache reply of the layout Chromium's bridge sends, the
// reads of what the reply leaves out, and the matching of a frame to its X window.
#include "platform/linux/ApplicationSnapshot.h"

#include <atspi/atspi-constants.h>
#include <dbus/dbus.h>
#include <functional>
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
    std::uint32_t firstStateWord = 1u << 8;
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
        const std::uint32_t states[2] = {row.firstStateWord, 0};
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

// The bus's side of a look: answers from tables, every call noted in order.
class RecordedBus final : public ElementReads, public x11::WindowList {
public:
    Message cacheReply;
    std::map<std::string, ElementShape> shapes;
    std::map<std::string, std::vector<ObjectRef>> childrenOf;
    std::map<std::string, ObjectRef> parents;
    std::map<std::string, Rect> extentsOf;
    std::vector<x11::WindowFacts> windows;
    std::vector<std::string> calls;

    std::optional<std::vector<CachedElement>> cachedElements(const std::string& bus) override {
        calls.push_back("GetItems " + bus);
        return cachedElementsIn(cacheReply.get());
    }
    std::optional<std::uint32_t> role(const ObjectRef& object) override {
        return read("GetRole", object, shapes, &ElementShape::role);
    }
    std::optional<std::string> name(const ObjectRef& object) override {
        return read("Name", object, shapes, &ElementShape::name);
    }
    std::optional<std::string> description(const ObjectRef& object) override {
        return read("Description", object, shapes, &ElementShape::description);
    }
    std::optional<StateSet> states(const ObjectRef& object) override {
        return read("GetState", object, shapes, &ElementShape::states);
    }
    std::optional<ObjectRef> parent(const ObjectRef& object) override {
        return read("Parent", object, parents);
    }
    std::optional<std::vector<ObjectRef>> children(const ObjectRef& object) override {
        return read("GetChildren", object, childrenOf);
    }
    std::optional<std::map<std::string, std::string>> attributes(const ObjectRef& object) override {
        calls.push_back("GetAttributes " + object.path);
        return std::map<std::string, std::string>{{"class", "BrowserRootView"}};
    }
    std::optional<Rect> extents(const ObjectRef& object) override {
        return read("GetExtents", object, extentsOf);
    }
    std::vector<x11::WindowFacts> topLevelWindows() override {
        calls.push_back("windows");
        return windows;
    }

private:
    template <typename Value, typename Project = std::identity>
    auto read(const char* call, const ObjectRef& object, const std::map<std::string, Value>& table,
              Project project = {})
        -> std::optional<std::remove_cvref_t<std::invoke_result_t<Project, const Value&>>> {
        calls.push_back(std::string(call) + " " + object.path);
        const auto found = table.find(object.path);
        return found != table.end() ? std::optional(std::invoke(project, found->second)) : std::nullopt;
    }
};

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

    RecordedBus bus;
    bus.cacheReply = cacheReply(rows);
    const ApplicationSnapshot snapshot(
        bus, [] { return nullptr; }, app, 100, true);
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

constexpr std::uint32_t visible = 1u << ATSPI_STATE_VISIBLE;
const std::string frame = "/org/a11y/atspi/accessible/1";
const std::string panel = "/org/a11y/atspi/accessible/2";
const std::string password = "/org/a11y/atspi/accessible/3";
const std::string hidden = "/org/a11y/atspi/accessible/4";
const std::string email = "/org/a11y/atspi/accessible/9"; // not in the Cache's reply
const Rect frameExtents{10, 20, 800, 600};

// One window with the frame's name and geometry in Chromium's process, one in another process.
void serveChromium(RecordedBus& bus) {
    bus.shapes[frame] = ElementShape{ATSPI_ROLE_FRAME, {visible, 0}, "Sign in - Chromium", ""};
    bus.shapes[email] = ElementShape{ATSPI_ROLE_ENTRY, {visible, 0}, "Email", ""};
    bus.childrenOf[rootPath] = {{app, frame}};
    bus.childrenOf[panel] = {{app, password}, {app, hidden}, {app, email}};
    bus.parents[email] = {app, panel};
    bus.parents[panel] = {app, frame};
    bus.parents[frame] = {app, rootPath};
    bus.extentsOf[frame] = frameExtents;
    bus.windows = {{5, 100, "Sign in - Chromium", frameExtents, true, true},
                   {6, 200, "Sign in - Chromium", frameExtents, true, true}};
}

// The panel counts three children and the Cache lists two of them (a third is not yet exposed).
const std::vector<Row> chromiumRows{
    {app, frame.c_str(), rootPath, 0, 1, "Sign in - Chromium", ATSPI_ROLE_FRAME, visible},
    {app, panel.c_str(), frame.c_str(), 0, 3, "", ATSPI_ROLE_PANEL, visible},
    {app, password.c_str(), panel.c_str(), 0, 0, "Password", ATSPI_ROLE_PASSWORD_TEXT, visible},
    {app, hidden.c_str(), panel.c_str(), 1, 0, "", ATSPI_ROLE_PANEL, 0},
};

std::vector<std::string> take(std::vector<std::string>& calls) {
    return std::exchange(calls, {});
}

TEST(ApplicationSnapshot, AnswersFromTheCacheAndReadsWhatItLeavesOutOncePerLook) {
    RecordedBus bus;
    serveChromium(bus);
    bus.cacheReply = cacheReply(chromiumRows);
    ApplicationSnapshot look(
        bus, [&] { return &bus; }, app, 100, true);
    EXPECT_EQ(take(bus.calls), std::vector<std::string>{"GetItems :1.42"});

    // Incomplete in the Cache: the element is asked, and the child the Cache missed is read.
    EXPECT_EQ(paths(look.listedChildren(ObjectRef{app, panel})), (std::vector<std::string>{password, email}));
    EXPECT_EQ(take(bus.calls),
              (std::vector<std::string>{"GetChildren " + panel, "GetRole " + email, "GetState " + email,
                                        "Name " + email, "Description " + email}));
    EXPECT_EQ(look.shapeOf(ObjectRef{app, email})->name, "Email");
    EXPECT_EQ(look.frameOf(ObjectRef{app, email}), (ObjectRef{app, frame}));
    EXPECT_EQ(take(bus.calls), std::vector<std::string>{"Parent " + email});

    EXPECT_EQ(paths(look.windowsOf(ObjectRef{app, rootPath})), std::vector<std::string>{frame});
    EXPECT_EQ(look.frameWindow(ObjectRef{app, frame}), 5u);
    EXPECT_EQ(take(bus.calls), (std::vector<std::string>{"GetExtents " + frame, "windows"}));

    // Attributes are read once per look; another application's element each time it is asked about.
    look.attributesOf(ObjectRef{app, frame});
    look.attributesOf(ObjectRef{app, frame});
    look.shapeOf(ObjectRef{":1.7", frame});
    look.shapeOf(ObjectRef{":1.7", frame});
    EXPECT_EQ(take(bus.calls),
              (std::vector<std::string>{"GetAttributes " + frame, "GetRole " + frame, "GetState " + frame,
                                        "Name " + frame, "Description " + frame, "GetRole " + frame,
                                        "GetState " + frame, "Name " + frame, "Description " + frame}));
}

TEST(ApplicationSnapshot, WithoutAUsableCacheEveryElementIsAsked) {
    const std::vector<std::string> frameRead{"GetRole " + frame, "GetState " + frame, "Name " + frame,
                                             "Description " + frame};
    struct Case {
        const char* name;
        bool readCache;
        bool display;
        std::vector<std::string> calls;
        std::optional<std::uint32_t> window;
    };
    std::vector<Case> cases{
        {"a reply of another layout",
         true,
         true,
         {"GetItems :1.42", "GetChildren " + std::string(rootPath)},
         5},
        {"reads element by element", false, true, {"GetChildren " + std::string(rootPath)}, 5},
        {"no display", false, false, {"GetChildren " + std::string(rootPath)}, std::nullopt},
    };
    for (Case& each : cases) {
        SCOPED_TRACE(each.name);
        RecordedBus bus;
        serveChromium(bus);
        bus.cacheReply = cacheReply({{app, frame.c_str(), rootPath, 0, 0, "W", ATSPI_ROLE_FRAME}}, true);
        ApplicationSnapshot look(
            bus, [&]() -> x11::WindowList* { return each.display ? &bus : nullptr; }, app, 100,
            each.readCache);
        EXPECT_EQ(paths(look.windowsOf(ObjectRef{app, rootPath})).size(), each.window ? 1u : 0u);
        EXPECT_EQ(look.frameWindow(ObjectRef{app, frame}), each.window);
        each.calls.insert(each.calls.end(), frameRead.begin(), frameRead.end());
        if (each.display) {
            each.calls.insert(each.calls.end(), {"GetExtents " + frame, "windows"});
        }
        EXPECT_EQ(bus.calls, each.calls);
        // The walk up to the frame goes to the bus too.
        bus.calls.clear();
        EXPECT_EQ(look.frameOf(ObjectRef{app, email}), (ObjectRef{app, frame}));
        EXPECT_EQ(bus.calls,
                  (std::vector<std::string>{"Parent " + email, "Parent " + panel, "Parent " + frame}));
    }
}

} // namespace
} // namespace cpi::atspi
