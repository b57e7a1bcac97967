// The live state behind SimulatedPlatform: the element graph, the applications, the window server,
// the pasteboard, the events, the counters and the journal. Built by the scenario loader and used
// under `State::mutex` by the platform calls.
#pragma once

#include "platform/Platform.h"
#include "platform/SecureMemory.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cpi::simulated {

using NodeIndex = std::size_t;

// Text of an attribute value. It may hold the secret once the tool has written it, so it is wiped
// when it goes, also where it is short enough to live inside the object.
struct Text : SecureString {
    using SecureString::SecureString;
    explicit Text(const SecureString& text) : SecureString(text) {}
    Text(const Text&) = default;
    Text(Text&&) noexcept = default;
    Text& operator=(const Text&) = default;
    Text& operator=(Text&&) noexcept = default;
    ~Text() { wipeContents(*this); }
};

struct Url {
    Text text;
};

// A value of a kind the tool never expects, with its description.
struct Other {
    Text description;
};

struct ElementRef {
    NodeIndex node = 0;
};

// While loading: an element named by its id, and where that was written.
struct IdReference {
    std::string id;
    std::string path;
};

// A read that fails with `code`.
struct ReadError {
    AXError code = 0;
};

// A read that succeeds without a value.
struct NoValue {};

struct Value;
using ValueList = std::vector<Value>;

// One attribute value as the scenario states it.
struct Value {
    std::variant<NoValue, Text, bool, double, Url, ElementRef, ValueList, ReadError, Other, IdReference>
        value;
};

struct Node {
    std::string name; // the id, or the path from the application's pid
    std::size_t application = 0;
    std::vector<NodeIndex> owned; // elements written inline under this one
    bool removed = false;
    std::map<std::string, Value, std::less<>> attributes;
    std::optional<std::uint32_t> windowNumber;
    std::vector<std::string> settable;
    std::map<std::string, AXError, std::less<>> setResults;
    std::vector<std::string> journalReads; // attributes whose every read request is journalled
    // false: a set of "AXValue" with the secret is accepted but the value never reaches the field
    bool valueArrives = true;
};

// The element tree's nodes. A copy of the state shares every node with the original until one of
// them changes it: reads go through `operator[]`, changes through `write`, which first gives this
// store a node of its own when the node is shared. The fuzz targets copy one loaded scenario for
// every run; a run then copies only the few nodes it changes.
class NodeStore {
public:
    const Node& operator[](NodeIndex index) const { return *nodes_[index]; }
    std::size_t size() const { return nodes_.size(); }
    NodeIndex add(Node node) {
        nodes_.push_back(std::make_shared<Node>(std::move(node)));
        return nodes_.size() - 1;
    }
    Node& write(NodeIndex index) {
        std::shared_ptr<Node>& node = nodes_[index];
        // A store is only used under its state's mutex; copies are made under the original's.
        if (node.use_count() > 1) {
            node = std::make_shared<Node>(*node);
        }
        return *node;
    }
    // `change` made to the node and to every node written inline under it.
    template <typename Change>
    void writeTree(NodeIndex index, const Change& change) {
        change(write(index));
        for (const NodeIndex owned : nodes_[index]->owned) {
            writeTree(owned, change);
        }
    }

private:
    std::vector<std::shared_ptr<Node>> nodes_;
};

// What NSRunningApplication reports; shared with the handles given to the tool, which read it live.
struct ApplicationInfo {
    std::int32_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    std::int64_t activationPolicy = 0;
    std::atomic<bool> terminated{false};

    ApplicationInfo() = default;
    ApplicationInfo(const ApplicationInfo& other)
        : pid(other.pid), bundleIdentifier(other.bundleIdentifier), activationPolicy(other.activationPolicy),
          terminated(other.terminated.load()) {}
    ApplicationInfo& operator=(const ApplicationInfo&) = delete;
};

// The facts are live and shared with the handles given to the tool, so a copy of the state gets
// facts of its own rather than sharing them.
struct LiveInfo : std::shared_ptr<ApplicationInfo> {
    LiveInfo(std::shared_ptr<ApplicationInfo> info = nullptr) : shared_ptr(std::move(info)) {}
    LiveInfo(const LiveInfo& other)
        : shared_ptr(other ? std::make_shared<ApplicationInfo>(*other) : nullptr) {}
    LiveInfo(LiveInfo&&) noexcept = default;
    LiveInfo& operator=(const LiveInfo& other) { return *this = LiveInfo(other); }
    LiveInfo& operator=(LiveInfo&&) noexcept = default;
};

struct Application {
    LiveInfo info;
    NodeIndex root = 0;
    std::map<std::uint64_t, NodeIndex> tokens;
    bool running = false; // false before a launch and after a quit
};

struct Trigger {
    enum class Kind { call, set, time };
    Kind kind = Kind::time;
    std::string call;
    std::int64_t count = 1;
    std::optional<std::int64_t> every; // a call trigger that goes off again at every multiple
    NodeIndex element = 0;
    std::string attribute;
    std::optional<nlohmann::json> value; // string or boolean
    std::int64_t timeMicros = 0;
};

