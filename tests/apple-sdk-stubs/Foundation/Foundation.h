// Declaration stubs: the Foundation classes and methods that the macOS sources use, with the
// signatures of Apple's public SDK. Type-check only (Objective-C++ with ARC).
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <CoreFoundation/CoreFoundation.h>

#if defined(__OBJC__)

// objc.h, NSObjCRuntime.h
typedef bool BOOL;
#define YES __objc_yes
#define NO __objc_no
#define nil nullptr
typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
#define NS_OPTIONS(type, name)                                                                               \
    type name;                                                                                               \
    enum : type

_Pragma("clang assume_nonnull begin")

    @protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject<NSObject> {
    Class isa;
}
+ (instancetype)alloc;
- (instancetype)init;
- (id)copy;
@end

// NSEnumerator.h
typedef struct {
    unsigned long state;
    id __unsafe_unretained _Nullable* _Nullable itemsPtr;
    unsigned long* _Nullable mutationsPtr;
    unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

// NSString.h
@interface NSString : NSObject
@end

@interface NSMutableString : NSString
- (void)setString:(NSString*)aString;
@end

// NSArray.h
@interface NSArray<__covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
@end

@interface NSMutableArray<ObjectType> : NSArray <ObjectType>
+ (instancetype)arrayWithCapacity:(NSUInteger)numItems;
- (void)addObject:(ObjectType)anObject;
@end

// NSData.h
@interface NSData : NSObject
+ (instancetype)dataWithBytes:(nullable const void*)bytes length:(NSUInteger)length;
@end

// NSDate.h
@interface NSDate : NSObject
+ (instancetype)date;
@property(readonly) NSTimeInterval timeIntervalSince1970;
@end

// NSThread.h
@interface NSThread : NSObject
+ (void)sleepForTimeInterval:(NSTimeInterval)ti;
@property(class, readonly) BOOL isMainThread;
@end

_Pragma("clang assume_nonnull end")

#endif // __OBJC__
