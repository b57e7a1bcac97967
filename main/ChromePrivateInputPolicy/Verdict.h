// The one shape of every outcome that can be a refusal: a value, or a reason code with, for the
// refusals that explain themselves, one named check map.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace cpi {

// The only values ever written under "reason", each an enumerator and its wire string. A new code
// is one row here and one row in the protocol's reason table.
// clang-format off
#define CPI_REASON_CODES(row)                                                          \
    row(accessibilityUnavailable,          "accessibility_unavailable")                \
    row(siteConfigurationInvalid,          "site_configuration_invalid")               \
    row(chromeWindowUnavailable,           "chrome_window_unavailable")                \
    row(chromeWindowNotOnCurrentSpace,     "chrome_window_not_on_current_space")       \
    row(selectedChromeProfileNotConfirmed, "selected_chrome_profile_not_confirmed")    \
    row(originNotAllowed,                  "origin_not_allowed")                       \
    row(focusedFieldNotSupported,          "focused_field_not_supported")              \
    row(inputUnavailable,                  "input_unavailable")                        \
    row(focusChanged,                      "focus_changed")                            \
    row(pageTextUnavailable,               "page_text_unavailable")                    \
    row(pageKeyNotFound,                   "page_key_not_found")                       \
    row(pageKeyAmbiguous,                  "page_key_ambiguous")
// clang-format on

#define CPI_REASON_ENUMERATOR(code, wire) code,
enum class ReasonCode { CPI_REASON_CODES(CPI_REASON_ENUMERATOR) };
#undef CPI_REASON_ENUMERATOR

struct ReasonCodeRow {
    ReasonCode code;
    std::string_view wire;
};

// Every reason code with its wire string, in the order of the enumeration, so that a code's value
// indexes its row.
#define CPI_REASON_ROW(code, wire) ReasonCodeRow{ReasonCode::code, wire},
inline constexpr std::array reasonCodes{CPI_REASON_CODES(CPI_REASON_ROW)};
#undef CPI_REASON_ROW

// No wire string is empty or written twice (a copied row left as it was).
static_assert([] {
    for (std::size_t i = 0; i < reasonCodes.size(); ++i) {
        if (reasonCodes[i].wire.empty()) {
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (reasonCodes[i].wire == reasonCodes[j].wire) {
                return false;
            }
        }
    }
    return true;
}());

// The wire string of `code` ("origin_not_allowed", ...).
constexpr std::string_view wireName(ReasonCode code) {
    return reasonCodes[static_cast<std::size_t>(code)].wire;
}

// An ordered map from short keys to integers ("windowCheck", "originCheck", "pageSwitch",
// "keyCheck"). Keys keep the order in which they were first set.
class CheckMap {
public:
    using Entry = std::pair<std::string, std::int64_t>;

    // Sets `key`; a key already present keeps its place and takes the new value.
    void set(std::string_view key, std::int64_t value);
    std::optional<std::int64_t> get(std::string_view key) const;
    const std::vector<Entry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    friend bool operator==(const CheckMap&, const CheckMap&) = default;

private:
    std::vector<Entry> entries_;
};

// A count as a check map reports it: at most `cap`, 99 unless a key says otherwise.
template <typename Count>
constexpr std::int64_t cappedCount(Count count, std::int64_t cap = 99) {
    if constexpr (std::is_signed_v<Count>) {
        return std::min(static_cast<std::int64_t>(count), cap);
    } else {
        return static_cast<std::int64_t>(
            std::min(static_cast<std::uint64_t>(count), static_cast<std::uint64_t>(cap)));
    }
}

// The key a refusal's check map is written under.
enum class CheckName { windowCheck, originCheck, keyCheck };

constexpr std::string_view wireName(CheckName name) {
    constexpr std::array<std::string_view, 3> names{"windowCheck", "originCheck", "keyCheck"};
    return names[static_cast<std::size_t>(name)];
}

struct NamedCheck {
    CheckName name;
    CheckMap map;
    friend bool operator==(const NamedCheck&, const NamedCheck&) = default;
};

struct Refusal {
    ReasonCode reason;
    std::optional<NamedCheck> check; // the map that explains the refusal, when it has one
    friend bool operator==(const Refusal&, const Refusal&) = default;
};

// A value, or the refusal that stands instead of it.
template <typename T>
class Verdict {
public:
    Verdict(T value) : outcome_(std::move(value)) {}
    Verdict(Refusal refusal) : outcome_(std::move(refusal)) {}
    Verdict(ReasonCode reason) : outcome_(Refusal{reason, std::nullopt}) {}

    bool accepted() const { return std::holds_alternative<T>(outcome_); }
    explicit operator bool() const { return accepted(); }
    // Only on an accepted verdict.
    T& value() { return std::get<T>(outcome_); }
    const T& value() const { return std::get<T>(outcome_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // Null on an accepted verdict.
    const Refusal* refusal() const { return std::get_if<Refusal>(&outcome_); }

private:
    std::variant<T, Refusal> outcome_;
};

// A check that yields nothing but may refuse.
using Check = Verdict<std::monostate>;

} // namespace cpi
