// Loading a scenario: the settings, the applications with their elements and attribute values, and
// the resolution of references by id once everything is loaded.
#include "platform/simulated/ScenarioLoader.h"

#include "ChromePrivateInputPolicy/Text.h"

namespace cpi::simulated {
namespace loading {

// Shorthand element keys that stand for one attribute each.
struct Shorthand {
    std::string_view key;
    std::string_view attribute;
};

namespace {

constexpr std::int64_t maxRepeat = 1000000;

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

std::uint64_t tokenIdentifierOf(const std::string& key, const Path& path) {
    const bool digits = !key.empty() && key.size() <= 3 &&
                        std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || (key.size() > 1 && key[0] == '0')) {
        fail(path, "token identifier " + jsonQuoted(key) + " is not a decimal number from 0 to 999");
    }
    return std::stoull(key);
}

Text textOf(const json& value, const Path& path) {
    const std::string& text = stringOf(value, path);
    return Text(text.begin(), text.end());
}

const Shorthand* shorthandFor(std::string_view key) {
    const Shorthand* found = std::ranges::find(shorthands, key, &Shorthand::key);
    return found != std::end(shorthands) ? found : nullptr;
}

Value plainValue(const json& value, const Path& path, const char* expected) {
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

} // namespace

void Loader::load(const json& scenario) {
    const Path root;
    expectObject(scenario, root,
                 {"description", "trusted", "now", "realTime", "roundTripMicros", "applications",
                  "windowServer", "display", "pasteboard", "events"});
    for (const auto& [key, value] : scenario.items()) {
        const Path path(root, key);
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
        loadApplications(*found, Path(root, "applications"));
    }
    if (const auto found = scenario.find("events"); found != scenario.end()) {
        forEachItem(*found, Path(root, "events"),
                    [this](const json& event, const Path& eventPath) { loadEvent(event, eventPath); });
    }
    resolve();
}

void Loader::loadDisplay(const json& value, const Path& path) {
    expectObject(value, path, {"width", "height"});
    readMember(value, path, "width", state_.display.width, numberOf);
    readMember(value, path, "height", state_.display.height, numberOf);
}

void Loader::loadPasteboard(const json& value, const Path& path) {
    expectObject(value, path, {"changeCount", "failSetString", "failSetData", "failWrite"});
    // In the document's key order, so that the first problem there is the one reported.
    readMember(value, path, "changeCount", state_.changeCount,
               integerIn(std::numeric_limits<std::int64_t>::min(),
                         std::numeric_limits<std::int64_t>::max() - 1000000));
    readMember(value, path, "failSetData", state_.failSetData, booleanOf);
    readMember(value, path, "failSetString", state_.failSetString, booleanOf);
    readMember(value, path, "failWrite", state_.failWrite, booleanOf);
}

void Loader::loadApplications(const json& value, const Path& path) {
    forEachItem(value, path, [this](const json& entry, const Path& itemPath) {
        const std::size_t application = loadApplication(entry, itemPath, true);
        const std::int32_t pid = state_.applications[application].info->pid;
        if (std::any_of(state_.applications.begin(), state_.applications.begin() + application,
                        [pid](const Application& earlier) { return earlier.info->pid == pid; })) {
            fail(Path(itemPath, "pid"), "duplicate pid " + std::to_string(pid));
        }
    });
}

std::size_t Loader::loadApplication(const json& value, const Path& path, bool running) {
    expectObject(value, path,
                 {"pid", "bundleIdentifier", "activationPolicy", "terminated", "root", "tokens"});
    auto info = std::make_shared<ApplicationInfo>();
    info->pid = int32Of(required(value, path, "pid"), Path(path, "pid"));
    if (const auto found = value.find("bundleIdentifier"); found != value.end() && !found->is_null()) {
        info->bundleIdentifier = stringOf(*found, Path(path, "bundleIdentifier"));
    }
    readMember(value, path, "activationPolicy", info->activationPolicy,
               integerIn(std::numeric_limits<std::int64_t>::min()));
    readMember(value, path, "terminated", info->terminated, booleanOf);
    const std::size_t application = state_.applications.size();
    const std::string pidName = std::to_string(info->pid);
    state_.applications.push_back(Application{std::move(info), 0, {}, running});

    const auto root = value.find("root");
    state_.applications[application].root =
        root != value.end()
            ? loadElement(*root, Path(path, "root"), pidName, application, std::nullopt, "", false)
            : newNode(pidName, application, std::nullopt);

    if (const auto found = value.find("tokens"); found != value.end()) {
        const Path tokensPath(path, "tokens");
        expectObject(*found, tokensPath);
        for (const auto& [key, entry] : found->items()) {
            const Path entryPath(tokensPath, key);
            const std::uint64_t identifier = tokenIdentifierOf(key, tokensPath);
            if (isReference(entry)) {
                pendingTokens_.push_back({application, identifier, referenceOf(entry, entryPath)});
            } else {
                state_.applications[application].tokens[identifier] = loadElement(
                    entry, entryPath, pidName + "/tokens/" + key, application, std::nullopt, "", false);
            }
        }
    }
    return application;
}

IdReference Loader::referenceOf(const json& value, const Path& path) {
    expectObject(value, path, {"ref"});
    const Path idPath(path, "ref");
    return {stringOf(required(value, path, "ref"), idPath), idPath.render()};
}

NodeIndex Loader::newNode(std::string name, std::size_t application, std::optional<NodeIndex> owner) {
    Node node;
    node.name = std::move(name);
    node.application = application;
    const NodeIndex index = state_.nodes.add(std::move(node));
    if (owner) {
        state_.nodes.write(*owner).owned.push_back(index);
    }
    return index;
}

NodeIndex Loader::loadElement(const json& value, const Path& path, const std::string& pathName,
                              std::size_t application, std::optional<NodeIndex> owner,
                              const std::string& idSuffix, bool inList) {
    expectObject(value, path);
    if (value.contains("ref")) {
        fail(path, "a reference is not allowed here");
    }
    std::string name = pathName;
    if (const auto found = value.find("id"); found != value.end()) {
        const std::string id = stringOf(*found, Path(path, "id"));
        if (id.empty()) {
            fail(Path(path, "id"), "an id must not be empty");
        }
        name = id + idSuffix;
        if (ids_.count(name) != 0) {
            fail(Path(path, "id"), "duplicate id " + jsonQuoted(name));
        }
    }
    const NodeIndex node = newNode(name, application, owner);
    if (name != pathName) {
        ids_.emplace(name, node);
    }

    const json* attributes = nullptr;
    for (const auto& [key, entry] : value.items()) {
        const Path keyPath(path, key);
        if (const Shorthand* shorthand = shorthandFor(key)) {
            Value attribute = loadShorthand(*shorthand, entry, keyPath, node, application, idSuffix);
            state_.nodes.write(node).attributes.insert_or_assign(std::string(shorthand->attribute),
                                                                 std::move(attribute));
        } else if (key == "attributes") {
            attributes = &entry;
        } else if (key == "windowNumber") {
            state_.nodes.write(node).windowNumber = static_cast<std::uint32_t>(
                integerOf(entry, keyPath, 0, std::numeric_limits<std::uint32_t>::max()));
        } else if (key == "settable" || key == "journalReads") {
            Node& loaded = state_.nodes.write(node);
            auto& names = key == "settable" ? loaded.settable : loaded.journalReads;
            forEachItem(entry, keyPath, [&names](const json& listed, const Path& listedPath) {
                names.push_back(stringOf(listed, listedPath));
            });
        } else if (key == "setResults") {
            expectObject(entry, keyPath);
            for (const auto& [attribute, code] : entry.items()) {
                state_.nodes.write(node).setResults.emplace(attribute,
                                                            int32Of(code, Path(keyPath, attribute)));
            }
        } else if (key == "valueArrives") {
            state_.nodes.write(node).valueArrives = booleanOf(entry, keyPath);
        } else if (key == "repeat") {
            if (!inList) {
                fail(keyPath, "only an element in a list may repeat");
            }
        } else if (key != "id") {
            fail(path, "unknown key " + jsonQuoted(key));
        }
    }
    if (attributes != nullptr) {
        const Path attributesPath(path, "attributes");
        expectObject(*attributes, attributesPath);
        for (const auto& [attribute, typed] : attributes->items()) {
            const Path attributePath(attributesPath, attribute);
            const Shorthand* shorthand = std::ranges::find(shorthands, attribute, &Shorthand::attribute);
            if (shorthand != std::end(shorthands) && value.contains(shorthand->key)) {
                fail(attributePath, "attribute also given by " + jsonQuoted(shorthand->key));
            }
            Value loaded = loadTyped(typed, attributePath, true);
            state_.nodes.write(node).attributes.insert_or_assign(attribute, std::move(loaded));
        }
    }
    return node;
}

Value Loader::loadShorthand(const Shorthand& shorthand, const json& entry, const Path& keyPath,
                            NodeIndex node, std::size_t application, const std::string& idSuffix) {
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
        return {referenceOf(entry, keyPath)};
    }
    return {textOf(entry, keyPath)};
}

Value Loader::loadElementList(const json& value, const Path& path, const std::string& listName,
                              std::size_t application, NodeIndex parent, const std::string& idSuffix) {
    ValueList list;
    list.reserve(value.size());
    forEachItem(value, path, [&](const json& entry, const Path& entryPath) {
        if (isReference(entry)) {
            list.push_back({referenceOf(entry, entryPath)});
            return;
        }
        expectObject(entry, entryPath);
        std::int64_t copies = 1;
        const auto repeat = entry.find("repeat");
        if (repeat != entry.end()) {
            copies = integerOf(*repeat, Path(entryPath, "repeat"), 0, maxRepeat);
        }
        for (std::int64_t copy = 1; copy <= copies; ++copy) {
            const std::string suffix =
                repeat != entry.end() ? idSuffix + "#" + std::to_string(copy) : idSuffix;
            const NodeIndex child =
                loadElement(entry, entryPath, listName + "/" + std::to_string(list.size()), application,
                            parent, suffix, true);
            // Built in place: GCC 12 at -O2 sees the move of a temporary Value through every
            // alternative of its variant and warns (-Wmaybe-uninitialized) that the string of the
            // Text one may be uninitialised, though the temporary always holds an ElementRef.
            list.emplace_back().value.emplace<ElementRef>(ElementRef{child});
        }
    });
    return {std::move(list)};
}

Value Loader::loadTyped(const json& value, const Path& path, bool topLevel) {
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
    const Path entryPath(path, key);
    if (key == "url") {
        return {Url{textOf(entry, entryPath)}};
    }
    if (key == "other") {
        return {Other{textOf(entry, entryPath)}};
    }
    if (key == "element") {
        return {IdReference{stringOf(entry, entryPath), entryPath.render()}};
    }
    if (key == "elements" || key == "list") {
        ValueList items;
        forEachItem(entry, entryPath, [&](const json& listed, const Path& itemPath) {
            items.push_back(key == "list"
                                ? loadTyped(listed, itemPath, false)
                                : Value{IdReference{stringOf(listed, itemPath), itemPath.render()}});
        });
        return {std::move(items)};
    }
    if (key == "bytes") {
        // A string of raw bytes (not necessarily UTF-8), repeated: {"hex": "c328", "repeat": N}.
        expectObject(entry, entryPath, {"hex", "repeat"});
        const std::string hex = stringOf(entry.value("hex", json()), Path(entryPath, "hex"));
        std::int64_t repeat = 1;
        readMember(entry, entryPath, "repeat", repeat, integerIn(0, 16 * 1024 * 1024));
        const std::string bytes = bytesOfHex(hex, Path(entryPath, "hex"));
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
        const AXError code = int32Of(entry, entryPath);
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

NodeIndex Loader::lookup(const std::string& id, const std::string& path) const {
    const auto found = ids_.find(id);
    if (found == ids_.end()) {
        fail(path, "no element with id " + jsonQuoted(id));
    }
    return found->second;
}

void Loader::resolveValue(Value& value) const {
    if (const auto* reference = std::get_if<IdReference>(&value.value)) {
        value.value = ElementRef{lookup(reference->id, reference->path)};
    }
    if (auto* items = std::get_if<ValueList>(&value.value)) {
        for (Value& entry : *items) {
            resolveValue(entry);
        }
    }
}

void Loader::resolve() {
    for (NodeIndex node = 0; node < state_.nodes.size(); ++node) {
        for (auto& [name, value] : state_.nodes.write(node).attributes) {
            resolveValue(value);
        }
    }
    for (const PendingToken& token : pendingTokens_) {
        state_.applications[token.application].tokens[token.identifier] =
            lookup(token.reference.id, token.reference.path);
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
        if (std::ranges::none_of(state_.applications, [wanted = pid](const Application& application) {
                return application.info->pid == wanted;
            })) {
            fail(path, "no application with pid " + std::to_string(pid));
        }
    }
}

} // namespace loading

void loadScenario(const nlohmann::json& scenario, SimulatedPlatform::State& state) {
    loading::checkNesting(scenario);
    loading::Loader(state).load(scenario);
}

} // namespace cpi::simulated
