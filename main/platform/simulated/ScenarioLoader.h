// Reading a scenario document: the loader shared by the elements (ScenarioLoader.cpp) and the
// events (EventLoader.cpp), and the readers of JSON values that name the path of every problem.
// Everything the loader does not understand is an error that names its JSON path; nothing is
// ignored.
#pragma once

#include "platform/simulated/SimulatedState.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <unordered_map>
#include <utility>

namespace cpi::simulated::loading {

using nlohmann::json;

inline std::string jsonQuoted(std::string_view text) {
    return json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

// A JSON path, built on the stack as the loader descends and written out only for a message.
class Path {
public:
    Path() = default; // the document itself
    // The member `key` of `parent`, and the item `index` of `parent`.
    Path(const Path& parent, std::string_view key) : parent_(&parent), key_(key) {}
    Path(const Path& parent, std::size_t index) : parent_(&parent), index_(index), isIndex_(true) {}

    std::string render() const {
        if (parent_ == nullptr) {
            return "";
        }
        const std::string text = parent_->render();
        if (isIndex_) {
            return text + "[" + std::to_string(index_) + "]";
        }
        if (isPlain(key_)) {
            return text + (text.empty() ? "" : ".") + std::string(key_);
        }
        return text + "[" + jsonQuoted(key_) + "]";
    }

private:
    static bool isPlain(std::string_view key) {
        return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
        });
    }

    const Path* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isIndex_ = false;
};

[[noreturn]] inline void fail(const std::string& where, const std::string& problem) {
    throw ScenarioError((where.empty() ? std::string("scenario") : where) + ": " + problem);
}

[[noreturn]] inline void fail(const Path& path, const std::string& problem) {
    fail(path.render(), problem);
}

inline const char* kindOf(const json& value) {
    static constexpr std::pair<json::value_t, const char*> kinds[] = {{json::value_t::null, "null"},
                                                                      {json::value_t::boolean, "a boolean"},
                                                                      {json::value_t::string, "a string"},
                                                                      {json::value_t::array, "a list"},
                                                                      {json::value_t::object, "an object"}};
    const auto* found = std::ranges::find(kinds, value.type(), &std::pair<json::value_t, const char*>::first);
    return found != std::end(kinds) ? found->second : "a number";
}

[[noreturn]] inline void wrongKind(const json& value, const Path& path, const char* expected) {
    fail(path, std::string("expected ") + expected + ", found " + kindOf(value));
}

// `value`, when `isKind`; otherwise the error that it is not `expected`.
inline const json& expectKind(const json& value, const Path& path, bool isKind, const char* expected) {
    if (!isKind) {
        wrongKind(value, path, expected);
    }
    return value;
}

inline void expectObject(const json& value, const Path& path) {
    expectKind(value, path, value.is_object(), "an object");
}

inline void expectList(const json& value, const Path& path) {
    expectKind(value, path, value.is_array(), "a list");
}

// `value` must be an object whose keys are all among `allowed`.
inline void expectObject(const json& value, const Path& path,
                         std::initializer_list<std::string_view> allowed) {
    expectObject(value, path);
    for (const auto& [key, unused] : value.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            fail(path, "unknown key " + jsonQuoted(key));
        }
    }
}

inline const json& required(const json& object, const Path& path, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        fail(path, std::string("missing key ") + jsonQuoted(key));
    }
    return *found;
}

// `visit` given each item of the list `value` and the item's path.
template <typename Visit>
void forEachItem(const json& value, const Path& path, Visit visit) {
    expectList(value, path);
    for (std::size_t index = 0; index < value.size(); ++index) {
        visit(value[index], Path(path, index));
    }
}

// When `object` has the member `key`: `target` set to what `read` makes of it (given its path).
template <typename Target, typename Read>
void readMember(const json& object, const Path& path, std::string_view key, Target& target, Read read) {
    if (const auto found = object.find(key); found != object.end()) {
        target = read(*found, Path(path, key));
    }
}

inline const std::string& stringOf(const json& value, const Path& path) {
    return expectKind(value, path, value.is_string(), "a string").get_ref<const std::string&>();
}

inline bool booleanOf(const json& value, const Path& path) {
    return expectKind(value, path, value.is_boolean(), "a boolean").get<bool>();
}

inline double numberOf(const json& value, const Path& path) {
    const double number = expectKind(value, path, value.is_number(), "a number").get<double>();
    if (!std::isfinite(number)) {
        fail(path, "expected a finite number");
    }
    return number;
}

