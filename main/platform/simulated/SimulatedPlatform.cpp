#include "platform/simulated/SimulatedPlatform.h"

#include "ChromePrivateInputPolicy/AccessibilityNames.h"
#include "ChromePrivateInputPolicy/Text.h"
#include "platform/Process.h"
#include "platform/RemoteToken.h"
#include "platform/SecureMemory.h"
#include "platform/ValueArrival.h"
#include "platform/simulated/EventEngine.h"
#include "platform/simulated/SimulatedState.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace cpi {

using namespace simulated;

namespace {

// A failed read of an element of a process that is not running.
constexpr AXError deadApplicationError = axErrorCannotComplete;
// A failed read of an element that has left the tree.
constexpr AXError removedElementError = axErrorInvalidUIElement;

// A handle: one node, or the application element of a pid with no running application.
struct SimElement final : ElementObject {
    SimElement(const State* state, std::optional<NodeIndex> index, std::int32_t processIdentifier)
        : owner(state), node(index), pid(processIdentifier) {}
    const State* owner;
    std::optional<NodeIndex> node;
    std::int32_t pid;
};

class SimSecretText final : public SecretText {
public:
    explicit SimSecretText(std::span<const char> utf8) : text_(utf8.begin(), utf8.end()) {}
    ~SimSecretText() override { wipeContents(text_); }
    SimSecretText(const SimSecretText&) = delete;
    SimSecretText& operator=(const SimSecretText&) = delete;
    void clear() override { wipeContents(text_); }
    const SecureString& text() const { return text_; }

private:
    SecureString text_;
};

class SimRunningApplication final : public RunningApplication {
public:
    explicit SimRunningApplication(std::shared_ptr<ApplicationInfo> info) : info_(std::move(info)) {}
    std::int32_t processIdentifier() const override { return info_->pid; }
    std::optional<std::string> bundleIdentifier() const override { return info_->bundleIdentifier; }
    std::int64_t activationPolicy() const override { return info_->activationPolicy; }
    bool isTerminated() const override { return info_->terminated.load(); }

private:
    std::shared_ptr<ApplicationInfo> info_;
};

// The platform whose exitProcess ran; its exit line is written by the exit handler below.
std::atomic<State*> exitingState{nullptr};
std::once_flag exitWriterRegistration;

// -- journal ---------------------------------------------------------------------------------

void writeBytes(const State& state, const char* bytes, std::size_t size) {
    process::writeAll(state.journalFd, std::span(reinterpret_cast<const std::uint8_t*>(bytes), size));
}

void journal(const State& state, const nlohmann::ordered_json& entry) {
    if (state.journalFd < 0) {
        return;
    }
    std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line.push_back('\n');
    writeBytes(state, line.data(), line.size());
    wipeContents(line); // may hold what the tool wrote (the secret included)
}

// Empties the strings of a journal entry that may hold a secret before it is released.
void wipeStrings(nlohmann::ordered_json& entry) {
    if (entry.is_string()) {
        auto& text = entry.get_ref<std::string&>();
        wipeContents(text);
    } else if (entry.is_structured()) {
        for (auto& member : entry) {
            wipeStrings(member);
        }
    }
}

// -- elements --------------------------------------------------------------------------------

struct Resolved {
    AXError error = axErrorSuccess;
    NodeIndex node = 0;
};

Resolved resolve(const State& state, const Element& element) {
    const auto* handle = element.as<SimElement>();
    if (handle == nullptr || handle->owner != &state) {
        return {axErrorIllegalArgument, 0};
    }
    if (!handle->node) {
        return {deadApplicationError, 0};
    }
    const Node& node = state.nodes[*handle->node];
    if (!state.applications[node.application].running) {
        return {deadApplicationError, 0};
    }
    if (node.removed) {
        return {removedElementError, 0};
    }
    return {axErrorSuccess, *handle->node};
}

// The running application with `pid` (at most one runs with any pid); null when none runs.
const Application* runningApplication(const State& state, std::int32_t pid) {
    const auto found = std::ranges::find_if(state.applications, [pid](const Application& application) {
        return application.running && application.info->pid == pid;
    });
    return found != state.applications.end() ? &*found : nullptr;
}

Element handleTo(const State& state, NodeIndex node) {
    return Element(std::make_shared<SimElement>(&state, node,
                                                state.applications[state.nodes[node].application].info->pid));
}

AttributeValue converted(const State& state, const Value& value) {
    if (const auto* text = std::get_if<Text>(&value.value)) {
        return {std::string(text->begin(), text->end())};
    }
    if (const auto* boolean = std::get_if<bool>(&value.value)) {
        return {*boolean};
    }
    if (const auto* number = std::get_if<double>(&value.value)) {
        return {*number};
    }
    if (const auto* url = std::get_if<Url>(&value.value)) {
        return {UrlValue{std::string(url->text.begin(), url->text.end())}};
    }
    if (const auto* element = std::get_if<ElementRef>(&value.value)) {
        return {handleTo(state, element->node)};
    }
    if (const auto* list = std::get_if<ValueList>(&value.value)) {
        AttributeList items;
        std::ranges::transform(*list, std::back_inserter(items),
                               [&](const Value& entry) { return converted(state, entry); });
        return {std::move(items)};
    }
    return {OtherValue{}};
}

// Journals a request for `attribute` of an element that lists it under "journalReads", whatever
// the read then answers, so that a case can tell that an attribute was never asked for.
void journalRead(const State& state, const Element& element, std::string_view attribute) {
    const auto* handle = element.as<SimElement>();
    if (handle == nullptr || handle->owner != &state || !handle->node) {
        return;
    }
    const Node& node = state.nodes[*handle->node];
    if (std::find(node.journalReads.begin(), node.journalReads.end(), attribute) != node.journalReads.end()) {
        journal(state,
                nlohmann::ordered_json{{"op", "read"}, {"element", node.name}, {"attribute", attribute}});
    }
}

AttributeRead readAttribute(const State& state, const Element& element, std::string_view attribute) {
    journalRead(state, element, attribute);
    const Resolved target = resolve(state, element);
    if (target.error != axErrorSuccess) {
        return {target.error, std::nullopt};
    }
    const auto& attributes = state.nodes[target.node].attributes;
    const auto found = attributes.find(attribute);
    if (found == attributes.end()) {
        return {axErrorNoValue, std::nullopt};
    }
    const Value& value = found->second;
    if (const auto* error = std::get_if<ReadError>(&value.value)) {
        return {error->code, std::nullopt};
    }
    if (std::holds_alternative<NoValue>(value.value)) {
        return {axErrorSuccess, std::nullopt};
    }
    return {axErrorSuccess, converted(state, value)};
}

// Appends `text` to `line` as a JSON string (escaped as the journal's serialiser escapes it).
void appendJsonString(SecureString& line, std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    // The characters with a short escape, and the letter of each.
    static constexpr std::string_view escaped = "\"\\\b\f\n\r\t";
    static constexpr std::string_view letters = "\"\\bfnrt";
    line.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (const std::size_t at = escaped.find(c); at != std::string_view::npos) {
            line.push_back('\\');
            line.push_back(letters[at]);
        } else if (byte < 0x20) {
            line.append("\\u00");
            line.push_back(digits[byte >> 4]);
            line.push_back(digits[byte & 15]);
        } else {
            line.push_back(c);
        }
    }
    line.push_back('"');
}

