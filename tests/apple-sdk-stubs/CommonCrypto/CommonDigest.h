// Declaration stubs: CommonCrypto's SHA-256 (CommonDigest.h), with the signatures of Apple's
// public SDK. Type-check only.
#pragma once

#if !defined(CPI_APPLE_SDK_STUBS)
#error "Apple SDK declaration stubs: only for the macOS type-check, never for a real build"
#endif

#include <stdint.h>

extern "C" {

typedef uint32_t CC_LONG;

typedef struct CC_SHA256state_st {
    CC_LONG count[2];
    CC_LONG hash[8];
    CC_LONG wbuf[16];
} CC_SHA256_CTX;

int CC_SHA256_Init(CC_SHA256_CTX* c);
int CC_SHA256_Update(CC_SHA256_CTX* c, const void* data, CC_LONG len);
int CC_SHA256_Final(unsigned char* md, CC_SHA256_CTX* c);

} // extern "C"