struct Action {
    enum class Kind {
        setAttribute,
        removeAttribute,
        addChild,
        remove,
        terminate,
        quit,
        launch,
        pasteboardCopy,
        signal,
        windowServer,
        setWindowNumber
    };
    Kind kind = Kind::remove;
    NodeIndex element = 0; // setAttribute, removeAttribute, remove, addChild (the new child)
    NodeIndex parent = 0;  // addChild
    std::optional<std::size_t> index;
    std::string attribute;
    Value value;
    std::int32_t pid = 0;
    std::size_t application = 0; // launch
    std::string text;            // pasteboardCopy
    int signal = 0;
    std::optional<nlohmann::json> allWindows; // windowServer
    std::optional<nlohmann::json> onScreenWindows;
    std::optional<std::uint32_t> windowNumber; // setWindowNumber; absent: the element has none
};

struct Event {
    Trigger when;
    std::int64_t delayMicros = 0;
    std::vector<Action> actions;
    bool triggered = false;
    std::int64_t dueMicros = 0;
    bool fired = false;
};

// One representation of a pasteboard item: its type and its value as the journal writes it.
struct Representation {
    std::string type;
    SecureString value;
};
using PasteboardItemContents = std::vector<Representation>;

// The names under which platform calls are counted, and which call triggers may name.
namespace call {
inline constexpr std::string_view isProcessTrusted = "AXIsProcessTrusted";
inline constexpr std::string_view createApplication = "AXUIElementCreateApplication";
inline constexpr std::string_view copyAttributeValue = "AXUIElementCopyAttributeValue";
inline constexpr std::string_view copyMultipleAttributeValues = "AXUIElementCopyMultipleAttributeValues";
inline constexpr std::string_view setAttributeValue = "AXUIElementSetAttributeValue";
inline constexpr std::string_view isAttributeSettable = "AXUIElementIsAttributeSettable";
inline constexpr std::string_view getWindow = "_AXUIElementGetWindow";
inline constexpr std::string_view createWithRemoteToken = "_AXUIElementCreateWithRemoteToken";
inline constexpr std::string_view equal = "CFEqual";
inline constexpr std::string_view applicationsWithBundleIdentifier =
    "runningApplicationsWithBundleIdentifier";
inline constexpr std::string_view applicationWithProcessIdentifier =
    "runningApplicationWithProcessIdentifier";
inline constexpr std::string_view windowList = "CGWindowListCopyWindowInfo";
inline constexpr std::string_view displayBounds = "CGDisplayBounds";
inline constexpr std::string_view createString = "NSMutableString.initWithBytes";
inline constexpr std::string_view createPasteboardItem = "NSPasteboardItem.init";
inline constexpr std::string_view itemSetString = "NSPasteboardItem.setString";
inline constexpr std::string_view itemSetData = "NSPasteboardItem.setData";
inline constexpr std::string_view clearContents = "NSPasteboard.clearContents";
inline constexpr std::string_view writeObjects = "NSPasteboard.writeObjects";
inline constexpr std::string_view changeCount = "NSPasteboard.changeCount";
inline constexpr std::string_view currentTime = "NSDate.timeIntervalSince1970";
inline constexpr std::string_view sleep = "sleep";

inline constexpr std::string_view all[] = {isProcessTrusted,
                                           createApplication,
                                           copyAttributeValue,
                                           copyMultipleAttributeValues,
                                           setAttributeValue,
                                           isAttributeSettable,
                                           getWindow,
                                           createWithRemoteToken,
                                           equal,
                                           applicationsWithBundleIdentifier,
                                           applicationWithProcessIdentifier,
                                           windowList,
                                           displayBounds,
                                           createString,
                                           createPasteboardItem,
                                           itemSetString,
                                           itemSetData,
                                           clearContents,
                                           writeObjects,
                                           changeCount,
                                           currentTime,
                                           sleep};
} // namespace call

inline constexpr const char* plainTextType = "public.utf8-plain-text";

} // namespace cpi::simulated

namespace cpi {

namespace simulated {
// A mutex that a copy of the state does not share: the copy starts with its own, unlocked.
struct StateMutex : std::mutex {
    StateMutex() = default;
    StateMutex(const StateMutex&) : std::mutex() {}
    StateMutex& operator=(const StateMutex&) = delete;
};
} // namespace simulated

// Copyable as it is: a copy shares nothing with the original that either could change (see
// StateMutex, LiveInfo and NodeStore).
struct SimulatedPlatform::State {
    mutable simulated::StateMutex mutex;

    // Scenario settings.
    bool trusted = true;
    double nowMillis = 1765000000000.0;
    bool realTime = false;
    std::int64_t roundTripMicros = 0;
    Rect display{0, 0, 1728, 1117};

    // Accessibility.
    simulated::NodeStore nodes;
    std::vector<simulated::Application> applications;

    // Window server.
    nlohmann::json allWindows = nlohmann::json::array();
    nlohmann::json onScreenWindows = nlohmann::json::array();

    // Pasteboard.
    std::int64_t changeCount = 0;
    bool failSetString = false;
    bool failSetData = false;
    bool failWrite = false;
    std::vector<simulated::PasteboardItemContents> pasteboard;

    // Events, counters and the clock.
    std::vector<simulated::Event> events;
    std::map<std::string, std::int64_t, std::less<>> calls;
    std::int64_t roundTrips = 0;
    std::int64_t virtualMicros = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::optional<int> exitStatus;
    bool preparedForStop = false; // the stop path asked for its short deadlines

    int journalFd = -1;
};

namespace simulated {
// Reads `scenario` into `state`; throws ScenarioError naming the JSON path of the first problem.
void loadScenario(const nlohmann::json& scenario, SimulatedPlatform::State& state);
} // namespace simulated

} // namespace cpi
