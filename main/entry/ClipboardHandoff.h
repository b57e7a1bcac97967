// The clipboard handoff: a secret on the general pasteboard for 20 seconds, marked as concealed,
// taken off again afterwards unless something else has changed the pasteboard meanwhile.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cpi {

// The marker type that asks clipboard managers not to record the item; its data is empty.
inline constexpr std::string_view concealedPasteboardType = "org.nspasteboard.ConcealedType";
inline constexpr double clipboardHoldSeconds = 20.0;

// The deadline argument, milliseconds since 1970, read as the C library's strtod reads a number in
// the C locale (decimal or hexadecimal, optional sign). Absent when the text is empty, begins with
// white space, is not consumed whole or reads as no finite number (infinity, NaN, an overflow).
std::optional<double> parseDeadline(const std::string& text);

} // namespace cpi
