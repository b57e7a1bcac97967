// The macOS backend. Compiled as Objective-C++ with automatic reference counting: Objective-C
// objects are owned by ARC, Core Foundation objects by `Owned` (one CFRelease per Create or Copy).
#include "platform/macos/MacPlatform.h"

#include "platform/Process.h"
#include "platform/SecureMemory.h"
#include "platform/ValueArrival.h"
#include "platform/macos/ProcessLiveness.h"
#include "platform/macos/Utf16.h"

#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <CoreFoundation/CoreFoundation.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <libproc.h>
#include <limits>
#include <mach/mach_time.h>
#include <unistd.h>
#include <utility>

#if !__has_feature(objc_arc)
#error "MacPlatform.mm must be compiled with -fobjc-arc"
#endif

// Private functions of the Accessibility framework (HIServices), resolved when linking against
// ApplicationServices. The token call follows the Create rule.
extern "C" AXError _AXUIElementGetWindow(AXUIElementRef element, CGWindowID* windowNumber);
extern "C" AXUIElementRef _AXUIElementCreateWithRemoteToken(CFDataRef token);

namespace cpi {

// The interface's constants are the system's own values.
static_assert(axErrorSuccess == kAXErrorSuccess && axErrorFailure == kAXErrorFailure &&
              axErrorIllegalArgument == kAXErrorIllegalArgument &&
              axErrorInvalidUIElement == kAXErrorInvalidUIElement &&
              axErrorCannotComplete == kAXErrorCannotComplete &&
              axErrorAttributeUnsupported == kAXErrorAttributeUnsupported &&
              axErrorAPIDisabled == kAXErrorAPIDisabled && axErrorNoValue == kAXErrorNoValue);
static_assert(windowListOptionOnScreenOnly == kCGWindowListOptionOnScreenOnly &&
              windowListExcludeDesktopElements == kCGWindowListExcludeDesktopElements);
static_assert(activationPolicyRegular == NSApplicationActivationPolicyRegular);

namespace {

// One owned Core Foundation reference, released exactly once.
template <typename Ref>
class Owned {
public:
    Owned() = default;
    explicit Owned(Ref ref) : ref_(ref) {}
    Owned(Owned&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned& operator=(Owned&&) = delete;
    ~Owned() { reset(); }

    Ref get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // For Copy-rule out parameters: whatever the call leaves there is owned afterwards.
    Ref* out() {
        reset();
        return &ref_;
    }
    Ref release() { return std::exchange(ref_, nullptr); }
    void reset() {
        if (ref_ != nullptr) {
            CFRelease(ref_);
            ref_ = nullptr;
        }
    }

private:
    Ref ref_ = nullptr;
};

// Objects nested deeper than this are not converted (a value is never that deep in practice).
constexpr int maximumNesting = 32;

// ---------------------------------------------------------------------------------------------
// The main run loop

// At most this many pending sources are handled by one turn (each takes microseconds).
constexpr int maximumSourcesPerTurn = 64;

// The last turn may wait this long for nothing to arrive.
constexpr CFTimeInterval observerTurnSeconds = 0.001;

// NSRunningApplication's time-varying properties (terminated, the activation policy) and the
// list of running applications keep their values until the main run loop next turns in a common
// mode. The tool has no event loop, so every read of them turns the loop first: it handles what
// is pending (the workspace's notice that Chrome quit, for one), then turns once more with a
// timeout just above zero. That last turn is what lets the run loop's observers of "before
// waiting" and "after waiting" run, which refresh those properties: a run with a timeout of 0
// polls and skips both (CoreFoundation, CFRunLoop.c, __CFRunLoopRun: `poll =
// sourceHandledThisLoop || (0ULL == termTSR)`, and the kCFRunLoopBeforeWaiting and
// kCFRunLoopAfterWaiting observers are called only `if (!poll ...)`), while a turn that handles
// no source and may wait calls both. Off the main thread the main run loop is not ours to run,
// and the read is what AppKit has.
void turnMainRunLoop() {
    if (![NSThread isMainThread]) {
        return;
    }
    for (int source = 0; source < maximumSourcesPerTurn; ++source) {
        if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, true) != kCFRunLoopRunHandledSource) {
            break;
        }
    }
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, observerTurnSeconds, true);
}

