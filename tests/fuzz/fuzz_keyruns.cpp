// Key runs: the scanner against the key-run pattern run by PCRE2, on arbitrary bytes.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "fuzz/FuzzInput.h"
#include "policy/PatternRuns.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const cpi::PatternRuns pattern;
    const std::string_view text = cpi::fuzz::text(data, size);
    const std::vector<std::string> scanned = cpi::ChromePrivateInputPolicy::keyRuns(text);
    const std::optional<std::vector<std::string>> reference = pattern(text);
    if (reference && scanned != *reference) {
        std::fprintf(stderr, "scanner: %zu runs, pattern: %zu runs\n", scanned.size(), reference->size());
        std::abort();
    }
    for (const std::string& run : scanned) {
        if (cpi::ChromePrivateInputPolicy::keyFingerprint(run).size() != 64) {
            std::abort();
        }
    }
    return 0;
}