// The journal line of a set, built in memory that is wiped: its value may be the secret. Names and
// the value are valid UTF-8 here (the secret is checked before it is made, scenario names are JSON).
void journalSet(const State& state, const std::string& element, std::string_view attribute,
                const Value& value, AXError result) {
    if (state.journalFd < 0) {
        return;
    }
    const auto* written = std::get_if<Text>(&value.value);
    const std::string_view text = written != nullptr ? std::string_view(*written) : std::string_view();
    SecureString line;
    line.reserve(96 + element.size() + attribute.size() + text.size() * 6);
    line.append("{\"op\":\"set\",\"element\":");
    appendJsonString(line, element);
    line.append(",\"attribute\":");
    appendJsonString(line, attribute);
    line.append(",\"value\":");
    if (const auto* boolean = std::get_if<bool>(&value.value)) {
        line.append(*boolean ? "true" : "false");
    } else {
        appendJsonString(line, text);
    }
    line.append(",\"result\":");
    const std::string code = std::to_string(result);
    line.append(code.begin(), code.end());
    line.append("}\n");
    writeBytes(state, line.data(), line.size());
}

// The length of UTF-8 `text` in UTF-16 code units, as Chrome counts a field's characters: one unit
// per scalar value, two for one beyond the Basic Multilingual Plane.
std::int64_t utf16Length(std::string_view text) {
    std::int64_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0u) != 0x80u) {
            units += byte >= 0xF0u ? 2 : 1;
        }
    }
    return units;
}

