#include "platform/linux/ClipboardTargets.h"

namespace cpi::x11 {

namespace {
constexpr std::string_view plainTextMimeTarget = "text/plain;charset=utf-8";
constexpr std::string_view concealedType = "org.nspasteboard.ConcealedType";
constexpr std::string_view concealedTarget = "x-kde-passwordManagerHint";
constexpr std::string_view concealedValue = "secret";
} // namespace

ClipboardContents clipboardTargets(std::span<const std::pair<std::string, SecureBytes>> representations) {
    ClipboardContents targets;
    for (const auto& [type, data] : representations) {
        if (type == plainTextTarget) {
            targets.emplace_back(std::string(plainTextTarget), data);
            targets.emplace_back(std::string(plainTextMimeTarget), data);
        } else if (type == concealedType) {
            targets.emplace_back(std::string(concealedTarget),
                                 SecureBytes(concealedValue.begin(), concealedValue.end()));
        } else {
            targets.emplace_back(type, data);
        }
    }
    return targets;
}

} // namespace cpi::x11
