// The real macOS backend: Accessibility (HIServices), CoreFoundation, CoreGraphics' window list and
// display, AppKit's running applications and general pasteboard, Foundation's clock and sleep.
//
// This header is plain C++ so that any translation unit can hold a MacPlatform; everything that
// touches an Apple framework lives in MacPlatform.mm (Objective-C++, compiled with ARC).
#pragma once

#include "platform/Platform.h"

namespace cpi {

class MacPlatform final : public Platform {
public:
    // Gives every Accessibility call of the process its deadline.
    MacPlatform();
    MacPlatform(const MacPlatform&) = delete;
    MacPlatform& operator=(const MacPlatform&) = delete;

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
    [[noreturn]] void exitProcess(int status) override;
    [[noreturn]] void terminateProcess(int status) override;
};

} // namespace cpi