// ---------------------------------------------------------------------------------------------
// Deadlines of Accessibility calls

// Every Accessibility call of the process waits at most this long for the application's answer,
// and after a stop signal at most the stop path's deadline. Apple's AXUIElement.h
// (AXUIElementSetMessagingTimeout): set on the system-wide element, the timeout applies globally
// to this process; set on any other element it applies to that element object only; a timeout of
// 0 on the system-wide element restores the default (about 6 s). A call that runs out fails with
// kAXErrorCannotComplete, as any call to a busy application does.
constexpr float callDeadlineSeconds = 1.0f;
constexpr float stopCallDeadlineSeconds = 0.25f;

void setProcessMessagingTimeout(float seconds) {
    Owned<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
    if (systemWide) {
        AXUIElementSetMessagingTimeout(systemWide.get(), seconds);
    }
}

// ---------------------------------------------------------------------------------------------
// Time that counts system sleep

// Seconds on a clock that goes on counting while the Mac sleeps, from an arbitrary start.
// mach_continuous_time is mach_absolute_time plus the time the system has spent asleep, which the
// kernel keeps in the commpage (XNU, libsyscall/wrappers/mach_continuous_time.c:
// `*cont_time = absolute + read1` with read1 from _COMM_PAGE_CONT_TIMEBASE); mach_absolute_time
// alone, like std::chrono::steady_clock (CLOCK_UPTIME_RAW on Apple), does not increment while the
// system is asleep (Apple's documentation of mach_absolute_time and mach_continuous_time).
double continuousSeconds() {
    static const double nanosecondsPerTick = [] {
        mach_timebase_info_data_t timebase{};
        if (mach_timebase_info(&timebase) != KERN_SUCCESS || timebase.denom == 0) {
            return 1.0;
        }
        return static_cast<double>(timebase.numer) / static_cast<double>(timebase.denom);
    }();
    return static_cast<double>(mach_continuous_time()) * nanosecondsPerTick / 1e9;
}

// ---------------------------------------------------------------------------------------------
// Strings

// The text of a CFString as UTF-8. Page text may hold a key, so the result is built in one
// allocation (a UTF-16 unit never needs more than three bytes) and the copy buffer is wiped.
std::optional<std::string> utf8From(CFStringRef text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    const CFIndex length = CFStringGetLength(text);
    if (length < 0 || static_cast<std::uint64_t>(length) > std::numeric_limits<std::size_t>::max() / 4) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(length) * 3);
    utf16::Utf8Writer writer(out);
    if (const UniChar* direct = CFStringGetCharactersPtr(text)) {
        for (CFIndex index = 0; index < length; ++index) {
            writer.add(direct[index]);
        }
    } else {
        constexpr CFIndex chunkLength = 512;
        UniChar chunk[chunkLength];
        for (CFIndex start = 0; start < length; start += chunkLength) {
            const CFIndex count = std::min(chunkLength, length - start);
            CFStringGetCharacters(text, CFRangeMake(start, count), chunk);
            for (CFIndex index = 0; index < count; ++index) {
                writer.add(chunk[index]);
            }
        }
        secureWipe(chunk, sizeof(chunk));
    }
    writer.finish();
    return out;
}

