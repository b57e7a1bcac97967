// Origins: the origin of a URL, whether the address bar shows it, which web area to act on, the
// "originCheck" map, and the address-bar test.
#include "ChromePrivateInputPolicy/AddressBarNames.h"
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "ChromePrivateInputPolicy/ChromeStrings.h"
#include "ChromePrivateInputPolicy/Text.h"

#include <algorithm>
#include <uriparser/Uri.h>
#include <vector>

namespace cpi {
namespace {

constexpr std::string_view httpsPrefix = "https://";

std::string_view rangeText(const UriTextRangeA& range) {
    if (range.first == nullptr || range.afterLast == nullptr) {
        return {};
    }
    return {range.first, static_cast<std::size_t>(range.afterLast - range.first)};
}

// The port text is digits only (the parser admits nothing else). An empty port, as in
// "https://example.com:/", is the scheme's default port; leading zeros do not change the number.
bool isDefaultHttpsPort(std::string_view port) {
    const std::size_t significant = port.find_first_not_of('0');
    return port.empty() || (significant != std::string_view::npos && port.substr(significant) == "443");
}

struct ParsedUri {
    UriUriA uri{};
    bool parsed = false;
    explicit ParsedUri(std::string_view text) {
        const char* errorPosition = nullptr;
        parsed =
            uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPosition) == URI_SUCCESS;
    }
    ~ParsedUri() {
        if (parsed) {
            uriFreeUriMembersA(&uri);
        }
    }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;
};

bool isAllowed(const std::string& origin, const std::vector<std::string>& allowedOrigins) {
    return std::ranges::any_of(allowedOrigins,
                               [&](const std::string& allowed) { return text::sameText(allowed, origin); });
}

} // namespace

std::optional<std::string> ChromePrivateInputPolicy::httpsOrigin(std::string_view url) {
    if (url.empty()) {
        return std::nullopt;
    }
    const ParsedUri parsed(url);
    if (!parsed.parsed) {
        return std::nullopt;
    }
    const UriUriA& uri = parsed.uri;
    // Any user information, even an empty one ("https://@example.com"), refuses the URL.
    if (text::asciiLowerCased(rangeText(uri.scheme)) != "https" || uri.userInfo.first != nullptr ||
        uri.hostText.first == nullptr) {
        return std::nullopt;
    }
    std::string host = text::asciiLowerCased(rangeText(uri.hostText));
    if (host.empty() || (uri.portText.first != nullptr && !isDefaultHttpsPort(rangeText(uri.portText)))) {
        return std::nullopt;
    }
    // The parser hands IP literals over without their brackets; an origin keeps them.
    if (uri.hostData.ip6 != nullptr || uri.hostData.ipFuture.first != nullptr) {
        host = "[" + host + "]";
    }
    return std::string(httpsPrefix) + host;
}

bool ChromePrivateInputPolicy::addressShowsOrigin(std::string_view address, std::string_view pageOrigin) {
    if (!text::isValidUtf8(address)) {
        return false;
    }
    const std::string shown = text::trimmed(address, text::TrimSet::spacesAndTabs);
    if (shown.find("://") != std::string::npos) {
        const std::optional<std::string> origin = httpsOrigin(shown);
        return origin && text::sameText(*origin, pageOrigin);
    }
    // Without a scheme the text is read as an https address: its host part runs up to the first
    // "/", "?" or "#".
    const std::optional<std::string> host = text::lowerCased(shown.substr(0, shown.find_first_of("/?#")));
    if (!host || host->empty() || host->find_first_of("@: ") != std::string::npos) {
        return false;
    }
    return text::sameText(std::string(httpsPrefix) + *host, pageOrigin);
}

