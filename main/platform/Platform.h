// The one interface between chrome-private-input and the operating system.
//
// Every service the tool takes from the system (Accessibility, running applications, the window
// server, the display, the general pasteboard, trust, the clock and sleeping, the end of the
// process) is reached through `Platform`. Three backends implement it: `macos` (the real system,
// built only on Apple), `linux` (the accessibility bus and the X server, against Chromium) and
// `simulated` (answers from a scenario file, built everywhere). Code outside main/platform
// includes this header and never a system header of its own.
//
// The interface only carries facts: it reads, writes and reports result codes. Deciding what an
// absent value, a foreign list item or an error code means is the job of the callers (the element
// layer in main/discovery and the policy).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cpi {

// Accessibility result codes (AXError), passed on unchanged.
using AXError = std::int32_t;
inline constexpr AXError axErrorSuccess = 0;
inline constexpr AXError axErrorFailure = -25200;
inline constexpr AXError axErrorIllegalArgument = -25201;
inline constexpr AXError axErrorInvalidUIElement = -25202;
inline constexpr AXError axErrorCannotComplete = -25204;
inline constexpr AXError axErrorAttributeUnsupported = -25205;
inline constexpr AXError axErrorAPIDisabled = -25211;
inline constexpr AXError axErrorNoValue = -25212;

// ---------------------------------------------------------------------------------------------
// Accessibility elements

// A backend's element object. Identity is only ever decided by `Platform::elementsEqual`.
class ElementObject {
public:
    virtual ~ElementObject() = default;
};

// A reference-counted handle to one Accessibility element. Copies share the element. Handles
// deliberately have no equality operator: two handles may denote the same element, and only the
// platform can tell (`Platform::elementsEqual`).
class Element {
public:
    Element() = default;
    explicit Element(std::shared_ptr<const ElementObject> object) : object_(std::move(object)) {}

    explicit operator bool() const { return object_ != nullptr; }
    const ElementObject* object() const { return object_.get(); }

    template <typename T>
    const T* as() const {
        return dynamic_cast<const T*>(object_.get());
    }

private:
    std::shared_ptr<const ElementObject> object_;
};

struct UrlValue {
    std::string absoluteString;
};

// A value of a kind the tool never expects (a point, a range, an attributed string, ...).
struct OtherValue {};

struct AttributeValue;
using AttributeList = std::vector<AttributeValue>;

// One attribute value as the platform hands it over, kind preserved.
struct AttributeValue {
    std::variant<std::string, bool, double, UrlValue, Element, AttributeList, OtherValue> value;
};

// The outcome of reading one attribute: a non-zero `error` means the read failed; a successful
// read may still yield no value.
struct AttributeRead {
    AXError error = axErrorSuccess;
    std::optional<AttributeValue> value;
};

// A mutable, platform-owned string holding a secret (NSMutableString on macOS). `clear` empties
// it in place. Implementations wipe every buffer they own before releasing it.
class SecretText {
public:
    virtual ~SecretText() = default;
    virtual void clear() = 0;
};

// ---------------------------------------------------------------------------------------------
// Running applications (NSRunningApplication); properties are read live on every call (on macOS
// after a turn of the main run loop, without which AppKit keeps reporting the old values).

class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual std::int32_t processIdentifier() const = 0;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    virtual std::int64_t activationPolicy() const = 0; // 0 is the regular policy
    virtual bool isTerminated() const = 0;
};
using RunningApplicationRef = std::shared_ptr<const RunningApplication>;

inline constexpr std::int64_t activationPolicyRegular = 0;

// ---------------------------------------------------------------------------------------------
// Window server and display

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A number as the window server typed it: an integer (signed or not) or a floating-point value.
using WindowServerNumber = std::variant<std::int64_t, std::uint64_t, double>;

// One window record of a window-list snapshot: the entries the tool reads, each absent when the
// record lacks it or holds something that is not a number (a boolean is not a number), and the
// rectangle read from the bounds entry (absent: it could not be read as a rectangle).
struct WindowRecord {
    std::optional<WindowServerNumber> ownerPid; // kCGWindowOwnerPID
    std::optional<WindowServerNumber> layer;    // kCGWindowLayer
    std::optional<WindowServerNumber> number;   // kCGWindowNumber
    std::optional<WindowServerNumber> width;    // "Width" of the kCGWindowBounds map
    std::optional<WindowServerNumber> height;   // "Height" of the kCGWindowBounds map
    std::optional<Rect> bounds;
};

inline constexpr std::uint32_t windowListOptionOnScreenOnly = 1;
inline constexpr std::uint32_t windowListExcludeDesktopElements = 16;

// ---------------------------------------------------------------------------------------------
// Pasteboard

