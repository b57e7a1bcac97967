// Declaration stubs: the Mach time symbols that the macOS sources use, with the signatures of
// Apple's public SDK (mach/mach_time.h; kern_return_t and KERN_SUCCESS from mach/kern_return.h and
// mach/machine/kern_return.h). Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <stdint.h>

extern "C" {

typedef int kern_return_t;
#define KERN_SUCCESS 0

struct mach_timebase_info {
    uint32_t numer;
    uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;

kern_return_t mach_timebase_info(mach_timebase_info_t info);
uint64_t mach_absolute_time(void);
uint64_t mach_continuous_time(void);

} // extern "C"
