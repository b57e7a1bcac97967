// Declaration stubs of the macOS SDK's <sys/event.h> (kqueue), as XNU's bsd/sys/event.h declares
// them, for the type-check on machines without the SDK.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <stdint.h>
#include <sys/types.h>
#include <time.h>

struct kevent {
    uintptr_t ident;
    int16_t filter;
    uint16_t flags;
    uint32_t fflags;
    intptr_t data;
    void* udata;
};

#define EVFILT_SIGNAL (-6)
#define EV_ADD 0x0001
#define EV_DELETE 0x0002
#define EV_ENABLE 0x0004
#define EV_CLEAR 0x0020

#define EV_SET(kevp, a, b, c, d, e, f)                                                                       \
    do {                                                                                                     \
        struct kevent* __kevp__ = (kevp);                                                                    \
        __kevp__->ident = (a);                                                                               \
        __kevp__->filter = (b);                                                                              \
        __kevp__->flags = (c);                                                                               \
        __kevp__->fflags = (d);                                                                              \
        __kevp__->data = (e);                                                                                \
        __kevp__->udata = (f);                                                                               \
    } while (0)

extern "C" {
int kqueue(void);
int kevent(int kq, const struct kevent* changelist, int nchanges, struct kevent* eventlist, int nevents,
           const struct timespec* timeout);
}
