// Origins: arbitrary URL and address texts, one per line: the first line is the address bar, the
// others are page URLs and allowed origins at once.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "fuzz/FuzzInput.h"

#include <cstdlib>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using P = cpi::ChromePrivateInputPolicy;
    const std::vector<std::string> lines = cpi::fuzz::fields(cpi::fuzz::text(data, size));
    std::vector<std::optional<std::string>> pageOrigins;
    // Whether a page reported a URL at all: every other line says it did.
    std::vector<bool> reportsUrl;
    for (const std::string& line : lines) {
        reportsUrl.push_back(reportsUrl.size() % 2 == 1);
        std::optional<std::string> origin = P::httpsOrigin(line);
        // An origin is itself a URL whose origin it is.
        if (origin && P::httpsOrigin(*origin) != origin) {
            std::abort();
        }
        pageOrigins.push_back(std::move(origin));
    }
    for (const std::optional<std::string>& origin : pageOrigins) {
        if (origin) {
            (void)P::addressShowsOrigin(lines.front(), *origin);
        }
    }
    const std::vector<std::string> allowed(lines.begin() + 1, lines.end());
    const std::optional<std::size_t> index =
        P::originPageIndex(lines.front(), pageOrigins, reportsUrl, allowed);
    if (index && *index >= pageOrigins.size()) {
        std::abort();
    }
    // A page without an origin that reports a URL is never accepted.
    if (index && !pageOrigins[*index] && reportsUrl[*index]) {
        std::abort();
    }
    (void)P::originPageIndex(lines.front(), pageOrigins, {}, allowed);
    (void)P::originPageIndex(std::nullopt, pageOrigins, reportsUrl, allowed);
    (void)P::originCheck(true, lines.front(), pageOrigins, allowed);
    return 0;
}