// The field's character count ("AXNumberOfCharacters" as Chrome derives it from its value): the
// UTF-16 length of its "AXValue" when that is a string; nothing when the element cannot be read or
// holds no string.
std::optional<std::int64_t> characterCount(const State& state, const Element& element) {
    const Resolved target = resolve(state, element);
    if (target.error != axErrorSuccess) {
        return std::nullopt;
    }
    const auto& attributes = state.nodes[target.node].attributes;
    const auto found = attributes.find(std::string_view(ax::value));
    if (found == attributes.end()) {
        return std::nullopt;
    }
    const auto* text = std::get_if<Text>(&found->second.value);
    if (text == nullptr) {
        return std::nullopt;
    }
    return utf16Length(*text);
}

// A set of the secret into "AXValue" is verified as on the real system: the set is only a request,
// so the field's character count is polled on the run's clock until it equals the secret's length.
// A value that has not arrived by then fails the write. The polls are the platform's own waiting,
// not calls of the tool: they are neither counted nor journalled, but the clock moves and due
// events run.
AXError verifiedArrival(State& state, Lock& lock, const Element& element, std::int64_t wanted,
                        bool stoppable) {
    const WaitClock clock{
        [&state] { return std::chrono::nanoseconds(nowMicros(state) * 1000); },
        [&state, &lock](std::chrono::nanoseconds duration) {
            simulated::sleep(state, lock, std::chrono::duration<double>(duration).count());
        },
    };
    const Arrival arrival =
        waitForArrival([&] { return characterCount(state, element) == wanted; }, valueArrivalTimeout,
                       valueArrivalPoll, stoppable ? process::stopRequested : nullptr, clock);
    return arrival == Arrival::arrived ? axErrorSuccess : axErrorFailure;
}

AXError setAttribute(State& state, const Element& element, std::string_view attribute, Value written,
                     const std::string& name, bool secret) {
    Lock lock = enter(state, call::setAttributeValue, true);
    const Resolved target = resolve(state, element);
    AXError result = target.error;
    bool stored = false;
    // The scenario's own answers ("setResults") stand as written, 0 included.
    bool verified = false;
    if (result == axErrorSuccess) {
        const auto& setResults = state.nodes[target.node].setResults;
        if (const auto listed = setResults.find(attribute); listed != setResults.end()) {
            result = listed->second;
        } else {
            verified = secret && attribute == ax::value;
            if (!verified || state.nodes[target.node].valueArrives) {
                state.nodes.write(target.node).attributes.insert_or_assign(std::string(attribute), written);
                stored = true;
            }
        }
    }
    if (result == axErrorSuccess && verified) {
        // A stored value is there at once, whether a stop has begun or not; one that never arrives
        // runs the wait out (or is given up on a stop) before the set is answered and journalled.
        const auto* text = std::get_if<Text>(&written.value);
        const std::int64_t wanted = text != nullptr ? utf16Length(*text) : 0;
        result = verifiedArrival(state, lock, element, wanted, !stored);
    }
    journalSet(state, name, attribute, written, result);

    if (stored && result == axErrorSuccess) {
        afterWrite(state, lock, target.node, attribute, written);
    }
    return result;
}

