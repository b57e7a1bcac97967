// Declaration stubs: the libproc function that the macOS sources use, with the signature of
// Apple's public SDK (libproc.h, which includes sys/proc_info.h). Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <stdint.h>
#include <sys/proc_info.h>

extern "C" {

int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);

} // extern "C"
