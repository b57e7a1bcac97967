#include "platform/linux/AccessibilityBus.h"

#include <atomic>
#include <atspi/atspi.h>
#include <cstring>
#include <dbus/dbus.h>
#include <mutex>

namespace cpi::atspi {

namespace {
// The timeout of every call on the application connections, in milliseconds.
std::atomic<int> callTimeoutMillis{DBUS_TIMEOUT_USE_DEFAULT};
constexpr int stopCallTimeoutMillis = 250;
} // namespace

void useStopDeadline() noexcept {
    callTimeoutMillis.store(stopCallTimeoutMillis);
}

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

// GLib and libatspi report trouble on standard error by default; the tool never writes there.
void dropLogMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_writer_func(
            [](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }, nullptr,
            nullptr);
        g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

// A call of `method` on `object`, with its arguments as dbus_message_append_args takes them (type,
// address, ...).
template <typename... Arguments>
Message methodCall(const ObjectRef& object, const char* interface, const char* method,
                   Arguments... arguments) {
    Message request(dbus_message_new_method_call(object.bus.c_str(), object.path.c_str(), interface, method));
    if (request) {
        dbus_message_append_args(request.get(), arguments..., DBUS_TYPE_INVALID);
    }
    return request;
}

// Reading helpers: each checks the type before it reads and gives nothing on a mismatch.
bool enter(DBusMessageIter& iter, int container, DBusMessageIter& inner) {
    if (dbus_message_iter_get_arg_type(&iter) != container) {
        return false;
    }
    dbus_message_iter_recurse(&iter, &inner);
    return true;
}

bool readString(DBusMessageIter& iter, std::string& out) {
    const int type = dbus_message_iter_get_arg_type(&iter);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) {
        return false;
    }
    const char* value = nullptr;
    dbus_message_iter_get_basic(&iter, &value);
    out = value != nullptr ? value : "";
    dbus_message_iter_next(&iter);
    return true;
}

template <typename Integer>
bool readInteger(DBusMessageIter& iter, int wanted, Integer& out) {
    if (dbus_message_iter_get_arg_type(&iter) != wanted) {
        return false;
    }
    dbus_message_iter_get_basic(&iter, &out);
    dbus_message_iter_next(&iter);
    return true;
}

// (so): an object reference.
bool readObject(DBusMessageIter& iter, ObjectRef& out) {
    DBusMessageIter fields;
    if (!enter(iter, DBUS_TYPE_STRUCT, fields) || !readString(fields, out.bus) ||
        !readString(fields, out.path)) {
        return false;
    }
    dbus_message_iter_next(&iter);
    return true;
}

// au: the two words of a state set.
bool readStates(DBusMessageIter& iter, StateSet& out) {
    DBusMessageIter words;
    if (!enter(iter, DBUS_TYPE_ARRAY, words)) {
        return false;
    }
    out = {};
    for (std::size_t index = 0; dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32; ++index) {
        std::uint32_t word = 0;
        readInteger(words, DBUS_TYPE_UINT32, word);
        if (index < out.size()) {
            out[index] = word;
        }
    }
    dbus_message_iter_next(&iter);
    return true;
}

bool skip(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_INVALID) {
        return false;
    }
    dbus_message_iter_next(&iter);
    return true;
}

// a(so): object references.
bool readObjects(DBusMessageIter& iter, std::vector<ObjectRef>& out) {
    DBusMessageIter items;
    if (!enter(iter, DBUS_TYPE_ARRAY, items)) {
        return false;
    }
    ObjectRef object;
    while (readObject(items, object)) {
        out.push_back(object);
    }
    return true;
}

// a{ss}: attributes; an entry of another shape is left out.
bool readAttributes(DBusMessageIter& iter, std::map<std::string, std::string>& out) {
    DBusMessageIter entries;
    if (!enter(iter, DBUS_TYPE_ARRAY, entries)) {
        return false;
    }
    while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&entries, &entry);
        std::string key;
        std::string value;
        if (readString(entry, key) && readString(entry, value)) {
            out[key] = value;
        }
        dbus_message_iter_next(&entries);
    }
    return true;
}

// s, into wiping memory: a field's text may be a secret, and so the reply's own buffer is wiped too.
bool readText(DBusMessageIter& iter, SecureString& out) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRING) {
        return false;
    }
    const char* value = nullptr;
    dbus_message_iter_get_basic(&iter, &value);
    out = value != nullptr ? value : "";
    if (value != nullptr) {
        secureWipe(const_cast<char*>(value), std::strlen(value));
    }
    return true;
}

