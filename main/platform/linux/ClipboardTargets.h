// The tool's pasteboard types as X CLIPBOARD targets: plain text is offered as UTF8_STRING and as
// its MIME type, the concealment marker as the hint that Linux clipboard managers honour (keep
// this out of any history), and any other type under its own name.
#pragma once

#include "platform/SecureMemory.h"

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cpi::x11 {

inline constexpr std::string_view plainTextTarget = "UTF8_STRING";

using ClipboardContents = std::vector<std::pair<std::string, SecureBytes>>;

// The targets, in the order of `representations` (type, bytes).
ClipboardContents clipboardTargets(std::span<const std::pair<std::string, SecureBytes>> representations);

} // namespace cpi::x11
