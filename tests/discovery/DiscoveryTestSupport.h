// Helpers for the discovery tests: scenarios on the simulated platform, a platform wrapper that
// counts round trips, and readable names for elements.
#pragma once

#include "../support/ForwardingPlatform.h"
#include "discovery/AccessibilityElements.h"
#include "platform/Platform.h"
#include "platform/simulated/SimulatedPlatform.h"

#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace cpi::test {

inline std::unique_ptr<Platform> loadScenario(const nlohmann::json& scenario) {
    return SimulatedPlatform::load(scenario, std::nullopt);
}

// A scenario with one running Chrome (pid 501) whose application element is `root`.
inline nlohmann::json chromeWith(nlohmann::json root, nlohmann::json tokens = nlohmann::json::object()) {
    nlohmann::json application = {
        {"pid", 501}, {"bundleIdentifier", "com.google.Chrome"}, {"root", std::move(root)}};
    if (!tokens.empty()) {
        application["tokens"] = std::move(tokens);
    }
    return {{"applications", nlohmann::json::array({application})}};
}

// Forwards every call to `inner` and counts the Accessibility round trips.
class CountingPlatform : public ForwardingPlatform {
public:
    explicit CountingPlatform(Platform& inner) : ForwardingPlatform(inner) {}

    long singleReads = 0;   // copyAttributeValue
    long multipleReads = 0; // copyAttributeValues
    long otherCalls = 0;    // window numbers, tokens, settable tests
    long roundTrips() const { return singleReads + multipleReads + otherCalls; }

    AttributeRead copyAttributeValue(const Element& element, std::string_view attribute) override {
        ++singleReads;
        return ForwardingPlatform::copyAttributeValue(element, attribute);
    }
    std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                   std::span<const std::string_view> attributes) override {
        ++multipleReads;
        return ForwardingPlatform::copyAttributeValues(element, attributes);
    }
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override {
        ++otherCalls;
        return ForwardingPlatform::isAttributeSettable(element, attribute, settable);
    }
    std::optional<std::uint32_t> windowNumber(const Element& element) override {
        ++otherCalls;
        return ForwardingPlatform::windowNumber(element);
    }
    Element createElementWithRemoteToken(std::span<const std::uint8_t> token) override {
        ++otherCalls;
        return ForwardingPlatform::createElementWithRemoteToken(token);
    }
};

// The "AXTitle" of each element ("?" when it has none): tests name their elements by title.
inline std::vector<std::string> titles(Platform& platform, const std::vector<Element>& elements) {
    std::vector<std::string> names;
    for (const Element& element : elements) {
        names.push_back(readString(platform, element, ax::title).value_or("?"));
    }
    return names;
}

} // namespace cpi::test