// (iiii): x, y, width and height.
bool readExtents(DBusMessageIter& iter, Rect& out) {
    DBusMessageIter fields;
    if (!enter(iter, DBUS_TYPE_STRUCT, fields)) {
        return false;
    }
    std::array<dbus_int32_t, 4> numbers{};
    for (dbus_int32_t& number : numbers) {
        if (!readInteger(fields, DBUS_TYPE_INT32, number)) {
            return false;
        }
    }
    out = Rect{double(numbers[0]), double(numbers[1]), double(numbers[2]), double(numbers[3])};
    return true;
}

// a((so)(so)(so)iiassusau): object, application, parent, index in parent, child count,
// interfaces, name, role, description, states. Any other layout gives nothing (the caller then
// reads element by element).
bool readCache(DBusMessageIter& iter, std::vector<CachedElement>& out) {
    DBusMessageIter items;
    if (!enter(iter, DBUS_TYPE_ARRAY, items)) {
        return false;
    }
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRUCT) {
        DBusMessageIter fields;
        dbus_message_iter_recurse(&items, &fields);
        CachedElement element;
        ObjectRef application;
        if (!readObject(fields, element.object) || !readObject(fields, application) ||
            !readObject(fields, element.parent) ||
            !readInteger(fields, DBUS_TYPE_INT32, element.indexInParent) ||
            !readInteger(fields, DBUS_TYPE_INT32, element.childCount) || !skip(fields) ||
            !readString(fields, element.name) || !readInteger(fields, DBUS_TYPE_UINT32, element.role) ||
            !readString(fields, element.description) || !readStates(fields, element.states)) {
            return false;
        }
        out.push_back(std::move(element));
        dbus_message_iter_next(&items);
    }
    return true;
}

// The first argument of a reply, entering a variant when the reply is a property's value.
std::optional<DBusMessageIter> firstArgument(DBusMessage* reply) {
    DBusMessageIter iter;
    if (reply == nullptr || !dbus_message_iter_init(reply, &iter)) {
        return std::nullopt;
    }
    DBusMessageIter inner;
    return enter(iter, DBUS_TYPE_VARIANT, inner) ? inner : iter;
}

// The first argument of `reply` as `reader` reads it, or nothing.
template <typename Value, typename Reader>
std::optional<Value> answer(const Message& reply, Reader reader) {
    Value value{};
    if (auto iter = firstArgument(reply.get()); iter && reader(*iter, value)) {
        return value;
    }
    return std::nullopt;
}

template <int type>
constexpr auto integer = [](DBusMessageIter& iter, auto& value) { return readInteger(iter, type, value); };

} // namespace

std::optional<std::vector<CachedElement>> cachedElementsIn(DBusMessage* reply) {
    std::vector<CachedElement> elements;
    if (auto iter = firstArgument(reply); iter && readCache(*iter, elements)) {
        return elements;
    }
    return std::nullopt;
}

void MessageRelease::operator()(DBusMessage* message) const noexcept {
    dbus_message_unref(message);
}

bool hasState(const StateSet& states, unsigned state) {
    return state < 64 && (states[state / 32] & (1u << (state % 32))) != 0;
}

std::unique_ptr<AccessibilityBus> AccessibilityBus::connect() {
    dropLogMessages();
    if (atspi_init() < 0) {
        return nullptr;
    }
    DBusConnection* connection = atspi_get_a11y_bus();
    if (connection == nullptr || !dbus_connection_get_is_connected(connection)) {
        return nullptr;
    }
    dbus_connection_ref(connection);
    return std::unique_ptr<AccessibilityBus>(new AccessibilityBus(connection));
}

AccessibilityBus::~AccessibilityBus() {
    dbus_connection_unref(connection_);
}

bool AccessibilityBus::accessibilityEnabled() {
    dropLogMessages();
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* session = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (session == nullptr) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(session, false);
    bool enabled = false;
    const char* interface = "org.a11y.Status";
    const char* property = "IsEnabled";
    if (const Message request =
            methodCall(ObjectRef{"org.a11y.Bus", "/org/a11y/bus"}, propertiesInterface, "Get",
                       DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property)) {
        const Message reply(dbus_connection_send_with_reply_and_block(session, request.get(),
                                                                      DBUS_TIMEOUT_USE_DEFAULT, nullptr));
        enabled = answer<dbus_bool_t>(reply, integer<DBUS_TYPE_BOOLEAN>).value_or(false);
    }
    dbus_connection_close(session);
    dbus_connection_unref(session);
    return enabled;
}

