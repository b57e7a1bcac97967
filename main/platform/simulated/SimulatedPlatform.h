// The simulated backend: answers every platform call from a scenario (a JSON document describing
// Chrome's Accessibility tree, the running applications, the window server, the display, the
// pasteboard and the events that happen while the tool runs) and records what the tool did in a
// journal (JSON Lines). The scenario format and the journal are documented in
// docs/simulated-chrome.md.
//
// Every Platform call may come from the main thread or from the stop-signal thread; the state is
// guarded by one mutex that is never held across a real sleep or while waiting for a signal that
// the backend sent to its own process.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cpi {

// A scenario that cannot be used. The message starts with the JSON path of the problem, such as
// `applications[0].root.children[2]: unknown key "rol"`.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SimulatedPlatform final : public Platform {
public:
    // Builds the platform from `scenario`; with `journalPath`, the journal is written to that file
    // (created or truncated). Throws ScenarioError for anything invalid or not understood, and for
    // a journal that cannot be opened.
    static std::unique_ptr<SimulatedPlatform> load(const nlohmann::json& scenario,
                                                   std::optional<std::string> journalPath);

    // A platform whose state is a copy of this one's as it is now (elements, applications,
    // pasteboard, events, counters and clock), without a journal. A copy of a platform that has
    // not been called yet is the platform that loading its scenario again gives, only sooner: the
    // fuzz targets run the tool many times over one loaded scenario this way.
    std::unique_ptr<SimulatedPlatform> copy() const;

    ~SimulatedPlatform() override;
    SimulatedPlatform(const SimulatedPlatform&) = delete;
    SimulatedPlatform& operator=(const SimulatedPlatform&) = delete;

    // The element's "id", or its path such as "501/windows/0/children/3"; "" for a handle that is
    // not an element of this platform.
    std::string elementName(const Element& element) const;

    // Observations for tests ------------------------------------------------------------------
    // How often the platform operation `name` was called (names as in the journal's "calls").
    std::int64_t callCount(std::string_view name) const;
    // Accessibility calls that crossed to the application.
    std::int64_t roundTrips() const;
    // Seconds the clock has advanced since the start of the run.
    double clockSeconds() const;
    // The general pasteboard's items, each an object from type to value as the journal writes
    // them (an empty list after a clear).
    nlohmann::ordered_json pasteboardContents() const;
    // Whether the stop path has asked for its short deadlines (`prepareForStop`). The simulated
    // calls answer at once, so the request changes nothing else here.
    bool preparedForStop() const;

    // Platform ----------------------------------------------------------------------------------
    bool isProcessTrusted() override;
    Element createApplicationElement(std::int32_t pid) override;
    AttributeRead copyAttributeValue(const Element& element, std::string_view attribute) override;
    std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                   std::span<const std::string_view> attributes) override;
    AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) override;
    AXError setAttributeValue(const Element& element, std::string_view attribute,
                              const SecretText& value) override;
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override;
    std::optional<std::uint32_t> windowNumber(const Element& element) override;
    Element createElementWithRemoteToken(std::span<const std::uint8_t> token) override;
    bool elementsEqual(const Element& first, const Element& second) override;

    std::vector<RunningApplicationRef>
    runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) override;
    RunningApplicationRef runningApplicationWithProcessIdentifier(std::int32_t pid) override;

    std::optional<std::vector<WindowRecord>> copyWindowInfo(std::uint32_t options) override;
    Rect mainDisplayBounds() override;

    std::unique_ptr<SecretText> createSecretText(std::span<const char> utf8) override;
    std::unique_ptr<PasteboardItem> createPasteboardItem() override;
    std::string plainTextPasteboardType() override;
    std::int64_t clearPasteboard() override;
    bool writePasteboardItems(std::span<PasteboardItem* const> items) override;
    std::int64_t pasteboardChangeCount() override;

    void prepareForStop() override;
    double currentTime() override;
    void sleep(double seconds) override;
    // Records `status` for the journal's exit line and calls std::exit. The exit line is written
    // by an exit handler registered when the first platform was created, so it follows whatever
    // the tool's own exit handlers do.
    [[noreturn]] void exitProcess(int status) override;
    // Records `status`, writes the journal's exit line at once and ends the process with _exit.
    [[noreturn]] void terminateProcess(int status) override;

    struct State; // the scenario's live state (SimulatedState.h)

private:
    explicit SimulatedPlatform(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace cpi