// A new CFString with the UTF-8 `text`; empty when `text` is not valid UTF-8.
Owned<CFStringRef> makeString(std::string_view text) {
    static const char empty[] = "";
    const char* bytes = text.empty() ? empty : text.data();
    return Owned<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

NSString* makeNSString(std::string_view text) {
    return (__bridge_transfer NSString*)makeString(text).release();
}

// ---------------------------------------------------------------------------------------------
// Accessibility elements

class MacElement final : public ElementObject {
public:
    explicit MacElement(Owned<AXUIElementRef>&& ref) : ref_(std::move(ref)) {}
    AXUIElementRef ref() const { return ref_.get(); }

private:
    Owned<AXUIElementRef> ref_;
};

// Takes over one reference (Create or Copy rule); an empty handle for null.
Element adoptElement(AXUIElementRef ref) {
    Owned<AXUIElementRef> owned(ref);
    if (!owned) {
        return Element();
    }
    return Element(std::make_shared<const MacElement>(std::move(owned)));
}

Element retainElement(AXUIElementRef ref) {
    CFRetain(ref);
    return adoptElement(ref);
}

// The element behind a handle; null for an empty handle or one of another backend.
AXUIElementRef refOf(const Element& element) {
    const MacElement* object = element.as<MacElement>();
    return object != nullptr ? object->ref() : nullptr;
}

// One attribute value, kind preserved. Lists keep every item; items of kinds the tool does not
// know become OtherValue so that the caller can tell a foreign item from a missing list.
AttributeValue attributeValueFrom(CFTypeRef value, int depth) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID()) {
        if (std::optional<std::string> text = utf8From(static_cast<CFStringRef>(value))) {
            return AttributeValue{std::move(*text)};
        }
        return AttributeValue{OtherValue{}};
    }
    if (type == CFBooleanGetTypeID()) {
        return AttributeValue{CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0};
    }
    if (type == CFNumberGetTypeID()) {
        double number = 0;
        // A lossy conversion (a very large integer) still stores the nearest double.
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &number);
        return AttributeValue{number};
    }
    if (type == CFURLGetTypeID()) {
        Owned<CFURLRef> absolute(CFURLCopyAbsoluteURL(static_cast<CFURLRef>(value)));
        if (absolute) {
            if (std::optional<std::string> text = utf8From(CFURLGetString(absolute.get()))) {
                return AttributeValue{UrlValue{std::move(*text)}};
            }
        }
        return AttributeValue{OtherValue{}};
    }
    if (type == AXUIElementGetTypeID()) {
        return AttributeValue{retainElement(static_cast<AXUIElementRef>(value))};
    }
    if (type == CFArrayGetTypeID() && depth < maximumNesting) {
        const auto array = static_cast<CFArrayRef>(value);
        const CFIndex count = CFArrayGetCount(array);
        AttributeList items;
        items.reserve(static_cast<std::size_t>(count));
        for (CFIndex index = 0; index < count; ++index) {
            const CFTypeRef item = CFArrayGetValueAtIndex(array, index);
            items.push_back(item != nullptr ? attributeValueFrom(item, depth + 1)
                                            : AttributeValue{OtherValue{}});
        }
        return AttributeValue{std::move(items)};
    }
    return AttributeValue{OtherValue{}};
}

bool isNoValue(CFTypeRef value) {
    return value == nullptr || CFGetTypeID(value) == CFNullGetTypeID();
}

// One entry of a multiple-attribute read (options 0). A failed attribute comes back as an AXValue
// of type kAXValueTypeAXError holding a code (not always the code a single read gives) or as
// CFNull; the first is a failed read with that code, the second a read without a value.
AttributeRead readFromEntry(CFTypeRef value) {
    if (isNoValue(value)) {
        return AttributeRead{};
    }
    if (CFGetTypeID(value) == AXValueGetTypeID()) {
        const auto boxed = static_cast<AXValueRef>(value);
        if (AXValueGetType(boxed) == kAXValueTypeAXError) {
            ::AXError code = kAXErrorFailure;
            if (!AXValueGetValue(boxed, kAXValueTypeAXError, &code) || code == kAXErrorSuccess) {
                code = kAXErrorFailure;
            }
            return AttributeRead{static_cast<cpi::AXError>(code), std::nullopt};
        }
    }
    return AttributeRead{axErrorSuccess, attributeValueFrom(value, 0)};
}

