#include "platform/linux/LinuxPlatform.h"

#include "ChromePrivateInputPolicy/AccessibilityNames.h"
#include "platform/linux/ApplicationSnapshot.h"
#include "platform/linux/ClipboardTargets.h"

#include <atspi/atspi-constants.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>
#include <unistd.h>

namespace cpi {

using atspi::ObjectRef;

namespace {

constexpr std::string_view browserFrameClass = "BrowserRootView";
constexpr std::int64_t activationPolicyAccessory = 1;

struct BusElement final : ElementObject {
    explicit BusElement(ObjectRef reference) : ref(std::move(reference)) {}
    ObjectRef ref;
};

const ObjectRef* refOf(const Element& element) {
    const auto* object = element.as<BusElement>();
    return object != nullptr ? &object->ref : nullptr;
}

Element makeElement(ObjectRef ref) {
    return Element(std::make_shared<const BusElement>(std::move(ref)));
}

AttributeRead failed(AXError error) {
    return AttributeRead{error, std::nullopt};
}

AttributeRead value(AttributeValue value) {
    return AttributeRead{axErrorSuccess, std::move(value)};
}

// Built in place: GCC 12 at -O2 sees the move of a temporary AttributeValue through every
// alternative of its variant and warns (-Wmaybe-uninitialized) about the list alternative, though
// the temporary always holds an Element.
AttributeRead elementList(std::vector<ObjectRef> objects) {
    AttributeList list;
    list.reserve(objects.size());
    for (ObjectRef& object : objects) {
        list.emplace_back().value.emplace<Element>(makeElement(std::move(object)));
    }
    return value(AttributeValue{std::move(list)});
}

AttributeRead stringOrAbsent(std::string_view text) {
    return text.empty() ? failed(axErrorNoValue) : value(AttributeValue{std::string(text)});
}

class LinuxSecretText final : public SecretText {
public:
    explicit LinuxSecretText(std::span<const char> utf8) : text_(utf8.begin(), utf8.end()) {}
    void clear() override { wipeContents(text_); }
    const SecureString& text() const { return text_; }

private:
    SecureString text_;
};

class LinuxPasteboardItem final : public PasteboardItem {
public:
    bool setString(const SecretText& text, std::string_view type) override {
        const auto* secret = dynamic_cast<const LinuxSecretText*>(&text);
        return secret != nullptr &&
               setData(std::span(reinterpret_cast<const std::uint8_t*>(secret->text().data()),
                                 secret->text().size()),
                       type);
    }
    bool setData(std::span<const std::uint8_t> data, std::string_view type) override {
        representations.emplace_back(std::string(type), SecureBytes(data.begin(), data.end()));
        return true;
    }
    std::vector<std::pair<std::string, SecureBytes>> representations;
};

} // namespace

// A running Chromium, or Google Chrome, whose activation policy and end are read live.
class LinuxRunningApplication final : public RunningApplication {
public:
    LinuxRunningApplication(std::int32_t pid, std::string name, std::function<std::int64_t()> policy,
                            std::function<bool()> terminated)
        : pid_(pid), name_(std::move(name)), policy_(std::move(policy)), terminated_(std::move(terminated)) {}
    std::int32_t processIdentifier() const override { return pid_; }
    std::optional<std::string> bundleIdentifier() const override {
        return atspi::isChromeApplicationName(name_) ? std::string(atspi::chromeBundleIdentifier) : name_;
    }
    std::int64_t activationPolicy() const override { return policy_(); }
    bool isTerminated() const override { return terminated_(); }

private:
    std::int32_t pid_;
    std::string name_;
    std::function<std::int64_t()> policy_;
    std::function<bool()> terminated_;
};

LinuxPlatform::LinuxPlatform(BusReads reads) : reads_(reads) {}
LinuxPlatform::~LinuxPlatform() = default;

atspi::AccessibilityBus* LinuxPlatform::bus() {
    if (!std::exchange(busTried_, true)) {
        bus_ = atspi::AccessibilityBus::connect();
    }
    return bus_.get();
}

x11::Display* LinuxPlatform::display() {
    if (!std::exchange(displayTried_, true)) {
        display_ = x11::Display::connect();
    }
    return display_.get();
}

std::uint64_t LinuxPlatform::roundTrips() const {
    return (bus_ ? bus_->roundTrips() : 0) + (display_ ? display_->roundTrips() : 0);
}

// ---------------------------------------------------------------------------------------------
// Accessibility

bool LinuxPlatform::isProcessTrusted() {
    const std::lock_guard lock(mutex_);
    return bus() != nullptr && atspi::AccessibilityBus::accessibilityEnabled() &&
           bus_->children(ObjectRef{"org.a11y.atspi.Registry", atspi::rootPath}).has_value();
}

std::optional<std::int32_t> LinuxPlatform::processOf(const std::string& busName) {
    if (const auto known = processes_.find(busName); known != processes_.end()) {
        return known->second;
    }
    const std::optional<std::uint32_t> pid =
        bus() != nullptr ? bus_->processIdentifier(busName) : std::nullopt;
    if (!pid) {
        return std::nullopt;
    }
    processes_[busName] = std::int32_t(*pid);
    return std::int32_t(*pid);
}

Element LinuxPlatform::createApplicationElement(std::int32_t pid) {
    const std::lock_guard lock(mutex_);
    snapshot_.reset();
    if (bus() == nullptr) {
        return makeElement(ObjectRef{"", atspi::rootPath});
    }
    std::string busName;
    for (const ObjectRef& application : bus_->applications()) {
        if (processOf(application.bus) == pid) {
            busName = application.bus;
            break;
        }
    }
    snapshot_ = std::make_unique<atspi::ApplicationSnapshot>(
        *bus_, [this] { return display(); }, busName, pid, reads_ == BusReads::snapshot);
    return makeElement(ObjectRef{busName, atspi::rootPath});
}

atspi::ApplicationSnapshot& LinuxPlatform::look() {
    if (!snapshot_) {
        snapshot_ = std::make_unique<atspi::ApplicationSnapshot>(
            *bus_, [this] { return display(); }, "", 0, false);
    }
    return *snapshot_;
}

AttributeRead LinuxPlatform::readApplication(const ObjectRef& application, std::string_view attribute) {
    if (application.bus.empty()) {
        return failed(axErrorInvalidUIElement);
    }
    if (attribute == ax::role) {
        return value(AttributeValue{std::string("AXApplication")});
    }
    if (attribute == ax::windows) {
        return elementList(look().windowsOf(application));
    }
    if (attribute == ax::focusedWindow || attribute == ax::mainWindow) {
        for (const ObjectRef& frame : look().windowsOf(application)) {
            const std::optional<atspi::ElementShape> shape = look().shapeOf(frame);
            if (shape && atspi::hasState(shape->states, ATSPI_STATE_ACTIVE)) {
                return value(AttributeValue{makeElement(frame)});
            }
        }
        return failed(axErrorNoValue);
    }
    // Chromium's page accessibility cannot be switched on at run time on Linux: it is exposed
    // only when Chromium was started with it.
    return failed(axErrorAttributeUnsupported);
}

AttributeRead LinuxPlatform::readElement(const ObjectRef& object, std::string_view attribute) {
    const std::optional<atspi::ElementShape> shape = look().shapeOf(object);
    if (!shape) {
        return failed(axErrorInvalidUIElement);
    }
    auto attributesIf = [&](atspi::NeedsAttributes needs) {
        return needs == atspi::NeedsAttributes::yes ? look().attributesOf(object)
                                                    : std::map<std::string, std::string>{};
    };
    if (attribute == ax::role) {
        return value(AttributeValue{
            std::string(atspi::axRole(*shape, attributesIf(atspi::roleNeedsAttributes(shape->role))))});
    }
    if (attribute == ax::subrole) {
        return stringOrAbsent(
            atspi::axSubrole(*shape, attributesIf(atspi::subroleNeedsAttributes(shape->role))));
    }
    if (attribute == ax::title) {
        return stringOrAbsent(atspi::axTitle(*shape));
    }
    if (attribute == ax::description) {
        return stringOrAbsent(atspi::axDescription(*shape));
    }
    if (attribute == ax::focused) {
        return value(AttributeValue{atspi::hasState(shape->states, ATSPI_STATE_FOCUSED)});
    }
    if (attribute == ax::children) {
        std::optional<std::vector<ObjectRef>> children = look().listedChildren(object);
        return children ? elementList(std::move(*children)) : failed(axErrorFailure);
    }
    if (attribute == ax::value && atspi::axValueSource(*shape) == atspi::ValueSource::text) {
        std::optional<SecureString> text = bus_->text(object);
        if (!text) {
            return failed(axErrorFailure);
        }
        AttributeRead read = value(AttributeValue{std::string(text->begin(), text->end())});
        wipeContents(*text);
        return read;
    }
    if (attribute == ax::url && shape->role == ATSPI_ROLE_DOCUMENT_WEB) {
        std::optional<std::string> uri = bus_->documentAttribute(object, "URI");
        return uri && !uri->empty() ? value(AttributeValue{UrlValue{std::move(*uri)}})
                                    : failed(axErrorNoValue);
    }
    return failed(axErrorNoValue);
}

AttributeRead LinuxPlatform::copyAttributeValue(const Element& element, std::string_view attribute) {
    const std::lock_guard lock(mutex_);
    const ObjectRef* ref = refOf(element);
    if (ref == nullptr || bus() == nullptr) {
        return failed(axErrorInvalidUIElement);
    }
    return ref->path == atspi::rootPath ? readApplication(*ref, attribute) : readElement(*ref, attribute);
}

std::vector<AttributeRead> LinuxPlatform::copyAttributeValues(const Element& element,
                                                              std::span<const std::string_view> attributes) {
    std::vector<AttributeRead> reads;
    reads.reserve(attributes.size());
    for (const std::string_view attribute : attributes) {
        reads.push_back(copyAttributeValue(element, attribute));
    }
    return reads;
}

AXError LinuxPlatform::setAttributeValue(const Element& element, std::string_view, bool) {
    // Only the page switch is ever set to a boolean, and Chromium on Linux has none to set.
    return refOf(element) != nullptr ? axErrorAttributeUnsupported : axErrorIllegalArgument;
}

AXError LinuxPlatform::setAttributeValue(const Element& element, std::string_view attribute,
                                         const SecretText& value) {
    const std::lock_guard lock(mutex_);
    const ObjectRef* ref = refOf(element);
    if (ref == nullptr || attribute != ax::value || bus() == nullptr) {
        return axErrorIllegalArgument;
    }
    const auto* secret = dynamic_cast<const LinuxSecretText*>(&value);
    return secret != nullptr ? typeInto(*ref, secret->text()) : axErrorCannotComplete;
}

AXError LinuxPlatform::isAttributeSettable(const Element& element, std::string_view attribute,
                                           bool& settable) {
    const std::lock_guard lock(mutex_);
    settable = false;
    const ObjectRef* ref = refOf(element);
    if (ref == nullptr || bus() == nullptr) {
        return axErrorIllegalArgument;
    }
    const std::optional<atspi::ElementShape> shape = look().shapeOf(*ref);
    if (!shape) {
        return axErrorInvalidUIElement;
    }
    settable = attribute == ax::value && atspi::isTextFieldRole(shape->role) &&
               atspi::hasState(shape->states, ATSPI_STATE_EDITABLE) &&
               !atspi::hasState(shape->states, ATSPI_STATE_READ_ONLY);
    return axErrorSuccess;
}

std::optional<std::uint32_t> LinuxPlatform::windowNumber(const Element& element) {
    const std::lock_guard lock(mutex_);
    const ObjectRef* ref = refOf(element);
    if (ref == nullptr || bus() == nullptr) {
        return std::nullopt;
    }
    const std::optional<atspi::ElementShape> shape = look().shapeOf(*ref);
    return shape && atspi::isWindowRole(shape->role) ? look().frameWindow(*ref) : std::nullopt;
}

// Every window is reachable through the application on Linux; there are no remote tokens.
Element LinuxPlatform::createElementWithRemoteToken(std::span<const std::uint8_t>) {
    return Element();
}

bool LinuxPlatform::elementsEqual(const Element& first, const Element& second) {
    const ObjectRef* one = refOf(first);
    const ObjectRef* other = refOf(second);
    return one != nullptr && other != nullptr && *one == *other;
}

// ---------------------------------------------------------------------------------------------
// Running applications: Chromium and Google Chrome as the registry lists them.

std::vector<RunningApplicationRef>
LinuxPlatform::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
    const std::lock_guard lock(mutex_);
    std::vector<RunningApplicationRef> found;
    if (bundleIdentifier != atspi::chromeBundleIdentifier || bus() == nullptr) {
        return found;
    }
    for (const ObjectRef& application : bus_->applications()) {
        const std::optional<std::string> name = bus_->name(application);
        if (name && atspi::isChromeApplicationName(*name)) {
            if (RunningApplicationRef running =
                    runningApplicationWithProcessIdentifier(processOf(application.bus).value_or(0));
                running && running->bundleIdentifier() == atspi::chromeBundleIdentifier) {
                found.push_back(std::move(running));
            }
        }
    }
    return found;
}

