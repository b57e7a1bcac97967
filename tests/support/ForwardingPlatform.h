// A platform that forwards every call to another one. Test platforms derive from it and override
// only the calls they observe or change.
#pragma once

#include "platform/Platform.h"

#include <cstdlib>

namespace cpi::test {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(Platform& inner) : inner_(&inner) {}

    bool isProcessTrusted() override { return inner_->isProcessTrusted(); }
    Element createApplicationElement(std::int32_t pid) override {
        return inner_->createApplicationElement(pid);
    }
    AttributeRead copyAttributeValue(const Element& element, std::string_view attribute) override {
        return inner_->copyAttributeValue(element, attribute);
    }
    std::vector<AttributeRead> copyAttributeValues(const Element& element,
                                                   std::span<const std::string_view> attributes) override {
        return inner_->copyAttributeValues(element, attributes);
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) override {
        return inner_->setAttributeValue(element, attribute, value);
    }
    AXError setAttributeValue(const Element& element, std::string_view attribute,
                              const SecretText& value) override {
        return inner_->setAttributeValue(element, attribute, value);
    }
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override {
        return inner_->isAttributeSettable(element, attribute, settable);
    }
    std::optional<std::uint32_t> windowNumber(const Element& element) override {
        return inner_->windowNumber(element);
    }
    Element createElementWithRemoteToken(std::span<const std::uint8_t> token) override {
        return inner_->createElementWithRemoteToken(token);
    }
    bool elementsEqual(const Element& first, const Element& second) override {
        return inner_->elementsEqual(first, second);
    }
    std::vector<RunningApplicationRef>
    runningApplicationsWithBundleIdentifier(std::string_view bundle) override {
        return inner_->runningApplicationsWithBundleIdentifier(bundle);
    }
    RunningApplicationRef runningApplicationWithProcessIdentifier(std::int32_t pid) override {
        return inner_->runningApplicationWithProcessIdentifier(pid);
    }
    std::optional<std::vector<WindowRecord>> copyWindowInfo(std::uint32_t options) override {
        return inner_->copyWindowInfo(options);
    }
    Rect mainDisplayBounds() override { return inner_->mainDisplayBounds(); }
    std::unique_ptr<SecretText> createSecretText(std::span<const char> utf8) override {
        return inner_->createSecretText(utf8);
    }
    std::unique_ptr<PasteboardItem> createPasteboardItem() override { return inner_->createPasteboardItem(); }
    std::string plainTextPasteboardType() override { return inner_->plainTextPasteboardType(); }
    std::int64_t clearPasteboard() override { return inner_->clearPasteboard(); }
    bool writePasteboardItems(std::span<PasteboardItem* const> items) override {
        return inner_->writePasteboardItems(items);
    }
    std::int64_t pasteboardChangeCount() override { return inner_->pasteboardChangeCount(); }
    void prepareForStop() override { inner_->prepareForStop(); }
    double currentTime() override { return inner_->currentTime(); }
    void sleep(double seconds) override { inner_->sleep(seconds); }
    [[noreturn]] void exitProcess(int status) override {
        inner_->exitProcess(status);
        std::abort();
    }
    [[noreturn]] void terminateProcess(int status) override {
        inner_->terminateProcess(status);
        std::abort();
    }

private:
    Platform* inner_;
};

} // namespace cpi::test
