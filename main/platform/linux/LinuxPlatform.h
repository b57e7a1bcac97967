// The Linux backend: Chromium (or Google Chrome) on the accessibility bus (AT-SPI) and the X
// server. Elements are the bus's objects; windows are X top-level windows, numbered by their X
// window ids; the secret is typed into the focused field through XTest, since no element of
// Chromium takes a value through the bus; the clipboard is the X CLIPBOARD selection.
//
// Each new application element (one per inspection, one per count) takes one snapshot of the
// application's elements through the bus's Cache interface; the inspection's reads of roles,
// names, states and children are then answered from it. Text, addresses, object attributes,
// extents and everything the typing checks are read from the bus when asked.
#pragma once

#include "platform/Platform.h"
#include "platform/linux/AccessibilityBus.h"
#include "platform/linux/ApplicationSnapshot.h"
#include "platform/linux/ChromiumSurface.h"
#include "platform/linux/XDisplay.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cpi {

// How an inspection reads Chromium: from one Cache snapshot per application element (the default),
// or every read from the element itself (what happens anyway when the bridge has no Cache; the
// benchmark compares the two).
enum class BusReads { snapshot, elementByElement };

class LinuxPlatform final : public Platform {
public:
    explicit LinuxPlatform(BusReads reads = BusReads::snapshot);
    ~LinuxPlatform() override;
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

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

    // Every later bus call waits at most the stop path's short deadline.
    void prepareForStop() override { atspi::useStopDeadline(); }
    double currentTime() override;
    void sleep(double seconds) override;
    [[noreturn]] void exitProcess(int status) override;
    [[noreturn]] void terminateProcess(int status) override;

    // Round trips to the bus and the X server so far (for the benchmark).
    std::uint64_t roundTrips() const;

private:
    atspi::AccessibilityBus* bus();
    x11::Display* display();
    // The current look (an empty one before the first application element).
    atspi::ApplicationSnapshot& look();
    AttributeRead readApplication(const atspi::ObjectRef& application, std::string_view attribute);
    AttributeRead readElement(const atspi::ObjectRef& object, std::string_view attribute);
    std::optional<std::int32_t> processOf(const std::string& bus);
    // The typing, in LinuxTyping.cpp.
    AXError typeInto(const atspi::ObjectRef& field, const SecureString& text);

    BusReads reads_;
    std::recursive_mutex mutex_;
    std::unique_ptr<atspi::AccessibilityBus> bus_;
    bool busTried_ = false;
    std::unique_ptr<x11::Display> display_;
    bool displayTried_ = false;
    std::unique_ptr<atspi::ApplicationSnapshot> snapshot_;
    std::map<std::string, std::int32_t> processes_;
};

} // namespace cpi
