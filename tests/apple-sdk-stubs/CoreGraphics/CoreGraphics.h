// Declaration stubs: the CoreGraphics symbols that the macOS sources use (geometry, the window
// list, the main display), with the signatures of Apple's public SDK. Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <CoreFoundation/CoreFoundation.h>
#include <stdint.h>

extern "C" {

// CGBase.h, CGGeometry.h
typedef double CGFloat;

struct CGPoint {
    CGFloat x;
    CGFloat y;
};
typedef struct CGPoint CGPoint;

struct CGSize {
    CGFloat width;
    CGFloat height;
};
typedef struct CGSize CGSize;

struct CGRect {
    CGPoint origin;
    CGSize size;
};
typedef struct CGRect CGRect;

bool CGRectMakeWithDictionaryRepresentation(CFDictionaryRef dict, CGRect* rect);

// CGWindow.h
typedef uint32_t CGWindowID;
typedef uint32_t CGWindowListOption;
enum : CGWindowListOption {
    kCGWindowListOptionOnScreenOnly = (1 << 0),
    kCGWindowListExcludeDesktopElements = (1 << 4),
};
#define kCGNullWindowID ((CGWindowID)0)

extern const CFStringRef kCGWindowBounds;
extern const CFStringRef kCGWindowLayer;
extern const CFStringRef kCGWindowNumber;
extern const CFStringRef kCGWindowOwnerPID;

CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

// CGDirectDisplay.h
typedef uint32_t CGDirectDisplayID;

CGDirectDisplayID CGMainDisplayID(void);
CGRect CGDisplayBounds(CGDirectDisplayID display);

} // extern "C"