// ---------------------------------------------------------------------------------------------
// Window records

// The number under `key`: a floating-point CFNumber as a double, an integer one as a 64-bit
// integer (one beyond the signed range, which CFNumber holds only for large unsigned values, as a
// double rather than clamped or wrapped). Anything else, a CFBoolean included, is not a number.
std::optional<WindowServerNumber> numberFrom(CFDictionaryRef dictionary, CFStringRef key) {
    const CFTypeRef value = CFDictionaryGetValue(dictionary, key);
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) {
        return std::nullopt;
    }
    const auto number = static_cast<CFNumberRef>(value);
    std::int64_t integer = 0;
    if (!CFNumberIsFloatType(number) && CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) {
        return integer;
    }
    double real = 0;
    CFNumberGetValue(number, kCFNumberDoubleType, &real);
    return real;
}

// ---------------------------------------------------------------------------------------------
// Running applications

// kill(pid, 0) and the start time of the process that has the pid now (proc_pidinfo with
// PROC_PIDTBSDINFO), as the liveness check asks them.
std::optional<liveness::ProcessStart> processStart(std::int32_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    struct proc_bsdinfo info {};
    if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, static_cast<int>(sizeof(info))) !=
        static_cast<int>(sizeof(info))) {
        return std::nullopt;
    }
    return liveness::ProcessStart{info.pbi_start_tvsec, info.pbi_start_tvusec};
}

const liveness::Probes& kernelProbes() {
    static const liveness::Probes probes{
        [](std::int32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 ? 0 : errno; },
        &processStart,
    };
    return probes;
}

// Each property is asked of the application object on every call, the time-varying ones after a
// turn of the main run loop. Whether the application has terminated is also asked of the kernel,
// by the pid and the process's start time remembered when the object was made, so that a quit
// Chrome (or its pid taken by another process) is seen before AppKit has heard of it.
class MacRunningApplication final : public RunningApplication {
public:
    explicit MacRunningApplication(NSRunningApplication* application)
        : application_(application), pid_(application.processIdentifier), start_(processStart(pid_)) {}

    std::int32_t processIdentifier() const override { return application_.processIdentifier; }
    std::optional<std::string> bundleIdentifier() const override {
        @autoreleasepool {
            NSString* identifier = application_.bundleIdentifier;
            if (identifier == nil) {
                return std::nullopt;
            }
            return utf8From((__bridge CFStringRef)identifier);
        }
    }
    std::int64_t activationPolicy() const override {
        turnMainRunLoop();
        return static_cast<std::int64_t>(application_.activationPolicy);
    }
    bool isTerminated() const override {
        turnMainRunLoop();
        return application_.terminated || liveness::processGone(pid_, start_, kernelProbes());
    }

private:
    NSRunningApplication* application_;
    std::int32_t pid_;
    std::optional<liveness::ProcessStart> start_;
};

// ---------------------------------------------------------------------------------------------
// Secrets

static_assert(sizeof(UniChar) == sizeof(std::uint16_t));
using UnitBuffer = std::vector<UniChar, WipingAllocator<UniChar>>;

// The secret as an NSMutableString whose characters live in a buffer of ours (a CFMutableString
// with an external backing store), so that emptying it can wipe the characters themselves.
class MacSecretText final : public SecretText {
public:
    static std::unique_ptr<MacSecretText> create(std::span<const char> utf8) {
        std::unique_ptr<MacSecretText> secret(new MacSecretText());
        secret->units_.reserve(utf8.size() + 1);
        if (!utf16::appendFromUtf8(utf8, secret->units_)) {
            return nullptr;
        }
        const auto length = static_cast<CFIndex>(secret->units_.size());
        CFMutableStringRef string = CFStringCreateMutableWithExternalCharactersNoCopy(
            kCFAllocatorDefault, secret->units_.data(), length, length, kCFAllocatorNull);
        if (string == nullptr) {
            return nullptr;
        }
        secret->string_ = (__bridge_transfer NSMutableString*)string;
        return secret;
    }

