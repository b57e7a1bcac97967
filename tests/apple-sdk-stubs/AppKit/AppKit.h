// Declaration stubs: the AppKit classes and methods that the macOS sources use (running
// applications, the general pasteboard), with the signatures of Apple's public SDK. Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <Foundation/Foundation.h>
#include <sys/types.h>

#if defined(__OBJC__)

_Pragma("clang assume_nonnull begin")

    // NSRunningApplication.h
    enum NSApplicationActivationPolicy : NSInteger {
        NSApplicationActivationPolicyRegular = 0,
    };
typedef enum NSApplicationActivationPolicy NSApplicationActivationPolicy;

@interface NSRunningApplication : NSObject
@property(readonly, getter=isTerminated) BOOL terminated;
@property(nullable, readonly, copy) NSString* bundleIdentifier;
@property(readonly) pid_t processIdentifier;
@property(readonly) NSApplicationActivationPolicy activationPolicy;
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
+ (NSArray<NSRunningApplication*>*)runningApplicationsWithBundleIdentifier:(NSString*)bundleIdentifier;
@end

// NSPasteboard.h, NSPasteboardItem.h
typedef NSString* NSPasteboardType;
extern "C" NSPasteboardType const NSPasteboardTypeString;

@protocol NSPasteboardWriting <NSObject>
@end

@interface NSPasteboardItem : NSObject <NSPasteboardWriting>
- (BOOL)setData:(NSData*)data forType:(NSPasteboardType)type;
- (BOOL)setString:(NSString*)string forType:(NSPasteboardType)type;
@end

typedef NS_OPTIONS(NSUInteger, NSPasteboardContentsOptions) {
    NSPasteboardContentsCurrentHostOnly = 1 << 0,
};

@interface NSPasteboard : NSObject
@property(class, readonly, strong) NSPasteboard* generalPasteboard;
@property(readonly) NSInteger changeCount;
- (NSInteger)clearContents;
- (NSInteger)prepareForNewContentsWithOptions:(NSPasteboardContentsOptions)options;
- (BOOL)writeObjects:(NSArray<id<NSPasteboardWriting>>*)objects;
@end

_Pragma("clang assume_nonnull end")

#endif // __OBJC__