// -- pasteboard ------------------------------------------------------------------------------

class SimPasteboardItem final : public PasteboardItem {
public:
    explicit SimPasteboardItem(State& state) : state_(state) {}

    bool setString(const SecretText& text, std::string_view type) override {
        const Lock lock = enter(state_, call::itemSetString, false);
        const auto* secret = dynamic_cast<const SimSecretText*>(&text);
        if (state_.failSetString || secret == nullptr) {
            return false;
        }
        store(type, secret->text());
        return true;
    }

    bool setData(std::span<const std::uint8_t> data, std::string_view type) override {
        const Lock lock = enter(state_, call::itemSetData, false);
        if (state_.failSetData) {
            return false;
        }
        const std::string text = cpi::text::hexEncoded(data);
        store(type, SecureString(text.begin(), text.end()));
        return true;
    }

    const State& state() const { return state_; }
    const PasteboardItemContents& contents() const { return contents_; }

private:
    void store(std::string_view type, const SecureString& value) {
        if (const auto found = std::ranges::find(contents_, type, &Representation::type);
            found != contents_.end()) {
            found->value = value;
        } else {
            contents_.push_back({std::string(type), value});
        }
    }

    State& state_;
    PasteboardItemContents contents_;
};

nlohmann::ordered_json itemsJson(const std::vector<PasteboardItemContents>& items) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& contents : items) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (const auto& representation : contents) {
            object[representation.type] =
                std::string(representation.value.begin(), representation.value.end());
        }
        list.push_back(std::move(object));
    }
    return list;
}

// The number under `key`, absent where there is none. Like rectangleFrom, it takes any value: find
// answers end() for one that is not an object.
std::optional<WindowServerNumber> numberFrom(const nlohmann::json& map, const char* key) {
    const auto found = map.find(key);
    if (found == map.end() || !found->is_number()) {
        return std::nullopt;
    }
    if (found->is_number_unsigned()) {
        return found->get<std::uint64_t>();
    }
    if (found->is_number_integer()) {
        return found->get<std::int64_t>();
    }
    return found->get<double>();
}

std::optional<Rect> rectangleFrom(const nlohmann::json& bounds) {
    double parts[4] = {0, 0, 0, 0};
    const char* keys[4] = {"X", "Y", "Width", "Height"};
    for (int index = 0; index < 4; ++index) {
        const auto found = bounds.find(keys[index]);
        if (found == bounds.end() || !found->is_number()) {
            return std::nullopt;
        }
        parts[index] = found->get<double>();
    }
    return Rect{parts[0], parts[1], parts[2], parts[3]};
}

// A record as the window server would give it for a scenario's window entry.
WindowRecord windowRecordFrom(const nlohmann::json& entry) {
    WindowRecord record;
    record.ownerPid = numberFrom(entry, "kCGWindowOwnerPID");
    record.layer = numberFrom(entry, "kCGWindowLayer");
    record.number = numberFrom(entry, "kCGWindowNumber");
    if (const auto bounds = entry.find("kCGWindowBounds"); bounds != entry.end()) {
        record.width = numberFrom(*bounds, "Width");
        record.height = numberFrom(*bounds, "Height");
        record.bounds = rectangleFrom(*bounds);
    }
    return record;
}

void journalExit(State& state, Lock&) {
    journal(state, nlohmann::ordered_json{{"op", "exit"},
                                          {"status", state.exitStatus.value_or(0)},
                                          {"calls", nlohmann::ordered_json(state.calls)},
                                          {"roundTrips", state.roundTrips},
                                          {"clock", static_cast<double>(nowMicros(state)) / 1e6}});
}