RunningApplicationRef LinuxPlatform::runningApplicationWithProcessIdentifier(std::int32_t pid) {
    const std::lock_guard lock(mutex_);
    if (bus() == nullptr || pid <= 0) {
        return nullptr;
    }
    for (const ObjectRef& application : bus_->applications()) {
        if (processOf(application.bus) != pid) {
            continue;
        }
        const std::string busName = application.bus;
        // Regular while it shows a browser window, as a Mac's Chrome is while it has its Dock icon.
        auto policy = [this, application] {
            const std::lock_guard inner(mutex_);
            for (const ObjectRef& frame : bus_->children(application).value_or(std::vector<ObjectRef>{})) {
                const std::optional<std::uint32_t> role = bus_->role(frame);
                if (role && atspi::isWindowRole(*role)) {
                    const auto attributes = bus_->attributes(frame);
                    if (attributes && attributes->contains("class") &&
                        attributes->at("class") == browserFrameClass) {
                        return activationPolicyRegular;
                    }
                }
            }
            return activationPolicyAccessory;
        };
        auto terminated = [this, busName, pid] {
            const std::lock_guard inner(mutex_);
            return !bus_->isConnected(busName) || (::kill(pid, 0) != 0 && errno == ESRCH);
        };
        return std::make_shared<LinuxRunningApplication>(pid, bus_->name(application).value_or(""), policy,
                                                         terminated);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Windows and the display

std::optional<std::vector<WindowRecord>> LinuxPlatform::copyWindowInfo(std::uint32_t options) {
    const std::lock_guard lock(mutex_);
    if (display() == nullptr) {
        return std::nullopt;
    }
    std::vector<WindowRecord> records;
    for (const x11::WindowFacts& window : display_->topLevelWindows()) {
        const bool onScreen = window.viewable && window.onCurrentDesktop;
        if ((options & windowListOptionOnScreenOnly) != 0 && !onScreen) {
            continue;
        }
        WindowRecord record;
        if (window.pid) {
            record.ownerPid = std::int64_t{*window.pid};
        }
        // X has no window server layers: every top-level window is a normal one.
        record.layer = std::int64_t{0};
        record.number = std::int64_t{window.id};
        if (window.geometry) {
            record.width = window.geometry->width;
            record.height = window.geometry->height;
        }
        record.bounds = window.geometry;
        records.push_back(std::move(record));
    }
    return records;
}

Rect LinuxPlatform::mainDisplayBounds() {
    const std::lock_guard lock(mutex_);
    return display() != nullptr ? display_->screenBounds() : Rect{};
}

// ---------------------------------------------------------------------------------------------
// Secrets and the clipboard

std::unique_ptr<SecretText> LinuxPlatform::createSecretText(std::span<const char> utf8) {
    return std::make_unique<LinuxSecretText>(utf8);
}

std::unique_ptr<PasteboardItem> LinuxPlatform::createPasteboardItem() {
    return std::make_unique<LinuxPasteboardItem>();
}

std::string LinuxPlatform::plainTextPasteboardType() {
    return std::string(x11::plainTextTarget);
}

std::int64_t LinuxPlatform::clearPasteboard() {
    const std::lock_guard lock(mutex_);
    if (display() == nullptr) {
        return 0;
    }
    display_->releaseClipboard();
    return display_->clipboardChangeCount();
}

bool LinuxPlatform::writePasteboardItems(std::span<PasteboardItem* const> items) {
    const std::lock_guard lock(mutex_);
    const auto* item = items.empty() ? nullptr : dynamic_cast<const LinuxPasteboardItem*>(items.front());
    if (item == nullptr || display() == nullptr) {
        return false;
    }
    return display_->ownClipboard(x11::clipboardTargets(item->representations));
}

std::int64_t LinuxPlatform::pasteboardChangeCount() {
    const std::lock_guard lock(mutex_);
    return display() != nullptr ? display_->clipboardChangeCount() : 0;
}

// ---------------------------------------------------------------------------------------------
// Clock, sleep, end

double LinuxPlatform::currentTime() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// While this process holds the clipboard, the wait serves the selection to whoever asks for it.
void LinuxPlatform::sleep(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(seconds));
    x11::Display* clipboard = nullptr;
    {
        const std::lock_guard lock(mutex_);
        clipboard = display_ && display_->ownsClipboard() ? display_.get() : nullptr;
    }
    if (clipboard != nullptr) {
        clipboard->serveUntil(deadline);
        return;
    }
    std::this_thread::sleep_until(deadline);
}

void LinuxPlatform::exitProcess(int status) {
    if (display_) {
        display_->restoreKeyboard();
    }
    std::exit(status);
}

void LinuxPlatform::terminateProcess(int status) {
    if (display_) {
        display_->restoreKeyboard();
    }
    ::_exit(status);
}

} // namespace cpi