    MacSecretText(const MacSecretText&) = delete;
    MacSecretText& operator=(const MacSecretText&) = delete;
    ~MacSecretText() override { clear(); }

    // Empties the string in place, detaches it from our buffer (anyone still holding the string
    // sees an empty string without storage) and wipes the characters.
    void clear() override {
        if (string_ != nil) {
            [string_ setString:@""];
            CFStringSetExternalCharactersNoCopy((__bridge CFMutableStringRef)string_, nullptr, 0, 0);
        }
        wipeContents(units_);
    }

    NSMutableString* string() const { return string_; }

private:
    MacSecretText() = default;

    UnitBuffer units_;
    NSMutableString* string_ = nil;
};

// ---------------------------------------------------------------------------------------------
// Pasteboard

class MacPasteboardItem final : public PasteboardItem {
public:
    MacPasteboardItem() : item_([[NSPasteboardItem alloc] init]) {}

    bool setString(const SecretText& text, std::string_view type) override {
        const auto* secret = dynamic_cast<const MacSecretText*>(&text);
        if (secret == nullptr || secret->string() == nil) {
            return false;
        }
        @autoreleasepool {
            NSString* typeName = makeNSString(type);
            if (typeName == nil) {
                return false;
            }
            // The item gets an immutable copy: it must hold the text as it is now, even if the
            // secret is emptied before the item reaches the pasteboard.
            NSString* value = [secret->string() copy];
            return [item_ setString:value forType:typeName];
        }
    }

    bool setData(std::span<const std::uint8_t> data, std::string_view type) override {
        @autoreleasepool {
            NSString* typeName = makeNSString(type);
            if (typeName == nil) {
                return false;
            }
            NSData* bytes = [NSData dataWithBytes:data.data() length:data.size()];
            return [item_ setData:bytes forType:typeName];
        }
    }

    NSPasteboardItem* item() const { return item_; }

private:
    NSPasteboardItem* item_;
};

// ---------------------------------------------------------------------------------------------
// The verified write

constexpr std::string_view valueAttribute = "AXValue";

