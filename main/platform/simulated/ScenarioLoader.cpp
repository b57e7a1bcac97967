// Reads a scenario document into the simulated platform's state. Everything the loader does not
// understand is an error that names its JSON path; nothing is ignored.
#include "ChromePrivateInputPolicy/Text.h"
#include "platform/simulated/SimulatedState.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <initializer_list>
#include <limits>

namespace cpi::simulated {
namespace {

using nlohmann::json;

constexpr std::int64_t maxRepeat = 1000000;
constexpr std::uint64_t tokenIdentifierLimit = 1000;

std::string jsonQuoted(std::string_view text) {
    return json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

// A JSON path, built on the stack as the loader descends and written out only for a message.
class Path {
public:
    Path() = default;
    Path(const Path& parent, std::string_view key) : parent_(&parent), key_(key) {}
    Path(const Path& parent, std::size_t index) : parent_(&parent), index_(index), isIndex_(true) {}

    std::string render() const {
        std::vector<const Path*> segments;
        for (const Path* segment = this; segment != nullptr && segment->parent_ != nullptr;
             segment = segment->parent_) {
            segments.push_back(segment);
        }
        std::string text;
        for (auto segment = segments.rbegin(); segment != segments.rend(); ++segment) {
            const Path& part = **segment;
            if (part.isIndex_) {
                text += "[" + std::to_string(part.index_) + "]";
            } else if (isPlain(part.key_)) {
                text += (text.empty() ? "" : ".") + std::string(part.key_);
            } else {
                text += "[" + jsonQuoted(part.key_) + "]";
            }
        }
        return text;
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

Path member(const Path& path, std::string_view key) {
    return Path(path, key);
}
Path item(const Path& path, std::size_t index) {
    return Path(path, index);
}

[[noreturn]] void fail(const std::string& where, const std::string& problem) {
    throw ScenarioError((where.empty() ? std::string("scenario") : where) + ": " + problem);
}

[[noreturn]] void fail(const Path& path, const std::string& problem) {
    fail(path.render(), problem);
}

const char* kindOf(const json& value) {
    switch (value.type()) {
    case json::value_t::null:
        return "null";
    case json::value_t::boolean:
        return "a boolean";
    case json::value_t::string:
        return "a string";
    case json::value_t::array:
        return "a list";
    case json::value_t::object:
        return "an object";
    default:
        return "a number";
    }
}

[[noreturn]] void wrongKind(const json& value, const Path& path, const char* expected) {
    fail(path, std::string("expected ") + expected + ", found " + kindOf(value));
}

void expectObject(const json& value, const Path& path) {
    if (!value.is_object()) {
        wrongKind(value, path, "an object");
    }
}

// The bytes written as hexadecimal digits, two per byte.
std::string bytesOfHex(const std::string& hex, const Path& path) {
    if (hex.size() % 2 != 0) {
        fail(path, "expected an even number of hexadecimal digits");
    }
    std::optional<std::string> bytes = text::hexDecoded(hex);
    if (!bytes) {
        fail(path, "expected hexadecimal digits");
    }
    return std::move(*bytes);
}

void expectList(const json& value, const Path& path) {
    if (!value.is_array()) {
        wrongKind(value, path, "a list");
    }
}

void checkKeys(const json& object, const Path& path, std::initializer_list<std::string_view> allowed) {
    for (const auto& [key, unused] : object.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            fail(path, "unknown key " + jsonQuoted(key));
        }
    }
}

const json& required(const json& object, const Path& path, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        fail(path, std::string("missing key ") + jsonQuoted(key));
    }
    return *found;
}

const std::string& stringRef(const json& value, const Path& path) {
    if (!value.is_string()) {
        wrongKind(value, path, "a string");
    }
    return value.get_ref<const std::string&>();
}

std::string stringOf(const json& value, const Path& path) {
    if (!value.is_string()) {
        wrongKind(value, path, "a string");
    }
    return value.get<std::string>();
}

bool booleanOf(const json& value, const Path& path) {
    if (!value.is_boolean()) {
        wrongKind(value, path, "a boolean");
    }
    return value.get<bool>();
}

double numberOf(const json& value, const Path& path) {
    if (!value.is_number()) {
        wrongKind(value, path, "a number");
    }
    const double number = value.get<double>();
    if (!std::isfinite(number)) {
        fail(path, "expected a finite number");
    }
    return number;
}

std::int64_t integerOf(const json& value, const Path& path, std::int64_t minimum, std::int64_t maximum) {
    bool inRange = false;
    std::int64_t result = 0;
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        inRange = number <= static_cast<std::uint64_t>(maximum);
        result = inRange ? static_cast<std::int64_t>(number) : 0;
        inRange = inRange && result >= minimum;
    } else if (value.is_number_integer()) {
        result = value.get<std::int64_t>();
        inRange = result >= minimum && result <= maximum;
    } else {
        wrongKind(value, path, "an integer");
    }
    if (!inRange) {
        fail(path, "expected an integer from " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    return result;
}

std::int64_t microsOf(const json& value, const Path& path) {
    const double seconds = numberOf(value, path);
    if (seconds < 0 || seconds > 1e9) {
        fail(path, "expected a number of seconds from 0 to 1e9");
    }
    return std::llround(seconds * 1e6);
}

std::int32_t pidOf(const json& value, const Path& path) {
    return static_cast<std::int32_t>(integerOf(value, path, std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()));
}

AXError errorCodeOf(const json& value, const Path& path) {
    return static_cast<AXError>(integerOf(value, path, std::numeric_limits<std::int32_t>::min(),
                                          std::numeric_limits<std::int32_t>::max()));
}

int signalOf(const json& value, const Path& path) {
    static const std::pair<std::string_view, int> signals[] = {
        {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT},   {"SIGHUP", SIGHUP},   {"SIGPIPE", SIGPIPE},
        {"SIGQUIT", SIGQUIT}, {"SIGUSR1", SIGUSR1}, {"SIGUSR2", SIGUSR2}, {"SIGKILL", SIGKILL}};
    const std::string name = stringOf(value, path);
    for (const auto& [signalName, number] : signals) {
        if (name == signalName) {
            return number;
        }
    }
    fail(path, "unknown signal " + jsonQuoted(name));
}

// Shorthand element keys that stand for one attribute each.
struct Shorthand {
    std::string_view key;
    std::string_view attribute;
};
constexpr Shorthand shorthands[] = {{"role", "AXRole"},
                                    {"subrole", "AXSubrole"},
                                    {"title", "AXTitle"},
                                    {"description", "AXDescription"},
                                    {"value", "AXValue"},
                                    {"url", "AXURL"},
                                    {"focused", "AXFocused"},
                                    {"children", "AXChildren"},
                                    {"windows", "AXWindows"},
                                    {"focusedWindow", "AXFocusedWindow"},
                                    {"mainWindow", "AXMainWindow"}};

// Loading, copying and answering are recursive over the document's nesting; a document nested
// deeper than any scenario needs is refused before any of that (an element inside "children" is
// two levels below its parent).
constexpr std::size_t maxNesting = 2000;

void checkNesting(const json& document) {
    std::vector<std::pair<const json*, std::size_t>> pending{{&document, 1}};
    while (!pending.empty()) {
        const auto [value, depth] = pending.back();
        pending.pop_back();
        if (!value->is_structured()) {
            continue;
        }
        if (depth > maxNesting) {
            fail(Path(), "nested deeper than " + std::to_string(maxNesting) + " levels");
        }
        for (const json& entry : *value) {
            pending.emplace_back(&entry, depth + 1);
        }
    }
}

class Loader {
public:
    explicit Loader(SimulatedPlatform::State& state) : state_(state) {}

    void load(const json& scenario) {
        const Path root;
        expectObject(scenario, root);
        checkKeys(scenario, root,
                  {"description", "trusted", "now", "realTime", "roundTripMicros", "applications",
                   "windowServer", "display", "pasteboard", "events"});
        for (const auto& [key, value] : scenario.items()) {
            const Path path = member(root, key);
            if (key == "description") {
                stringOf(value, path);
            } else if (key == "trusted") {
                state_.trusted = booleanOf(value, path);
            } else if (key == "now") {
                state_.nowMillis = numberOf(value, path);
            } else if (key == "realTime") {
                state_.realTime = booleanOf(value, path);
            } else if (key == "roundTripMicros") {
                state_.roundTripMicros = integerOf(value, path, 0, 1000000000);
            } else if (key == "windowServer") {
                loadWindowServer(value, path, state_.allWindows, state_.onScreenWindows);
            } else if (key == "display") {
                loadDisplay(value, path);
            } else if (key == "pasteboard") {
                loadPasteboard(value, path);
            }
        }
        if (const auto found = scenario.find("applications"); found != scenario.end()) {
            loadApplications(*found, member(root, "applications"));
        }
        if (const auto found = scenario.find("events"); found != scenario.end()) {
            loadEvents(*found, member(root, "events"));
        }
        resolve();
    }

private:
    // -- settings ------------------------------------------------------------------------------

    static void loadWindowServer(const json& value, const Path& path, json& all, json& onScreen) {
        expectObject(value, path);
        checkKeys(value, path, {"all", "onScreen"});
        if (const auto found = value.find("all"); found != value.end()) {
            all = *found;
        }
        if (const auto found = value.find("onScreen"); found != value.end()) {
            onScreen = *found;
        }
    }

    void loadDisplay(const json& value, const Path& path) {
        expectObject(value, path);
        checkKeys(value, path, {"width", "height"});
        if (const auto found = value.find("width"); found != value.end()) {
            state_.display.width = numberOf(*found, member(path, "width"));
        }
        if (const auto found = value.find("height"); found != value.end()) {
            state_.display.height = numberOf(*found, member(path, "height"));
        }
    }

    void loadPasteboard(const json& value, const Path& path) {
        expectObject(value, path);
        checkKeys(value, path, {"changeCount", "failSetString", "failSetData", "failWrite"});
        for (const auto& [key, entry] : value.items()) {
            const Path entryPath = member(path, key);
            if (key == "changeCount") {
                state_.changeCount = integerOf(entry, entryPath, std::numeric_limits<std::int64_t>::min(),
                                               std::numeric_limits<std::int64_t>::max() - 1000000);
            } else if (key == "failSetString") {
                state_.failSetString = booleanOf(entry, entryPath);
            } else if (key == "failSetData") {
                state_.failSetData = booleanOf(entry, entryPath);
            } else {
                state_.failWrite = booleanOf(entry, entryPath);
            }
        }
    }

    // -- applications and elements -------------------------------------------------------------

    void loadApplications(const json& value, const Path& path) {
        expectList(value, path);
        for (std::size_t index = 0; index < value.size(); ++index) {
            const Path itemPath = item(path, index);
            const std::size_t application = loadApplication(value[index], itemPath, true);
            const std::int32_t pid = state_.applications[application].info->pid;
            for (std::size_t other = 0; other < application; ++other) {
                if (state_.applications[other].info->pid == pid) {
                    fail(member(itemPath, "pid"), "duplicate pid " + std::to_string(pid));
                }
            }
        }
    }

    std::size_t loadApplication(const json& value, const Path& path, bool running) {
        expectObject(value, path);
        checkKeys(value, path,
                  {"pid", "bundleIdentifier", "activationPolicy", "terminated", "root", "tokens"});
        auto info = std::make_shared<ApplicationInfo>();
        info->pid = pidOf(required(value, path, "pid"), member(path, "pid"));
        if (const auto found = value.find("bundleIdentifier"); found != value.end() && !found->is_null()) {
            info->bundleIdentifier = stringOf(*found, member(path, "bundleIdentifier"));
        }
        if (const auto found = value.find("activationPolicy"); found != value.end()) {
            info->activationPolicy =
                integerOf(*found, member(path, "activationPolicy"), std::numeric_limits<std::int64_t>::min(),
                          std::numeric_limits<std::int64_t>::max());
        }
        if (const auto found = value.find("terminated"); found != value.end()) {
            info->terminated = booleanOf(*found, member(path, "terminated"));
        }
        const std::size_t application = state_.applications.size();
        const std::string pidName = std::to_string(info->pid);
        state_.applications.push_back(Application{std::move(info), 0, {}, running});

        NodeIndex root = 0;
        if (const auto found = value.find("root"); found != value.end()) {
            root = loadElement(*found, member(path, "root"), pidName, application, std::nullopt, "", false);
        } else {
            root = newNode(pidName, application, std::nullopt);
        }
        state_.applications[application].root = root;

        if (const auto found = value.find("tokens"); found != value.end()) {
            const Path tokensPath = member(path, "tokens");
            expectObject(*found, tokensPath);
            for (const auto& [key, entry] : found->items()) {
                const Path entryPath = member(tokensPath, key);
                const std::uint64_t identifier = tokenIdentifierOf(key, tokensPath);
                if (isReference(entry)) {
                    pendingTokens_.push_back({application, identifier, referenceOf(entry, entryPath),
                                              member(entryPath, "ref").render()});
                } else {
                    state_.applications[application].tokens[identifier] = loadElement(
                        entry, entryPath, pidName + "/tokens/" + key, application, std::nullopt, "", false);
                }
            }
        }
        return application;
    }

    static std::uint64_t tokenIdentifierOf(const std::string& key, const Path& path) {
        const bool digits = !key.empty() && key.size() <= 3 &&
                            std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || (key.size() > 1 && key[0] == '0')) {
            fail(path, "token identifier " + jsonQuoted(key) + " is not a decimal number from 0 to 999");
        }
        const std::uint64_t identifier = std::stoull(key);
        if (identifier >= tokenIdentifierLimit) {
            fail(path, "token identifier " + jsonQuoted(key) + " is not a decimal number from 0 to 999");
        }
        return identifier;
    }

    static bool isReference(const json& value) { return value.is_object() && value.contains("ref"); }

    static std::string referenceOf(const json& value, const Path& path) {
        expectObject(value, path);
        checkKeys(value, path, {"ref"});
        return stringOf(required(value, path, "ref"), member(path, "ref"));
    }

    static Value referenceValue(std::string id, std::string path) {
        return {IdReference{std::move(id), std::move(path)}};
    }

    static Text textOf(const json& value, const Path& path) {
        const std::string& text = stringRef(value, path);
        return Text(text.begin(), text.end());
    }

    NodeIndex newNode(std::string name, std::size_t application, std::optional<NodeIndex> owner) {
        const NodeIndex index = state_.nodes.size();
        Node node;
        node.name = std::move(name);
        node.application = application;
        state_.nodes.push_back(std::move(node));
        if (owner) {
            state_.nodes[*owner].owned.push_back(index);
        }
        return index;
    }

    // One element object (not a reference) and everything written inline under it. The element's
    // keys are visited once; "attributes" comes last so that it cannot repeat a shorthand key.
    NodeIndex loadElement(const json& value, const Path& path, const std::string& pathName,
                          std::size_t application, std::optional<NodeIndex> owner,
                          const std::string& idSuffix, bool inList) {
        expectObject(value, path);
        if (value.contains("ref")) {
            fail(path, "a reference is not allowed here");
        }
        std::string name = pathName;
        if (const auto found = value.find("id"); found != value.end()) {
            const std::string id = stringOf(*found, member(path, "id"));
            if (id.empty()) {
                fail(member(path, "id"), "an id must not be empty");
            }
            name = id + idSuffix;
            if (state_.ids.count(name) != 0) {
                fail(member(path, "id"), "duplicate id " + jsonQuoted(name));
            }
        }
        const NodeIndex node = newNode(name, application, owner);
        if (name != pathName) {
            state_.ids.emplace(name, node);
        }

        const json* attributes = nullptr;
        for (const auto& [key, entry] : value.items()) {
            const Path keyPath = member(path, key);
            if (const Shorthand* shorthand = shorthandFor(key)) {
                Value attribute = loadShorthand(*shorthand, entry, keyPath, node, application, idSuffix);
                state_.nodes[node].attributes.insert_or_assign(std::string(shorthand->attribute),
                                                               std::move(attribute));
            } else if (key == "attributes") {
                attributes = &entry;
            } else if (key == "windowNumber") {
                state_.nodes[node].windowNumber = static_cast<std::uint32_t>(
                    integerOf(entry, keyPath, 0, std::numeric_limits<std::uint32_t>::max()));
            } else if (key == "settable") {
                expectList(entry, keyPath);
                for (std::size_t index = 0; index < entry.size(); ++index) {
                    state_.nodes[node].settable.push_back(stringOf(entry[index], item(keyPath, index)));
                }
            } else if (key == "journalReads") {
                expectList(entry, keyPath);
                for (std::size_t index = 0; index < entry.size(); ++index) {
                    state_.nodes[node].journalReads.push_back(stringOf(entry[index], item(keyPath, index)));
                }
            } else if (key == "setResults") {
                expectObject(entry, keyPath);
                for (const auto& [attribute, code] : entry.items()) {
                    state_.nodes[node].setResults.emplace(attribute,
                                                          errorCodeOf(code, member(keyPath, attribute)));
                }
            } else if (key == "repeat") {
                if (!inList) {
                    fail(keyPath, "only an element in a list may repeat");
                }
            } else if (key != "id") {
                fail(path, "unknown key " + jsonQuoted(key));
            }
        }
        if (attributes != nullptr) {
            const Path attributesPath = member(path, "attributes");
            expectObject(*attributes, attributesPath);
            for (const auto& [attribute, typed] : attributes->items()) {
                const Path attributePath = member(attributesPath, attribute);
                for (const Shorthand& shorthand : shorthands) {
                    if (shorthand.attribute == attribute && value.contains(shorthand.key)) {
                        fail(attributePath, "attribute also given by " + jsonQuoted(shorthand.key));
                    }
                }
                Value loaded = loadTyped(typed, attributePath, true);
                state_.nodes[node].attributes.insert_or_assign(attribute, std::move(loaded));
            }
        }
        return node;
    }

    static const Shorthand* shorthandFor(std::string_view key) {
        for (const Shorthand& shorthand : shorthands) {
            if (shorthand.key == key) {
                return &shorthand;
            }
        }
        return nullptr;
    }

    Value loadShorthand(const Shorthand& shorthand, const json& entry, const Path& keyPath, NodeIndex node,
                        std::size_t application, const std::string& idSuffix) {
        if (shorthand.key == "value") {
            return plainValue(entry, keyPath, "a string, number or boolean");
        }
        if (shorthand.key == "url") {
            return {Url{textOf(entry, keyPath)}};
        }
        if (shorthand.key == "focused") {
            return {booleanOf(entry, keyPath)};
        }
        if (shorthand.key == "children" || shorthand.key == "windows") {
            return loadElementList(entry, keyPath, state_.nodes[node].name + "/" + std::string(shorthand.key),
                                   application, node, idSuffix);
        }
        if (shorthand.key == "focusedWindow" || shorthand.key == "mainWindow") {
            return referenceValue(referenceOf(entry, keyPath), member(keyPath, "ref").render());
        }
        return {textOf(entry, keyPath)};
    }

    // "children" or "windows": elements and references; an element with "repeat" stands for that
    // many copies, whose ids (and the ids inside them) get "#1" ... "#N".
    Value loadElementList(const json& value, const Path& path, const std::string& listName,
                          std::size_t application, NodeIndex parent, const std::string& idSuffix) {
        expectList(value, path);
        ValueList list;
        list.reserve(value.size());
        for (std::size_t index = 0; index < value.size(); ++index) {
            const json& entry = value[index];
            const Path entryPath = item(path, index);
            if (isReference(entry)) {
                list.push_back(
                    referenceValue(referenceOf(entry, entryPath), member(entryPath, "ref").render()));
                continue;
            }
            expectObject(entry, entryPath);
            std::int64_t copies = 1;
            const auto repeat = entry.find("repeat");
            if (repeat != entry.end()) {
                copies = integerOf(*repeat, member(entryPath, "repeat"), 0, maxRepeat);
            }
            for (std::int64_t copy = 1; copy <= copies; ++copy) {
                const std::string suffix =
                    repeat != entry.end() ? idSuffix + "#" + std::to_string(copy) : idSuffix;
                const NodeIndex child =
                    loadElement(entry, entryPath, listName + "/" + std::to_string(list.size()), application,
                                parent, suffix, true);
                list.push_back({ElementRef{child}});
            }
        }
        return {std::move(list)};
    }

    static Value plainValue(const json& value, const Path& path, const char* expected) {
        if (value.is_string()) {
            return {textOf(value, path)};
        }
        if (value.is_boolean()) {
            return {value.get<bool>()};
        }
        if (value.is_number()) {
            return {numberOf(value, path)};
        }
        wrongKind(value, path, expected);
    }

    // A typed value: a plain string, boolean or number, or one of {"url"}, {"element"},
    // {"elements"}, {"list"}, {"error"}, {"noValue"}, {"other"}. Errors and "no value" describe a
    // whole read and so stand only at the top.
    static Value loadTyped(const json& value, const Path& path, bool topLevel) {
        static constexpr const char* expected = "a string, number, boolean or typed value object";
        if (!value.is_object()) {
            return plainValue(value, path, expected);
        }
        if (value.size() != 1) {
            fail(path, "a typed value object has exactly one key");
        }
        const auto first = value.begin();
        const std::string& key = first.key();
        const json& entry = first.value();
        const Path entryPath = member(path, key);
        if (key == "url") {
            return {Url{textOf(entry, entryPath)}};
        }
        if (key == "other") {
            return {Other{textOf(entry, entryPath)}};
        }
        if (key == "element") {
            return referenceValue(stringOf(entry, entryPath), entryPath.render());
        }
        if (key == "elements" || key == "list") {
            expectList(entry, entryPath);
            ValueList items;
            for (std::size_t index = 0; index < entry.size(); ++index) {
                const Path itemPath = item(entryPath, index);
                items.push_back(key == "list"
                                    ? loadTyped(entry[index], itemPath, false)
                                    : referenceValue(stringOf(entry[index], itemPath), itemPath.render()));
            }
            return {std::move(items)};
        }
        if (key == "bytes") {
            // A string of raw bytes (not necessarily UTF-8), repeated: {"hex": "c328", "repeat": N}.
            expectObject(entry, entryPath);
            checkKeys(entry, entryPath, {"hex", "repeat"});
            const std::string hex = stringOf(entry.value("hex", json()), member(entryPath, "hex"));
            std::int64_t repeat = 1;
            if (const auto found = entry.find("repeat"); found != entry.end()) {
                repeat = integerOf(*found, member(entryPath, "repeat"), 0, 16 * 1024 * 1024);
            }
            const std::string bytes = bytesOfHex(hex, member(entryPath, "hex"));
            if (static_cast<std::int64_t>(bytes.size()) * repeat > 64 * 1024 * 1024) {
                fail(entryPath, "more than 64 MiB");
            }
            Text text;
            for (std::int64_t copy = 0; copy < repeat; ++copy) {
                text.append(bytes);
            }
            return {std::move(text)};
        }
        if (key != "error" && key != "noValue") {
            fail(path, "unknown typed value " + jsonQuoted(key));
        }
        if (!topLevel) {
            fail(entryPath, "\"" + key + "\" describes a whole read and cannot stand in a list");
        }
        if (key == "error") {
            const AXError code = errorCodeOf(entry, entryPath);
            if (code == axErrorSuccess) {
                fail(entryPath, "an error code is not 0");
            }
            return {ReadError{code}};
        }
        if (!booleanOf(entry, entryPath)) {
            fail(entryPath, "expected true");
        }
        return {NoValue{}};
    }

    // -- events --------------------------------------------------------------------------------

    void loadEvents(const json& value, const Path& path) {
        expectList(value, path);
        for (std::size_t index = 0; index < value.size(); ++index) {
            loadEvent(value[index], item(path, index));
        }
    }

    void loadEvent(const json& value, const Path& path) {
        expectObject(value, path);
        checkKeys(value, path, {"when", "delay", "do"});
        const std::size_t eventIndex = state_.events.size();
        state_.events.emplace_back();
        loadTrigger(required(value, path, "when"), member(path, "when"), eventIndex);
        if (const auto found = value.find("delay"); found != value.end()) {
            state_.events[eventIndex].delayMicros = microsOf(*found, member(path, "delay"));
        }
        const Path actionsPath = member(path, "do");
        const json& actions = required(value, path, "do");
        expectList(actions, actionsPath);
        for (std::size_t index = 0; index < actions.size(); ++index) {
            loadAction(actions[index], item(actionsPath, index), eventIndex);
        }
    }

    void loadTrigger(const json& value, const Path& path, std::size_t eventIndex) {
        expectObject(value, path);
        Trigger trigger;
        if (value.contains("call")) {
            checkKeys(value, path, {"call", "count", "every"});
            if (value.contains("count") && value.contains("every")) {
                fail(path, "a call trigger has \"count\" or \"every\", not both");
            }
            trigger.kind = Trigger::Kind::call;
            trigger.call = stringOf(value["call"], member(path, "call"));
            if (std::find(std::begin(call::all), std::end(call::all), trigger.call) == std::end(call::all)) {
                fail(member(path, "call"), "unknown platform call " + jsonQuoted(trigger.call));
            }
            if (const auto found = value.find("count"); found != value.end()) {
                trigger.count =
                    integerOf(*found, member(path, "count"), 1, std::numeric_limits<std::int64_t>::max());
            }
            if (const auto found = value.find("every"); found != value.end()) {
                trigger.every =
                    integerOf(*found, member(path, "every"), 1, std::numeric_limits<std::int64_t>::max());
                trigger.count = *trigger.every;
            }
        } else if (value.contains("set")) {
            checkKeys(value, path, {"set"});
            trigger.kind = Trigger::Kind::set;
            const Path setPath = member(path, "set");
            const json& set = value["set"];
            expectObject(set, setPath);
            checkKeys(set, setPath, {"element", "attribute", "value"});
            const Path elementPath = member(setPath, "element");
            std::string id = stringOf(required(set, setPath, "element"), elementPath);
            trigger.attribute = stringOf(required(set, setPath, "attribute"), member(setPath, "attribute"));
            if (const auto found = set.find("value"); found != set.end()) {
                if (!found->is_string() && !found->is_boolean()) {
                    wrongKind(*found, member(setPath, "value"), "a string or boolean");
                }
                trigger.value = *found;
            }
            deferred_.push_back([this, eventIndex, id = std::move(id), where = elementPath.render()] {
                state_.events[eventIndex].when.element = lookup(id, where);
            });
        } else if (value.contains("time")) {
            checkKeys(value, path, {"time"});
            trigger.kind = Trigger::Kind::time;
            trigger.timeMicros = microsOf(value["time"], member(path, "time"));
        } else if (value.empty()) {
            fail(path, "expected a trigger: \"call\", \"set\" or \"time\"");
        } else {
            fail(path, "unknown trigger " + jsonQuoted(value.begin().key()));
        }
        state_.events[eventIndex].when = std::move(trigger);
    }

    void loadAction(const json& value, const Path& path, std::size_t eventIndex) {
        expectObject(value, path);
        if (value.size() != 1) {
            fail(path, "an action has exactly one key");
        }
        const std::string& name = value.begin().key();
        const json& argument = value.begin().value();
        const Path argumentPath = member(path, name);
        const std::size_t actionIndex = state_.events[eventIndex].actions.size();
        Action action;
        auto elementLater = [&](const json& id, const Path& idPath, NodeIndex Action::*field) {
            deferred_.push_back(
                [this, eventIndex, actionIndex, id = stringOf(id, idPath), where = idPath.render(), field] {
                    state_.events[eventIndex].actions[actionIndex].*field = lookup(id, where);
                });
        };
        if (name == "setAttribute" || name == "removeAttribute") {
            const bool set = name == "setAttribute";
            action.kind = set ? Action::Kind::setAttribute : Action::Kind::removeAttribute;
            expectObject(argument, argumentPath);
            if (set) {
                checkKeys(argument, argumentPath, {"element", "attribute", "value"});
            } else {
                checkKeys(argument, argumentPath, {"element", "attribute"});
            }
            elementLater(required(argument, argumentPath, "element"), member(argumentPath, "element"),
                         &Action::element);
            action.attribute =
                stringOf(required(argument, argumentPath, "attribute"), member(argumentPath, "attribute"));
            if (set) {
                action.value =
                    loadTyped(required(argument, argumentPath, "value"), member(argumentPath, "value"), true);
            }
        } else if (name == "addChild") {
            action.kind = Action::Kind::addChild;
            expectObject(argument, argumentPath);
            checkKeys(argument, argumentPath, {"parent", "element", "index"});
            const Path parentPath = member(argumentPath, "parent");
            const std::string parentId = stringOf(required(argument, argumentPath, "parent"), parentPath);
            if (const auto found = argument.find("index"); found != argument.end()) {
                action.index = static_cast<std::size_t>(integerOf(*found, member(argumentPath, "index"), 0,
                                                                  std::numeric_limits<std::int32_t>::max()));
            }
            const std::string pathName = parentId + "/children/" +
                                         (action.index ? std::to_string(*action.index) : std::string("last"));
            action.element =
                loadElement(required(argument, argumentPath, "element"), member(argumentPath, "element"),
                            pathName, 0, std::nullopt, "", false);
            deferred_.push_back([this, eventIndex, actionIndex, parentId, where = parentPath.render()] {
                Action& added = state_.events[eventIndex].actions[actionIndex];
                added.parent = lookup(parentId, where);
                setApplication(added.element, state_.nodes[added.parent].application);
                state_.nodes[added.parent].owned.push_back(added.element);
            });
        } else if (name == "remove") {
            action.kind = Action::Kind::remove;
            elementLater(argument, argumentPath, &Action::element);
        } else if (name == "terminate" || name == "quit") {
            action.kind = name == "quit" ? Action::Kind::quit : Action::Kind::terminate;
            action.pid = pidOf(argument, argumentPath);
            pidChecks_.emplace_back(action.pid, argumentPath.render());
        } else if (name == "launch") {
            action.kind = Action::Kind::launch;
            action.application = loadApplication(argument, argumentPath, false);
        } else if (name == "pasteboardCopy") {
            action.kind = Action::Kind::pasteboardCopy;
            action.text = stringOf(argument, argumentPath);
        } else if (name == "signal") {
            action.kind = Action::Kind::signal;
            action.signal = signalOf(argument, argumentPath);
        } else if (name == "windowServer") {
            action.kind = Action::Kind::windowServer;
            json all;
            json onScreen;
            expectObject(argument, argumentPath);
            loadWindowServer(argument, argumentPath, all, onScreen);
            if (argument.contains("all")) {
                action.allWindows = std::move(all);
            }
            if (argument.contains("onScreen")) {
                action.onScreenWindows = std::move(onScreen);
            }
        } else if (name == "setWindowNumber") {
            action.kind = Action::Kind::setWindowNumber;
            expectObject(argument, argumentPath);
            checkKeys(argument, argumentPath, {"element", "windowNumber"});
            elementLater(required(argument, argumentPath, "element"), member(argumentPath, "element"),
                         &Action::element);
            // null: from now on the element has no number (the call fails).
            const json& number = required(argument, argumentPath, "windowNumber");
            if (!number.is_null()) {
                action.windowNumber =
                    static_cast<std::uint32_t>(integerOf(number, member(argumentPath, "windowNumber"), 0,
                                                         std::numeric_limits<std::uint32_t>::max()));
            }
        } else {
            fail(path, "unknown action " + jsonQuoted(name));
        }
        state_.events[eventIndex].actions.push_back(std::move(action));
    }

    void setApplication(NodeIndex node, std::size_t application) {
        state_.nodes[node].application = application;
        for (const NodeIndex owned : state_.nodes[node].owned) {
            setApplication(owned, application);
        }
    }

    // -- references ----------------------------------------------------------------------------

    NodeIndex lookup(const std::string& id, const std::string& path) const {
        const auto found = state_.ids.find(id);
        if (found == state_.ids.end()) {
            fail(path, "no element with id " + jsonQuoted(id));
        }
        return found->second;
    }

    void resolveValue(Value& value) const {
        if (const auto* reference = std::get_if<IdReference>(&value.value)) {
            value.value = ElementRef{lookup(reference->id, reference->path)};
        }
        if (auto* items = std::get_if<ValueList>(&value.value)) {
            for (Value& entry : *items) {
                resolveValue(entry);
            }
        }
    }

    void resolve() {
        for (Node& node : state_.nodes) {
            for (auto& [name, value] : node.attributes) {
                resolveValue(value);
            }
        }
        for (const PendingToken& token : pendingTokens_) {
            state_.applications[token.application].tokens[token.identifier] = lookup(token.id, token.path);
        }
        for (const auto& step : deferred_) {
            step();
        }
        for (Event& event : state_.events) {
            for (Action& action : event.actions) {
                resolveValue(action.value);
            }
            if (event.when.kind == Trigger::Kind::time) {
                event.triggered = true;
                event.dueMicros = event.when.timeMicros + event.delayMicros;
            }
        }
        for (const auto& [pid, path] : pidChecks_) {
            const bool known = std::any_of(
                state_.applications.begin(), state_.applications.end(),
                [wanted = pid](const Application& application) { return application.info->pid == wanted; });
            if (!known) {
                fail(path, "no application with pid " + std::to_string(pid));
            }
        }
    }

    struct PendingToken {
        std::size_t application;
        std::uint64_t identifier;
        std::string id;
        std::string path;
    };

    SimulatedPlatform::State& state_;
    std::vector<PendingToken> pendingTokens_;
    std::vector<std::function<void()>> deferred_;
    std::vector<std::pair<std::int32_t, std::string>> pidChecks_;
};

} // namespace

void loadScenario(const nlohmann::json& scenario, SimulatedPlatform::State& state) {
    checkNesting(scenario);
    Loader(state).load(scenario);
}

} // namespace cpi::simulated
