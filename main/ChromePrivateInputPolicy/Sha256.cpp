#include "ChromePrivateInputPolicy/Sha256.h"

#include <new>

#ifdef __APPLE__
#include <CommonCrypto/CommonDigest.h>
#include <algorithm>
#else
#include <openssl/evp.h>
#endif

namespace cpi {

Sha256Digest sha256(std::string_view bytes) {
    Sha256Digest digest{};
#ifdef __APPLE__
    // CC_LONG is 32 bits wide: feed longer inputs in pieces.
    CC_SHA256_CTX context;
    CC_SHA256_Init(&context);
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    do {
        const std::size_t piece = std::min<std::size_t>(left, 1u << 30);
        CC_SHA256_Update(&context, data, static_cast<CC_LONG>(piece));
        data += piece;
        left -= piece;
    } while (left > 0);
    CC_SHA256_Final(digest.data(), &context);
#else
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size()) {
        throw std::bad_alloc();
    }
#endif
    return digest;
}

} // namespace cpi
