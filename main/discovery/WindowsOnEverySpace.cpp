#include "discovery/WindowsOnEverySpace.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"

#include <set>

namespace cpi {

std::optional<std::vector<Element>> windowsOnEverySpace(Platform& platform, const Element& app,
                                                        std::int32_t pid) {
    // One more window than a usable list may hold makes the list unusable.
    const std::size_t tooMany = windowListLimit + 1;

    std::vector<Element> windows = readElements(platform, app, ax::windows).value_or(std::vector<Element>());
    if (windows.size() >= tooMany) {
        // The token walk only adds windows: the list is unusable whatever it finds, so neither the
        // numbers of an oversized list nor the 1000 identifiers are asked for.
        return std::nullopt;
    }
    std::set<std::uint32_t> seenNumbers;
    for (const Element& window : windows) {
        if (std::optional<std::uint32_t> number = windowNumberOf(platform, window)) {
            seenNumbers.insert(*number);
        }
    }

    RemoteToken token(pid);
    for (std::uint64_t identifier = 0; identifier < windowElementIDLimit; ++identifier) {
        token.setElementIdentifier(identifier);
        Element element = platform.createElementWithRemoteToken(token.bytes());
        if (!element || readString(platform, element, ax::role) != axRole::window) {
            continue;
        }
        std::optional<std::uint32_t> number = windowNumberOf(platform, element);
        if (!number || !seenNumbers.insert(*number).second) {
            continue;
        }
        windows.push_back(std::move(element));
        if (windows.size() >= tooMany) {
            return std::nullopt;
        }
    }
    return windows;
}

} // namespace cpi