void writeExitLine() {
    State* state = exitingState.load();
    if (state == nullptr) {
        return;
    }
    Lock lock(state->mutex);
    journalExit(*state, lock);
}

} // namespace

// ---------------------------------------------------------------------------------------------

SimulatedPlatform::SimulatedPlatform(std::unique_ptr<State> state) : state_(std::move(state)) {}

SimulatedPlatform::~SimulatedPlatform() {
    State* expected = state_.get();
    exitingState.compare_exchange_strong(expected, nullptr);
    if (state_->journalFd >= 0) {
        ::close(state_->journalFd);
    }
}

std::unique_ptr<SimulatedPlatform> SimulatedPlatform::load(const nlohmann::json& scenario,
                                                           std::optional<std::string> journalPath) {
    auto state = std::make_unique<State>();
    simulated::loadScenario(scenario, *state);
    if (journalPath) {
        state->journalFd = ::open(journalPath->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (state->journalFd < 0) {
            throw ScenarioError("journal " + *journalPath + ": " + std::strerror(errno));
        }
    }
    // Registered before the tool registers its own exit handlers, so that it runs after them.
    std::call_once(exitWriterRegistration, [] { std::atexit(writeExitLine); });
    state->start = std::chrono::steady_clock::now();
    return std::unique_ptr<SimulatedPlatform>(new SimulatedPlatform(std::move(state)));
}

std::unique_ptr<SimulatedPlatform> SimulatedPlatform::copy() const {
    Lock lock(state_->mutex);
    auto state = std::make_unique<State>(*state_);
    state->journalFd = -1; // a copy writes no journal
    return std::unique_ptr<SimulatedPlatform>(new SimulatedPlatform(std::move(state)));
}

std::string SimulatedPlatform::elementName(const Element& element) const {
    const auto* handle = element.as<SimElement>();
    if (handle == nullptr || handle->owner != state_.get()) {
        return "";
    }
    if (!handle->node) {
        return std::to_string(handle->pid) + " (no application)";
    }
    return state_->nodes[*handle->node].name;
}

std::int64_t SimulatedPlatform::callCount(std::string_view name) const {
    Lock lock(state_->mutex);
    const auto found = state_->calls.find(name);
    return found == state_->calls.end() ? 0 : found->second;
}

std::int64_t SimulatedPlatform::roundTrips() const {
    Lock lock(state_->mutex);
    return state_->roundTrips;
}

double SimulatedPlatform::clockSeconds() const {
    Lock lock(state_->mutex);
    return static_cast<double>(nowMicros(*state_)) / 1e6;
}

bool SimulatedPlatform::preparedForStop() const {
    Lock lock(state_->mutex);
    return state_->preparedForStop;
}

nlohmann::ordered_json SimulatedPlatform::pasteboardContents() const {
    Lock lock(state_->mutex);
    return itemsJson(state_->pasteboard);
}

// -- Accessibility ----------------------------------------------------------------------------

bool SimulatedPlatform::isProcessTrusted() {
    const Lock lock = enter(*state_, call::isProcessTrusted, false);
    return state_->trusted;
}

Element SimulatedPlatform::createApplicationElement(std::int32_t pid) {
    const Lock lock = enter(*state_, call::createApplication, false);
    if (const Application* application = runningApplication(*state_, pid)) {
        return handleTo(*state_, application->root);
    }
    return Element(std::make_shared<SimElement>(state_.get(), std::nullopt, pid));
}

AttributeRead SimulatedPlatform::copyAttributeValue(const Element& element, std::string_view attribute) {
    const Lock lock = enter(*state_, call::copyAttributeValue, true);
    return readAttribute(*state_, element, attribute);
}

std::vector<AttributeRead>
SimulatedPlatform::copyAttributeValues(const Element& element, std::span<const std::string_view> attributes) {
    const Lock lock = enter(*state_, call::copyMultipleAttributeValues, true);
    std::vector<AttributeRead> reads;
    std::ranges::transform(attributes, std::back_inserter(reads), [&](std::string_view attribute) {
        return readAttribute(*state_, element, attribute);
    });
    return reads;
}

AXError SimulatedPlatform::setAttributeValue(const Element& element, std::string_view attribute, bool value) {
    return setAttribute(*state_, element, attribute, Value{value}, elementName(element), false);
}

AXError SimulatedPlatform::setAttributeValue(const Element& element, std::string_view attribute,
                                             const SecretText& value) {
    const auto* secret = dynamic_cast<const SimSecretText*>(&value);
    if (secret == nullptr) {
        const Lock lock = enter(*state_, call::setAttributeValue, true);
        return axErrorIllegalArgument;
    }
    return setAttribute(*state_, element, attribute, Value{Text(secret->text())}, elementName(element), true);
}

AXError SimulatedPlatform::isAttributeSettable(const Element& element, std::string_view attribute,
                                               bool& settable) {
    const Lock lock = enter(*state_, call::isAttributeSettable, true);
    settable = false;
    const Resolved target = resolve(*state_, element);
    if (target.error != axErrorSuccess) {
        return target.error;
    }
    const auto& names = state_->nodes[target.node].settable;
    settable = std::find(names.begin(), names.end(), attribute) != names.end();
    return axErrorSuccess;
}

std::optional<std::uint32_t> SimulatedPlatform::windowNumber(const Element& element) {
    const Lock lock = enter(*state_, call::getWindow, true);
    const Resolved target = resolve(*state_, element);
    if (target.error != axErrorSuccess) {
        return std::nullopt;
    }
    return state_->nodes[target.node].windowNumber;
}

Element SimulatedPlatform::createElementWithRemoteToken(std::span<const std::uint8_t> token) {
    const Lock lock = enter(*state_, call::createWithRemoteToken, true);
    const std::optional<RemoteToken> decoded = RemoteToken::decode(token);
    const Application* application = decoded ? runningApplication(*state_, decoded->pid()) : nullptr;
    if (application == nullptr) {
        return {};
    }
    const auto found = application->tokens.find(decoded->elementIdentifier());
    return found == application->tokens.end() ? Element() : handleTo(*state_, found->second);
}

bool SimulatedPlatform::elementsEqual(const Element& first, const Element& second) {
    const Lock lock = enter(*state_, call::equal, false);
    const auto* one = first.as<SimElement>();
    const auto* other = second.as<SimElement>();
    if (one == nullptr || other == nullptr || one->owner != other->owner) {
        return false;
    }
    if (one->node || other->node) {
        return one->node == other->node;
    }
    return one->pid == other->pid;
}

// -- Running applications ---------------------------------------------------------------------

std::vector<RunningApplicationRef>
SimulatedPlatform::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
    const Lock lock = enter(*state_, call::applicationsWithBundleIdentifier, false);
    std::vector<RunningApplicationRef> found;
    for (const Application& application : state_->applications) {
        if (application.running && application.info->bundleIdentifier == bundleIdentifier) {
            found.push_back(std::make_shared<SimRunningApplication>(application.info));
        }
    }
    return found;
}