class PasteboardItem {
public:
    virtual ~PasteboardItem() = default;
    virtual bool setString(const SecretText& text, std::string_view type) = 0;
    virtual bool setData(std::span<const std::uint8_t> data, std::string_view type) = 0;
};

// ---------------------------------------------------------------------------------------------

class Platform {
public:
    virtual ~Platform() = default;

    // Accessibility -------------------------------------------------------------------------
    // Every Accessibility call has a deadline (about 1 s on macOS): a call that the application
    // does not answer in time fails (kAXErrorCannotComplete) like any other failed call.
    virtual bool isProcessTrusted() = 0;                             // AXIsProcessTrusted
    virtual Element createApplicationElement(std::int32_t pid) = 0;  // AXUIElementCreateApplication
    virtual AttributeRead copyAttributeValue(const Element& element, // AXUIElementCopyAttributeValue
                                             std::string_view attribute) = 0;
    // Several attributes of one element in one round trip (AXUIElementCopyMultipleAttributeValues
    // with options 0). One entry per requested attribute, in order. An attribute that a single read
    // gives is given alike; one that fails comes back either as a failed read, whose code may differ
    // from a single read's, or as a read without a value (the system's CFNull). Either way it is
    // absent, the only meaning callers give a failure.
    virtual std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                           std::span<const std::string_view> attributes) = 0;
    // AXUIElementSetAttributeValue with a boolean or with the secret; the result code unchanged.
    // The secret's write into "AXValue" is verified: the set call's success only means that the
    // application queued the value, so the backend then waits (about a second at most, giving up at
    // once when a stop has begun) until the field's character count equals the secret's length in
    // UTF-16 code units, and answers kAXErrorFailure when it does not.
    virtual AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) = 0;
    virtual AXError setAttributeValue(const Element& element, std::string_view attribute,
                                      const SecretText& value) = 0;
    // AXUIElementIsAttributeSettable: the call's code and, on success, whether it is settable.
    virtual AXError isAttributeSettable(const Element& element, std::string_view attribute,
                                        bool& settable) = 0;
    // _AXUIElementGetWindow: the number when the call succeeds (0 included), absent when it fails.
    virtual std::optional<std::uint32_t> windowNumber(const Element& element) = 0;
    // _AXUIElementCreateWithRemoteToken with the token bytes; an empty handle when none.
    virtual Element createElementWithRemoteToken(std::span<const std::uint8_t> token) = 0;
    virtual bool elementsEqual(const Element& first, const Element& second) = 0; // CFEqual

    // Running applications -------------------------------------------------------------------
    virtual std::vector<RunningApplicationRef>
    runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) = 0;
    virtual RunningApplicationRef runningApplicationWithProcessIdentifier(std::int32_t pid) = 0; // null: none

    // Window server and display --------------------------------------------------------------
    // CGWindowListCopyWindowInfo with the null window; absent when the snapshot is missing or is
    // not a list of records.
    virtual std::optional<std::vector<WindowRecord>> copyWindowInfo(std::uint32_t options) = 0;
    virtual Rect mainDisplayBounds() = 0; // CGDisplayBounds(CGMainDisplayID())

    // Secrets and the general pasteboard ----------------------------------------------------
    // A mutable platform string holding `utf8` (already checked to be valid UTF-8); null when
    // the platform cannot create it.
    virtual std::unique_ptr<SecretText> createSecretText(std::span<const char> utf8) = 0;
    virtual std::unique_ptr<PasteboardItem> createPasteboardItem() = 0;
    virtual std::string plainTextPasteboardType() = 0; // NSPasteboardTypeString
    // Empties the pasteboard (prepareForNewContentsWithOptions: with CurrentHostOnly, so that what
    // is written next stays on this device); the new change count.
    virtual std::int64_t clearPasteboard() = 0;
    virtual bool writePasteboardItems(std::span<PasteboardItem* const> items) = 0;
    virtual std::int64_t pasteboardChangeCount() = 0;

    // From now on every call has the stop path's short deadline (0.25 s on macOS), so that putting
    // Chrome's page switch back after a stop signal cannot take long. Called by the stop path, from
    // the stop-signal thread, once a stop has begun and at the latest just before that restore
    // (safe on any thread, also while the main thread is inside a call); there is no way back.
    virtual void prepareForStop() = 0;

    // Clock, sleep and the end of the process -----------------------------------------------
    virtual double currentTime() = 0;       // seconds since 1970
    virtual void sleep(double seconds) = 0; // on the main thread, runs its run loop meanwhile
    // Ends the process through the normal exit path (exit handlers run) with `status`.
    [[noreturn]] virtual void exitProcess(int status) = 0;
    // Ends the process at once with `status`: no exit handler or static destructor runs (_exit).
    // The stop path ends this way, from the stop-signal thread, while the main thread is parked.
    [[noreturn]] virtual void terminateProcess(int status) = 0;
};

} // namespace cpi
