// The Linux accessibility bus (AT-SPI over D-Bus), as the Linux backend reads it: the applications
// the registry lists, one application's elements in one Cache call, and single reads of an
// element's role, states, children, attributes, text, document attributes and extents.
//
// Every call is one synchronous round trip with the bus's default timeout. A call that fails, or
// whose answer is not of the documented shape, gives nothing; nothing here writes to standard
// output or error (GLib's and libatspi's messages are dropped).
#pragma once

#include "platform/Platform.h"
#include "platform/SecureMemory.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

typedef struct DBusConnection DBusConnection;
typedef struct DBusMessage DBusMessage;

namespace cpi::atspi {

// A D-Bus message this process holds a reference to, released with it.
struct MessageRelease {
    void operator()(DBusMessage* message) const noexcept;
};
using Message = std::unique_ptr<DBusMessage, MessageRelease>;

// An element's identity on the bus: the connection that serves it and its object path.
struct ObjectRef {
    std::string bus;
    std::string path;
    friend bool operator==(const ObjectRef&, const ObjectRef&) = default;
    friend auto operator<=>(const ObjectRef&, const ObjectRef&) = default;
};

inline constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";

// AT-SPI state bits (AtspiStateType), two 32-bit words.
using StateSet = std::array<std::uint32_t, 2>;
bool hasState(const StateSet& states, unsigned state);

// From now on every bus call of the process waits at most 250 ms for its answer instead of the
// bus's default (25 s), so that the stop path's restore cannot keep the process long. Safe from
// any thread; there is no way back.
void useStopDeadline() noexcept;

// One element as the Cache interface lists it.
struct CachedElement {
    ObjectRef object;
    ObjectRef parent;
    std::int32_t indexInParent = -1;
    std::int32_t childCount = 0;
    std::string name;
    std::uint32_t role = 0;
    std::string description;
    StateSet states{};
};

// The elements of a reply to the Cache interface's GetItems; nothing when the reply has another
// layout.
std::optional<std::vector<CachedElement>> cachedElementsIn(DBusMessage* reply);

// The reads a look at one application makes: the Cache's list of its elements, and single reads
// of one element for what the list leaves out. The bus serves them; a test serves recorded ones.
class ElementReads {
public:
    virtual ~ElementReads() = default;
    virtual std::optional<std::vector<CachedElement>> cachedElements(const std::string& bus) = 0;
    virtual std::optional<std::uint32_t> role(const ObjectRef& object) = 0;
    virtual std::optional<std::string> name(const ObjectRef& object) = 0;
    virtual std::optional<std::string> description(const ObjectRef& object) = 0;
    virtual std::optional<StateSet> states(const ObjectRef& object) = 0;
    virtual std::optional<ObjectRef> parent(const ObjectRef& object) = 0;
    virtual std::optional<std::vector<ObjectRef>> children(const ObjectRef& object) = 0;
    virtual std::optional<std::map<std::string, std::string>> attributes(const ObjectRef& object) = 0;
    // Component extents in screen coordinates.
    virtual std::optional<Rect> extents(const ObjectRef& object) = 0;
};

class AccessibilityBus final : public ElementReads {
public:
    // Connects to the accessibility bus; null when there is none to be had.
    static std::unique_ptr<AccessibilityBus> connect();
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    // The session bus's org.a11y.Status IsEnabled (false when it cannot be read).
    static bool accessibilityEnabled();

    // The applications the registry lists.
    std::vector<ObjectRef> applications();
    std::optional<std::uint32_t> processIdentifier(const std::string& bus);
    bool isConnected(const std::string& bus);

    // Every element the application serves, in one round trip.
    std::optional<std::vector<CachedElement>> cachedElements(const std::string& bus) override;

    std::optional<std::uint32_t> role(const ObjectRef& object) override;
    std::optional<std::string> name(const ObjectRef& object) override;
    std::optional<std::string> description(const ObjectRef& object) override;
    std::optional<StateSet> states(const ObjectRef& object) override;
    std::optional<ObjectRef> parent(const ObjectRef& object) override;
    std::optional<std::vector<ObjectRef>> children(const ObjectRef& object) override;
    std::optional<std::map<std::string, std::string>> attributes(const ObjectRef& object) override;
    // The Text interface: the whole text (kept in wiping memory: a field may hold a secret) and the
    // character count.
    std::optional<SecureString> text(const ObjectRef& object);
    std::optional<std::int32_t> characterCount(const ObjectRef& object);
    std::optional<std::string> documentAttribute(const ObjectRef& object, const char* attribute);
    std::optional<Rect> extents(const ObjectRef& object) override;

    // Round trips made so far (for the benchmark).
    std::uint64_t roundTrips() const { return roundTrips_; }

private:
    explicit AccessibilityBus(DBusConnection* connection) : connection_(connection) {}
    // Sends `request` and waits for its reply; nothing when there is no request or no reply.
    Message call(Message request);
    Message property(const ObjectRef& object, const char* interface, const char* name);
    // A call to the bus itself about a connection's name.
    Message askBus(const char* method, const std::string& name);

    DBusConnection* connection_;
    std::uint64_t roundTrips_ = 0;
    std::set<std::string> announcedTo_;
};

} // namespace cpi::atspi
