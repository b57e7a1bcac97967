// Helpers for the discovery tests: scenarios on the simulated platform, a platform wrapper that
// counts round trips, and readable names for elements.
#pragma once

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
class CountingPlatform : public Platform {
public:
    explicit CountingPlatform(Platform& inner) : inner_(inner) {}

    long singleReads = 0;   // copyAttributeValue
    long multipleReads = 0; // copyAttributeValues
    long otherCalls = 0;    // window numbers, tokens, settable tests
    long roundTrips() const { return singleReads + multipleReads + otherCalls; }

    bool isProcessTrusted() override { return inner_.isProcessTrusted(); }
    Element createApplicationElement(std::int32_t pid) override {
        return inner_.createApplicationElement(pid);
    }
    AttributeRead copyAttributeValue(const Element& element, std::string_view attribute) override {
        ++singleReads;
        return inner_.copyAttributeValue(element, attribute);
    }
    std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                   std::span<const std::string_view> attributes) override {
        ++multipleReads;
        return inner_.copyAttributeValues(element, attributes);
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) override {
        return inner_.setAttributeValue(element, attribute, value);
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute,
                              const SecretText& value) override {
        return inner_.setAttributeValue(element, attribute, value);
    }
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override {
        ++otherCalls;
        return inner_.isAttributeSettable(element, attribute, settable);
    }
    std::optional<std::uint32_t> windowNumber(const Element& element) override {
        ++otherCalls;
        return inner_.windowNumber(element);
    }
    Element createElementWithRemoteToken(std::span<const std::uint8_t> token) override {
        ++otherCalls;
        return inner_.createElementWithRemoteToken(token);
    }
    bool elementsEqual(const Element& first, const Element& second) override {
        return inner_.elementsEqual(first, second);
    }
    std::vector<RunningApplicationRef>
    runningApplicationsWithBundleIdentifier(std::string_view bundle) override {
        return inner_.runningApplicationsWithBundleIdentifier(bundle);
    }
    RunningApplicationRef runningApplicationWithProcessIdentifier(std::int32_t pid) override {
        return inner_.runningApplicationWithProcessIdentifier(pid);
    }
    std::optional<std::vector<WindowRecord>> copyWindowInfo(std::uint32_t options) override {
        return inner_.copyWindowInfo(options);
    }
    Rect mainDisplayBounds() override { return inner_.mainDisplayBounds(); }
    std::unique_ptr<SecretText> createSecretText(std::span<const char> utf8) override {
        return inner_.createSecretText(utf8);
    }
    std::unique_ptr<PasteboardItem> createPasteboardItem() override { return inner_.createPasteboardItem(); }
    std::string plainTextPasteboardType() override { return inner_.plainTextPasteboardType(); }
    std::int64_t clearPasteboard() override { return inner_.clearPasteboard(); }
    bool writePasteboardItems(std::span<PasteboardItem* const> items) override {
        return inner_.writePasteboardItems(items);
    }
    std::int64_t pasteboardChangeCount() override { return inner_.pasteboardChangeCount(); }
    double currentTime() override { return inner_.currentTime(); }
    void sleep(double seconds) override { inner_.sleep(seconds); }
    [[noreturn]] void exitProcess(int status) override {
        inner_.exitProcess(status);
        std::abort();
    }
    [[noreturn]] void terminateProcess(int status) override {
        inner_.terminateProcess(status);
        std::abort();
    }

private:
    Platform& inner_;
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