RunningApplicationRef SimulatedPlatform::runningApplicationWithProcessIdentifier(std::int32_t pid) {
    const Lock lock = enter(*state_, call::applicationWithProcessIdentifier, false);
    const Application* application = runningApplication(*state_, pid);
    return application != nullptr ? std::make_shared<SimRunningApplication>(application->info) : nullptr;
}

// -- Window server and display ----------------------------------------------------------------

std::optional<std::vector<WindowRecord>> SimulatedPlatform::copyWindowInfo(std::uint32_t options) {
    const Lock lock = enter(*state_, call::windowList, false);
    const nlohmann::json& snapshot =
        (options & windowListOptionOnScreenOnly) != 0 ? state_->onScreenWindows : state_->allWindows;
    if (!snapshot.is_array() || !std::all_of(snapshot.begin(), snapshot.end(),
                                             [](const nlohmann::json& entry) { return entry.is_object(); })) {
        return std::nullopt;
    }
    std::vector<WindowRecord> records;
    records.reserve(snapshot.size());
    std::transform(snapshot.begin(), snapshot.end(), std::back_inserter(records), windowRecordFrom);
    return records;
}

Rect SimulatedPlatform::mainDisplayBounds() {
    const Lock lock = enter(*state_, call::displayBounds, false);
    return state_->display;
}