Message AccessibilityBus::call(Message request) {
    if (!request) {
        return nullptr;
    }
    ++roundTrips_;
    return Message(dbus_connection_send_with_reply_and_block(connection_, request.get(),
                                                             callTimeoutMillis.load(), nullptr));
}

Message AccessibilityBus::property(const ObjectRef& object, const char* interface, const char* name) {
    return call(methodCall(object, propertiesInterface, "Get", DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                           &name));
}

std::vector<ObjectRef> AccessibilityBus::applications() {
    return children(ObjectRef{"org.a11y.atspi.Registry", rootPath}).value_or(std::vector<ObjectRef>{});
}

Message AccessibilityBus::askBus(const char* method, const std::string& name) {
    const char* text = name.c_str();
    return call(methodCall(ObjectRef{"org.freedesktop.DBus", "/org/freedesktop/DBus"}, "org.freedesktop.DBus",
                           method, DBUS_TYPE_STRING, &text));
}

std::optional<std::uint32_t> AccessibilityBus::processIdentifier(const std::string& bus) {
    return answer<std::uint32_t>(askBus("GetConnectionUnixProcessID", bus), integer<DBUS_TYPE_UINT32>);
}

bool AccessibilityBus::isConnected(const std::string& bus) {
    return answer<dbus_bool_t>(askBus("NameHasOwner", bus), integer<DBUS_TYPE_BOOLEAN>).value_or(false);
}

std::optional<std::vector<CachedElement>> AccessibilityBus::cachedElements(const std::string& bus) {
    // A bridge opens its Cache to the clients it knows; asking for the application's own bus
    // address makes this process one, as libatspi's clients become one.
    if (announcedTo_.insert(bus).second) {
        const Message address(call(
            methodCall(ObjectRef{bus, rootPath}, "org.a11y.atspi.Application", "GetApplicationBusAddress")));
    }
    const Message reply =
        call(methodCall(ObjectRef{bus, "/org/a11y/atspi/cache"}, "org.a11y.atspi.Cache", "GetItems"));
    return cachedElementsIn(reply.get());
}

std::optional<std::uint32_t> AccessibilityBus::role(const ObjectRef& object) {
    return answer<std::uint32_t>(call(methodCall(object, accessibleInterface, "GetRole")),
                                 integer<DBUS_TYPE_UINT32>);
}

std::optional<std::string> AccessibilityBus::name(const ObjectRef& object) {
    return answer<std::string>(property(object, accessibleInterface, "Name"), readString);
}

std::optional<std::string> AccessibilityBus::description(const ObjectRef& object) {
    return answer<std::string>(property(object, accessibleInterface, "Description"), readString);
}

std::optional<StateSet> AccessibilityBus::states(const ObjectRef& object) {
    return answer<StateSet>(call(methodCall(object, accessibleInterface, "GetState")), readStates);
}

std::optional<ObjectRef> AccessibilityBus::parent(const ObjectRef& object) {
    return answer<ObjectRef>(property(object, accessibleInterface, "Parent"), readObject);
}

std::optional<std::vector<ObjectRef>> AccessibilityBus::children(const ObjectRef& object) {
    return answer<std::vector<ObjectRef>>(call(methodCall(object, accessibleInterface, "GetChildren")),
                                          readObjects);
}

std::optional<std::map<std::string, std::string>> AccessibilityBus::attributes(const ObjectRef& object) {
    return answer<std::map<std::string, std::string>>(
        call(methodCall(object, accessibleInterface, "GetAttributes")), readAttributes);
}

std::optional<SecureString> AccessibilityBus::text(const ObjectRef& object) {
    const dbus_int32_t start = 0;
    const dbus_int32_t end = -1;
    return answer<SecureString>(
        call(methodCall(object, textInterface, "GetText", DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end)),
        readText);
}

std::optional<std::int32_t> AccessibilityBus::characterCount(const ObjectRef& object) {
    return answer<std::int32_t>(property(object, textInterface, "CharacterCount"), integer<DBUS_TYPE_INT32>);
}

std::optional<std::string> AccessibilityBus::documentAttribute(const ObjectRef& object,
                                                               const char* attribute) {
    return answer<std::string>(call(methodCall(object, "org.a11y.atspi.Document", "GetAttributeValue",
                                               DBUS_TYPE_STRING, &attribute)),
                               readString);
}

std::optional<Rect> AccessibilityBus::extents(const ObjectRef& object) {
    const dbus_uint32_t screen = 0;
    return answer<Rect>(
        call(methodCall(object, "org.a11y.atspi.Component", "GetExtents", DBUS_TYPE_UINT32, &screen)),
        readExtents);
}

} // namespace cpi::atspi
