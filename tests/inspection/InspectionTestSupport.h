// Helpers for the inspection tests: small Chrome scenarios for the simulated platform, and a
// platform wrapper that records the switch writes and lets a test look at the page-switch lock
// from the platform calls.
#pragma once

#include "../support/ForwardingPlatform.h"
#include "platform/Platform.h"
#include "platform/simulated/SimulatedPlatform.h"
#include "protocol/Requests.h"

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cpi::test {

using nlohmann::json;

// A page whose only field is a focused password field "<prefix>-password".
inline json signInPage(const std::string& prefix, const std::string& url) {
    return {
        {"id", prefix + "-page"},
        {"role", "AXWebArea"},
        {"url", url},
        {"children",
         {{{"role", "AXStaticText"}, {"value", "Password"}},
          {{"id", prefix + "-email"}, {"role", "AXTextField"}, {"focused", false}, {"settable", {"AXValue"}}},
          {{"id", prefix + "-password"},
           {"role", "AXSecureTextField"},
           {"focused", true},
           {"settable", {"AXValue"}}}}}};
}

// A main toolbar with an address bar showing `address` and the avatar button of `profile`.
inline json toolbar(const std::string& prefix, const std::string& profile, const std::string& address) {
    return {{"id", prefix + "-toolbar"},
            {"role", "AXToolbar"},
            {"children",
             {{{"role", "AXButton"}, {"description", "Back"}},
              {{"role", "AXGroup"},
               {"children",
                {{{"id", prefix + "-address"},
                  {"role", "AXTextField"},
                  {"description", "Address and search bar"},
                  {"value", address}}}}},
              {{"id", prefix + "-avatar"}, {"role", "AXButton"}, {"title", profile}},
              {{"role", "AXPopUpButton"}, {"description", "Chrome"}}}}};
}

// A Chrome window "<prefix>" with window number `number`, showing `profile` and `page`.
inline json window(const std::string& prefix, std::uint32_t number, const std::string& profile, json page,
                   const std::string& address = "example.com/login") {
    json children = json::array({toolbar(prefix, profile, address)});
    if (!page.is_null()) {
        children.push_back(std::move(page));
    }
    return {
        {"id", prefix}, {"role", "AXWindow"}, {"windowNumber", number}, {"children", std::move(children)}};
}

inline json chromeApplication(json windows, std::int32_t pid = 501) {
    return {{"pid", pid},
            {"bundleIdentifier", "com.google.Chrome"},
            {"root",
             {{"id", pid == 501 ? "chrome" : "chrome-" + std::to_string(pid)},
              {"role", "AXApplication"},
              {"windows", std::move(windows)}}}};
}
// A braced list of elements is always a list: clang reads a one-element list of json as a copy of
// that element when the parameter is json itself, GCC as an array; this overload decides for both.
inline json chromeApplication(std::initializer_list<json> windows, std::int32_t pid = 501) {
    return chromeApplication(json::array_t(windows), pid);
}

// One Chrome with one "Work" window (number 11) on https://example.com with a focused password
// field.
inline json oneWindowScenario() {
    return {{"applications",
             {chromeApplication({window("w1", 11, "Work", signInPage("w1", "https://example.com/login"))})}}};
}

inline Request workRequest(std::optional<std::uint32_t> windowNumber = 11) {
    return Request{"Work", {"https://example.com"}, windowNumber, std::nullopt};
}

inline std::unique_ptr<SimulatedPlatform> load(const json& scenario) {
    return SimulatedPlatform::load(scenario, std::nullopt);
}

// One set call as the wrapper saw it.
struct SetCall {
    std::string element;
    std::string attribute;
    bool value = false;
    AXError result = 0;
    friend bool operator==(const SetCall&, const SetCall&) = default;
};

// Forwards every call to a simulated platform. Records the boolean set calls and runs `onCall`
// (when set) with the name of each platform operation before forwarding it.
class ObservedPlatform : public ForwardingPlatform {
public:
    explicit ObservedPlatform(SimulatedPlatform& inner) : ForwardingPlatform(inner), inner_(inner) {}

    std::vector<SetCall> sets;
    std::function<void(std::string_view operation)> onCall;

    bool isProcessTrusted() override {
        observe("isProcessTrusted");
        return inner_.isProcessTrusted();
    }
    Element createApplicationElement(std::int32_t pid) override {
        observe("createApplicationElement");
        return inner_.createApplicationElement(pid);
    }
    AttributeRead copyAttributeValue(const Element& element, std::string_view attribute) override {
        observe("copyAttributeValue");
        return inner_.copyAttributeValue(element, attribute);
    }
    std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                   std::span<const std::string_view> attributes) override {
        observe("copyAttributeValues");
        return inner_.copyAttributeValues(element, attributes);
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) override {
        observe("setAttributeValue");
        const AXError result = inner_.setAttributeValue(element, attribute, value);
        sets.push_back({inner_.elementName(element), std::string(attribute), value, result});
        return result;
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute,
                              const SecretText& value) override {
        observe("setAttributeValue");
        return inner_.setAttributeValue(element, attribute, value);
    }
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override {
        observe("isAttributeSettable");
        return inner_.isAttributeSettable(element, attribute, settable);
    }
    std::optional<std::uint32_t> windowNumber(const Element& element) override {
        observe("windowNumber");
        return inner_.windowNumber(element);
    }
    Element createElementWithRemoteToken(std::span<const std::uint8_t> token) override {
        observe("createElementWithRemoteToken");
        return inner_.createElementWithRemoteToken(token);
    }
    std::vector<RunningApplicationRef>
    runningApplicationsWithBundleIdentifier(std::string_view bundle) override {
        observe("runningApplicationsWithBundleIdentifier");
        return inner_.runningApplicationsWithBundleIdentifier(bundle);
    }
    RunningApplicationRef runningApplicationWithProcessIdentifier(std::int32_t pid) override {
        observe("runningApplicationWithProcessIdentifier");
        return inner_.runningApplicationWithProcessIdentifier(pid);
    }
    void sleep(double seconds) override {
        observe("sleep");
        inner_.sleep(seconds);
    }

    std::string nameOf(const Element& element) const { return inner_.elementName(element); }

private:
    void observe(std::string_view operation) {
        if (onCall) {
            onCall(operation);
        }
    }
    SimulatedPlatform& inner_;
};

} // namespace cpi::test