// -- Secrets and the pasteboard ---------------------------------------------------------------

std::unique_ptr<SecretText> SimulatedPlatform::createSecretText(std::span<const char> utf8) {
    const Lock lock = enter(*state_, call::createString, false);
    return std::make_unique<SimSecretText>(utf8);
}

std::unique_ptr<PasteboardItem> SimulatedPlatform::createPasteboardItem() {
    const Lock lock = enter(*state_, call::createPasteboardItem, false);
    return std::make_unique<SimPasteboardItem>(*state_);
}

std::string SimulatedPlatform::plainTextPasteboardType() {
    return plainTextType;
}

std::int64_t SimulatedPlatform::clearPasteboard() {
    const Lock lock = enter(*state_, call::clearContents, false);
    state_->pasteboard.clear();
    ++state_->changeCount;
    journal(*state_, nlohmann::ordered_json{{"op", "pasteboardClear"}});
    return state_->changeCount;
}

bool SimulatedPlatform::writePasteboardItems(std::span<PasteboardItem* const> items) {
    const Lock lock = enter(*state_, call::writeObjects, false);
    bool result = !state_->failWrite;
    std::vector<PasteboardItemContents> written;
    for (PasteboardItem* const item : items) {
        const auto* simulatedItem = dynamic_cast<const SimPasteboardItem*>(item);
        if (simulatedItem == nullptr || &simulatedItem->state() != state_.get()) {
            result = false;
            continue;
        }
        written.push_back(simulatedItem->contents());
    }
    nlohmann::ordered_json line{{"op", "pasteboardWrite"}, {"items", itemsJson(written)}, {"result", result}};
    journal(*state_, line);
    wipeStrings(line);
    if (result) {
        state_->pasteboard = std::move(written);
        ++state_->changeCount;
    }
    return result;
}

std::int64_t SimulatedPlatform::pasteboardChangeCount() {
    const Lock lock = enter(*state_, call::changeCount, false);
    return state_->changeCount;
}

// -- Clock, sleep, exit -----------------------------------------------------------------------

void SimulatedPlatform::prepareForStop() {
    Lock lock(state_->mutex);
    state_->preparedForStop = true;
}

double SimulatedPlatform::currentTime() {
    const Lock lock = enter(*state_, call::currentTime, false);
    return state_->nowMillis / 1000.0 + static_cast<double>(nowMicros(*state_)) / 1e6;
}

void SimulatedPlatform::sleep(double seconds) {
    Lock lock(state_->mutex);
    State& state = *state_;
    // The sleep is journalled before the events it sets off.
    simulated::count(state, call::sleep, false);
    journal(state, nlohmann::ordered_json{{"op", "sleep"}, {"seconds", seconds}});
    simulated::sleep(state, lock, seconds);
}

void SimulatedPlatform::terminateProcess(int status) {
    Lock lock(state_->mutex);
    state_->exitStatus = status;
    journalExit(*state_, lock);
    ::_exit(status);
}

void SimulatedPlatform::exitProcess(int status) {
    {
        Lock lock(state_->mutex);
        state_->exitStatus = status;
    }
    exitingState.store(state_.get());
    std::exit(status);
}

} // namespace cpi