std::optional<std::size_t> ChromePrivateInputPolicy::originPageIndex(
    const std::optional<std::string>& address, const std::vector<std::optional<std::string>>& pageOrigins,
    const std::vector<bool>& pagesReportUrl, const std::vector<std::string>& allowedOrigins) {
    if (!address) {
        return std::nullopt;
    }
    std::vector<bool> matches(pageOrigins.size());
    std::transform(pageOrigins.begin(), pageOrigins.end(), matches.begin(),
                   [&](const std::optional<std::string>& origin) {
                       return origin && isAllowed(*origin, allowedOrigins) &&
                              addressShowsOrigin(*address, *origin);
                   });
    if (std::ranges::find(matches, true) != matches.end()) {
        return uniqueMatchIndex(matches);
    }
    // A single web area without an origin is accepted on the address bar's full URL, but only
    // while the page itself says nothing: one that reports a URL off every https origin (plain
    // http, another port, about:blank) contradicts the address bar, which may be showing text the
    // user is typing or a navigation that has not replaced the page yet.
    const bool reportsUrl = !pagesReportUrl.empty() && pagesReportUrl.front();
    if (pageOrigins.size() == 1 && !pageOrigins.front() && !reportsUrl) {
        const std::optional<std::string> shown = httpsOrigin(*address);
        if (shown && isAllowed(*shown, allowedOrigins)) {
            return 0;
        }
    }
    return std::nullopt;
}

CheckMap ChromePrivateInputPolicy::originCheck(bool addressFound, const std::optional<std::string>& address,
                                               const std::vector<std::optional<std::string>>& pageOrigins,
                                               const std::vector<std::string>& allowedOrigins) {
    std::size_t pageUrls = 0;
    std::size_t allowedPages = 0;
    std::size_t addressMatches = 0;
    for (const std::optional<std::string>& origin : pageOrigins) {
        const bool allowed = origin && isAllowed(*origin, allowedOrigins);
        pageUrls += origin ? 1 : 0;
        allowedPages += allowed ? 1 : 0;
        addressMatches += allowed && address && addressShowsOrigin(*address, *origin) ? 1 : 0;
    }
    CheckMap map;
    map.set("addressFound", addressFound ? 1 : 0);
    map.set("addressRead", address ? 1 : 0);
    map.set("addressScheme", address && address->find("://") != std::string::npos ? 1 : 0);
    map.set("webAreas", cappedCount(pageOrigins.size()));
    map.set("pageUrls", cappedCount(pageUrls));
    map.set("allowedPages", cappedCount(allowedPages));
    map.set("addressMatches", cappedCount(addressMatches));
    return map;
}

Verdict<std::size_t>
ChromePrivateInputPolicy::originPage(bool addressFound, const std::optional<std::string>& address,
                                     const std::vector<std::optional<std::string>>& pageOrigins,
                                     const std::vector<bool>& pagesReportUrl,
                                     const std::vector<std::string>& allowedOrigins) {
    if (const std::optional<std::size_t> index =
            originPageIndex(address, pageOrigins, pagesReportUrl, allowedOrigins)) {
        return *index;
    }
    return Refusal{
        ReasonCode::originNotAllowed,
        NamedCheck{CheckName::originCheck, originCheck(addressFound, address, pageOrigins, allowedOrigins)}};
}

bool ChromePrivateInputPolicy::isAddressBar(const std::optional<std::string>& role,
                                            const std::optional<std::string>& description) {
    if (!role || (*role != axRole::comboBox && *role != axRole::textField)) {
        return false;
    }
    const std::optional<std::string> folded = text::caseFolded(description.value_or(std::string()));
    if (!folded) {
        return false;
    }
    if (std::ranges::any_of(chromeStrings::addressBarDescriptions, [&](std::string_view word) {
            return text::findWhole(*folded, word).has_value();
        })) {
        return true;
    }
    // Chrome in another UI language describes it in that language: the description must then be
    // one of the translations, whole. White space at either end is not compared: the Spanish name
    // ends in a space that a bridge may well trim, and no translation differs from another only
    // in it.
    static const std::vector<std::string> translated = [] {
        std::vector<std::string> names;
        for (const AddressBarName& entry : addressBarNames()) {
            names.push_back(text::trimmed(text::caseFolded(entry.name).value_or(std::string()),
                                          text::TrimSet::whitespaceAndNewlines));
        }
        return names;
    }();
    const std::string bare = text::trimmed(*folded, text::TrimSet::whitespaceAndNewlines);
    return !bare.empty() && std::ranges::find(translated, bare) != translated.end();
}

} // namespace cpi