// The field's "AXNumberOfCharacters"; absent when the read fails or gives no number.
std::optional<std::int64_t> characterCount(AXUIElementRef field) {
    Owned<CFTypeRef> value;
    if (AXUIElementCopyAttributeValue(field, CFSTR("AXNumberOfCharacters"), value.out()) != kAXErrorSuccess ||
        isNoValue(value.get()) || CFGetTypeID(value.get()) != CFNumberGetTypeID()) {
        return std::nullopt;
    }
    std::int64_t count = 0;
    if (!CFNumberGetValue(static_cast<CFNumberRef>(value.get()), kCFNumberSInt64Type, &count)) {
        return std::nullopt;
    }
    return count;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Accessibility

MacPlatform::MacPlatform() {
    setProcessMessagingTimeout(callDeadlineSeconds);
}

void MacPlatform::prepareForStop() {
    setProcessMessagingTimeout(stopCallDeadlineSeconds);
}

bool MacPlatform::isProcessTrusted() {
    return AXIsProcessTrusted() != 0;
}

Element MacPlatform::createApplicationElement(std::int32_t pid) {
    return adoptElement(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
}

AttributeRead MacPlatform::copyAttributeValue(const Element& element, std::string_view attribute) {
    const AXUIElementRef ref = refOf(element);
    Owned<CFStringRef> name = makeString(attribute);
    if (ref == nullptr || !name) {
        return AttributeRead{axErrorIllegalArgument, std::nullopt};
    }
    Owned<CFTypeRef> value;
    const ::AXError error = AXUIElementCopyAttributeValue(ref, name.get(), value.out());
    if (error != kAXErrorSuccess) {
        return AttributeRead{static_cast<cpi::AXError>(error), std::nullopt};
    }
    if (isNoValue(value.get())) {
        return AttributeRead{};
    }
    return AttributeRead{axErrorSuccess, attributeValueFrom(value.get(), 0)};
}

std::vector<AttributeRead> MacPlatform::copyAttributeValues(const Element& element,
                                                            std::span<const std::string_view> attributes) {
    std::vector<AttributeRead> reads;
    if (attributes.empty()) {
        return reads;
    }
    const auto oneByOne = [&] {
        std::vector<AttributeRead> single;
        single.reserve(attributes.size());
        for (std::string_view attribute : attributes) {
            single.push_back(copyAttributeValue(element, attribute));
        }
        return single;
    };

    const AXUIElementRef ref = refOf(element);
    if (ref == nullptr) {
        return oneByOne();
    }
    std::vector<Owned<CFStringRef>> names;
    std::vector<const void*> nameRefs;
    names.reserve(attributes.size());
    nameRefs.reserve(attributes.size());
    for (std::string_view attribute : attributes) {
        names.push_back(makeString(attribute));
        if (!names.back()) {
            return oneByOne();
        }
        nameRefs.push_back(names.back().get());
    }
    const auto count = static_cast<CFIndex>(nameRefs.size());
    Owned<CFArrayRef> nameList(
        CFArrayCreate(kCFAllocatorDefault, nameRefs.data(), count, &kCFTypeArrayCallBacks));
    if (!nameList) {
        return oneByOne();
    }

    // Options 0: a failing attribute does not stop the others; its error comes back in its place.
    Owned<CFArrayRef> values;
    const ::AXError error = AXUIElementCopyMultipleAttributeValues(ref, nameList.get(), 0, values.out());
    if (error == kAXErrorNotImplemented) {
        return oneByOne();
    }
    if (error != kAXErrorSuccess) {
        reads.assign(attributes.size(), AttributeRead{static_cast<cpi::AXError>(error), std::nullopt});
        return reads;
    }
    if (!values || CFGetTypeID(values.get()) != CFArrayGetTypeID() ||
        CFArrayGetCount(values.get()) != count) {
        return oneByOne();
    }
    reads.reserve(attributes.size());
    for (CFIndex index = 0; index < count; ++index) {
        reads.push_back(readFromEntry(CFArrayGetValueAtIndex(values.get(), index)));
    }
    return reads;
}

AXError MacPlatform::setAttributeValue(const Element& element, std::string_view attribute, bool value) {
    const AXUIElementRef ref = refOf(element);
    Owned<CFStringRef> name = makeString(attribute);
    if (ref == nullptr || !name) {
        return axErrorIllegalArgument;
    }
    return AXUIElementSetAttributeValue(ref, name.get(), value ? kCFBooleanTrue : kCFBooleanFalse);
}

AXError MacPlatform::setAttributeValue(const Element& element, std::string_view attribute,
                                       const SecretText& value) {
    const AXUIElementRef ref = refOf(element);
    Owned<CFStringRef> name = makeString(attribute);
    const auto* secret = dynamic_cast<const MacSecretText*>(&value);
    if (ref == nullptr || !name || secret == nullptr || secret->string() == nil) {
        return axErrorIllegalArgument;
    }
    const ::AXError error =
        AXUIElementSetAttributeValue(ref, name.get(), (__bridge CFTypeRef)secret->string());
    if (error != kAXErrorSuccess || attribute != valueAttribute) {
        return error;
    }
    // Chrome answers the set by queuing the value for its renderer: success means "queued". The
    // value is in the field once the field counts as many characters (UTF-16 code units, as
    // CFString counts them) as the secret has.
    const auto wanted = static_cast<std::int64_t>(CFStringGetLength((__bridge CFStringRef)secret->string()));
    const Arrival arrival = waitForArrival([&] { return characterCount(ref) == wanted; }, valueArrivalTimeout,
                                           valueArrivalPoll, process::stopRequested, steadyWaitClock());
    return arrival == Arrival::arrived ? kAXErrorSuccess : kAXErrorFailure;
}

AXError MacPlatform::isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) {
    settable = false;
    const AXUIElementRef ref = refOf(element);
    Owned<CFStringRef> name = makeString(attribute);
    if (ref == nullptr || !name) {
        return axErrorIllegalArgument;
    }
    Boolean flag = false;
    const ::AXError error = AXUIElementIsAttributeSettable(ref, name.get(), &flag);
    settable = error == kAXErrorSuccess && flag != 0;
    return error;
}

std::optional<std::uint32_t> MacPlatform::windowNumber(const Element& element) {
    const AXUIElementRef ref = refOf(element);
    if (ref == nullptr) {
        return std::nullopt;
    }
    CGWindowID number = 0;
    if (_AXUIElementGetWindow(ref, &number) != kAXErrorSuccess) {
        return std::nullopt;
    }
    return number;
}

Element MacPlatform::createElementWithRemoteToken(std::span<const std::uint8_t> token) {
    static const UInt8 empty[1] = {0};
    Owned<CFDataRef> data(CFDataCreate(kCFAllocatorDefault, token.empty() ? empty : token.data(),
                                       static_cast<CFIndex>(token.size())));
    if (!data) {
        return Element();
    }
    return adoptElement(_AXUIElementCreateWithRemoteToken(data.get()));
}

bool MacPlatform::elementsEqual(const Element& first, const Element& second) {
    const AXUIElementRef one = refOf(first);
    const AXUIElementRef other = refOf(second);
    return one != nullptr && other != nullptr && CFEqual(one, other) != 0;
}

// ---------------------------------------------------------------------------------------------
// Running applications

std::vector<RunningApplicationRef>
MacPlatform::runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) {
    std::vector<RunningApplicationRef> result;
    @autoreleasepool {
        NSString* identifier = makeNSString(bundleIdentifier);
        if (identifier == nil) {
            return result;
        }
        turnMainRunLoop();
        NSArray<NSRunningApplication*>* applications =
            [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier];
        result.reserve(applications.count);
        for (NSRunningApplication* application in applications) {
            result.push_back(std::make_shared<const MacRunningApplication>(application));
        }
    }
    return result;
}