inline std::int64_t integerOf(const json& value, const Path& path, std::int64_t minimum,
                              std::int64_t maximum) {
    expectKind(value, path, value.is_number_integer(), "an integer");
    // An unsigned number beyond the signed range is above every maximum.
    const bool fits = !value.is_number_unsigned() || std::in_range<std::int64_t>(value.get<std::uint64_t>());
    const std::int64_t result = fits ? value.get<std::int64_t>() : 0;
    if (!fits || result < minimum || result > maximum) {
        fail(path, "expected an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    return result;
}

// A reader of integers from `minimum` to `maximum`, for readMember.
inline auto integerIn(std::int64_t minimum, std::int64_t maximum = std::numeric_limits<std::int64_t>::max()) {
    return [=](const json& value, const Path& path) { return integerOf(value, path, minimum, maximum); };
}

// A pid or an error code (AXError is 32 bits as well).
inline std::int32_t int32Of(const json& value, const Path& path) {
    return static_cast<std::int32_t>(integerOf(value, path, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()));
}

struct Shorthand;

// Loads one scenario into the state. References by id are resolved once everything is loaded.
class Loader {
public:
    explicit Loader(SimulatedPlatform::State& state) : state_(state) {}
    void load(const json& scenario);

private:
    // Settings, applications and elements (ScenarioLoader.cpp).
    // The snapshots given ("all", "onScreen") into `all` and `onScreen` (each a json or an optional).
    template <typename Snapshot>
    static void loadWindowServer(const json& value, const Path& path, Snapshot& all, Snapshot& onScreen) {
        expectObject(value, path, {"all", "onScreen"});
        const auto asGiven = [](const json& snapshot, const Path&) { return snapshot; };
        readMember(value, path, "all", all, asGiven);
        readMember(value, path, "onScreen", onScreen, asGiven);
    }
    void loadDisplay(const json& value, const Path& path);
    void loadPasteboard(const json& value, const Path& path);
    void loadApplications(const json& value, const Path& path);
    std::size_t loadApplication(const json& value, const Path& path, bool running);
    static bool isReference(const json& value) { return value.is_object() && value.contains("ref"); }
    // {"ref": id}, with the path of its id.
    static IdReference referenceOf(const json& value, const Path& path);
    NodeIndex newNode(std::string name, std::size_t application, std::optional<NodeIndex> owner);
    // One element object (not a reference) and everything written inline under it. The element's
    // keys are visited once; "attributes" comes last so that it cannot repeat a shorthand key.
    NodeIndex loadElement(const json& value, const Path& path, const std::string& pathName,
                          std::size_t application, std::optional<NodeIndex> owner,
                          const std::string& idSuffix, bool inList);
    Value loadShorthand(const Shorthand& shorthand, const json& entry, const Path& keyPath, NodeIndex node,
                        std::size_t application, const std::string& idSuffix);
    // "children" or "windows": elements and references; an element with "repeat" stands for that
    // many copies, whose ids (and the ids inside them) get "#1" ... "#N".
    Value loadElementList(const json& value, const Path& path, const std::string& listName,
                          std::size_t application, NodeIndex parent, const std::string& idSuffix);
    // A typed value: a plain string, boolean or number, or one of {"url"}, {"element"},
    // {"elements"}, {"list"}, {"error"}, {"noValue"}, {"other"}. Errors and "no value" describe a
    // whole read and so stand only at the top.
    static Value loadTyped(const json& value, const Path& path, bool topLevel);

    // Events (EventLoader.cpp).
    void loadEvent(const json& value, const Path& path);
    void loadTrigger(const json& value, const Path& path, std::size_t eventIndex);
    void loadAction(const json& value, const Path& path, std::size_t eventIndex);

    // References (ScenarioLoader.cpp).
    NodeIndex lookup(const std::string& id, const std::string& path) const;
    void resolveValue(Value& value) const;
    void resolve();

    struct PendingToken {
        std::size_t application;
        std::uint64_t identifier;
        IdReference reference;
    };

    SimulatedPlatform::State& state_;
    std::unordered_map<std::string, NodeIndex> ids_;
    std::vector<PendingToken> pendingTokens_;
    std::vector<std::function<void()>> deferred_;
    std::vector<std::pair<std::int32_t, std::string>> pidChecks_;
};

} // namespace cpi::simulated::loading
