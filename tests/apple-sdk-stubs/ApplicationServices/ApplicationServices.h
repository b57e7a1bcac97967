// Declaration stubs: the Accessibility (HIServices) symbols that the macOS sources use, with the
// signatures of Apple's public SDK (AXError.h, AXUIElement.h, AXValue.h). Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <stdint.h>
#include <sys/types.h>

extern "C" {

// AXError.h
enum AXError : int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorNotImplemented = -25208,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
};
typedef enum AXError AXError;

// AXValue.h
typedef const struct CF_BRIDGED_TYPE(id) __AXValue* AXValueRef;
enum AXValueType : uint32_t {
    kAXValueTypeAXError = 5,
};
typedef enum AXValueType AXValueType;

CFTypeID AXValueGetTypeID(void);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

// AXUIElement.h
typedef const struct CF_BRIDGED_TYPE(id) __AXUIElement* AXUIElementRef;
typedef UInt32 AXCopyMultipleAttributeOptions;

Boolean AXIsProcessTrusted(void);
CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide(void);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value);
AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options, CFArrayRef* values);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute, Boolean* settable);

} // extern "C"