RunningApplicationRef MacPlatform::runningApplicationWithProcessIdentifier(std::int32_t pid) {
    @autoreleasepool {
        turnMainRunLoop();
        NSRunningApplication* application =
            [NSRunningApplication runningApplicationWithProcessIdentifier:static_cast<pid_t>(pid)];
        if (application == nil) {
            return nullptr;
        }
        return std::make_shared<const MacRunningApplication>(application);
    }
}

// ---------------------------------------------------------------------------------------------
// Window server and display

std::optional<std::vector<WindowRecord>> MacPlatform::copyWindowInfo(std::uint32_t options) {
    Owned<CFArrayRef> snapshot(CGWindowListCopyWindowInfo(options, kCGNullWindowID));
    if (!snapshot || CFGetTypeID(snapshot.get()) != CFArrayGetTypeID()) {
        return std::nullopt;
    }
    const CFIndex count = CFArrayGetCount(snapshot.get());
    std::vector<WindowRecord> records;
    records.reserve(static_cast<std::size_t>(count));
    for (CFIndex index = 0; index < count; ++index) {
        const CFTypeRef item = CFArrayGetValueAtIndex(snapshot.get(), index);
        if (item == nullptr || CFGetTypeID(item) != CFDictionaryGetTypeID()) {
            return std::nullopt;
        }
        const auto dictionary = static_cast<CFDictionaryRef>(item);
        WindowRecord record;
        record.ownerPid = numberFrom(dictionary, kCGWindowOwnerPID);
        record.layer = numberFrom(dictionary, kCGWindowLayer);
        record.number = numberFrom(dictionary, kCGWindowNumber);
        const CFTypeRef bounds = CFDictionaryGetValue(dictionary, kCGWindowBounds);
        if (bounds != nullptr && CFGetTypeID(bounds) == CFDictionaryGetTypeID()) {
            const auto boundsMap = static_cast<CFDictionaryRef>(bounds);
            record.width = numberFrom(boundsMap, CFSTR("Width"));
            record.height = numberFrom(boundsMap, CFSTR("Height"));
            CGRect rect{};
            if (CGRectMakeWithDictionaryRepresentation(boundsMap, &rect)) {
                record.bounds = Rect{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

Rect MacPlatform::mainDisplayBounds() {
    const CGRect bounds = CGDisplayBounds(CGMainDisplayID());
    return Rect{bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height};
}

// ---------------------------------------------------------------------------------------------
// Secrets and the general pasteboard

std::unique_ptr<SecretText> MacPlatform::createSecretText(std::span<const char> utf8) {
    return MacSecretText::create(utf8);
}

std::unique_ptr<PasteboardItem> MacPlatform::createPasteboardItem() {
    @autoreleasepool {
        return std::make_unique<MacPasteboardItem>();
    }
}

std::string MacPlatform::plainTextPasteboardType() {
    return utf8From((__bridge CFStringRef)NSPasteboardTypeString).value_or(std::string());
}

// Empties the pasteboard like clearContents, and marks what is written next as this Mac's only:
// after a plain clearContents a write is offered to the user's other devices (Universal
// Clipboard), and a secret handed over for a few seconds must not travel.
std::int64_t MacPlatform::clearPasteboard() {
    @autoreleasepool {
        return static_cast<std::int64_t>([[NSPasteboard generalPasteboard]
            prepareForNewContentsWithOptions:NSPasteboardContentsCurrentHostOnly]);
    }
}

bool MacPlatform::writePasteboardItems(std::span<PasteboardItem* const> items) {
    @autoreleasepool {
        NSMutableArray<NSPasteboardItem*>* objects = [NSMutableArray arrayWithCapacity:items.size()];
        for (PasteboardItem* item : items) {
            const auto* macItem = dynamic_cast<const MacPasteboardItem*>(item);
            if (macItem == nullptr) {
                return false;
            }
            [objects addObject:macItem->item()];
        }
        return [[NSPasteboard generalPasteboard] writeObjects:objects];
    }
}

std::int64_t MacPlatform::pasteboardChangeCount() {
    @autoreleasepool {
        return static_cast<std::int64_t>([NSPasteboard generalPasteboard].changeCount);
    }
}

// ---------------------------------------------------------------------------------------------
// Clock, sleep and the end of the process

double MacPlatform::currentTime() {
    @autoreleasepool {
        return [NSDate date].timeIntervalSince1970;
    }
}

// At most this long passes between two looks at the clock, so that the end of a wait that a
// system sleep has overrun is seen soon after the wake (a timeout inside a run-loop turn or a
// thread sleep runs on the clock that stops while the Mac sleeps).
constexpr double sleepSliceSeconds = 0.25;

// The end is measured on a clock that counts system sleep: the clipboard handoff's 20-second hold
// must not grow by the time a closed lid kept the Mac asleep. On the main thread the wait runs the
// main run loop, so that what changes meanwhile (Chrome quitting, a new window) is what the next
// read sees; when the loop has nothing to run it returns at once, and the thread sleeps instead.
void MacPlatform::sleep(double seconds) {
    if (!(seconds > 0)) {
        return;
    }
    const bool mainThread = [NSThread isMainThread];
    const double end = continuousSeconds() + seconds;
    for (double left = seconds; left > 0; left = end - continuousSeconds()) {
        const double slice = std::min(left, sleepSliceSeconds);
        @autoreleasepool {
            if (!mainThread ||
                CFRunLoopRunInMode(kCFRunLoopDefaultMode, slice, false) == kCFRunLoopRunFinished) {
                [NSThread sleepForTimeInterval:slice];
            }
        }
    }
}

void MacPlatform::exitProcess(int status) {
    std::exit(status);
}

void MacPlatform::terminateProcess(int status) {
    ::_exit(status);
}

} // namespace cpi
