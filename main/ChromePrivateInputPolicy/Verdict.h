// The one shape of every outcome that can be a refusal: a value, or a reason code with, for the
// refusals that explain themselves, one named check map.
//
// Where each reason is decided:
//   accessibilityUnavailable          the process is not trusted (inspection, count)
//   siteConfigurationInvalid          isProfileNameUsable, isAllowedOriginCountUsable
//   chromeWindowUnavailable           no single regular Chrome, windowListRefusal, a toolbar too
//                                     large to walk, a profile tied to several avatars (count)
//   chromeWindowNotOnCurrentSpace     windowListRefusal
//   selectedChromeProfileNotConfirmed the window of the profile (inspection; windowCheck), avatarWindows
//   originNotAllowed                  originPageIndex (originCheck)
//   focusedFieldNotSupported          supportsFocusedField and the focused-field stage
//   inputUnavailable                  mutationFailure; settling without a target
//   focusChanged                      the target moved, mutationFailure
//   pageTextUnavailable               the page's key runs, baselineLimit
//   pageKeyNotFound, pageKeyAmbiguous newKey (keyCheck)
#pragma once

#include <algorithm>
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

// The only values ever written under "reason".
enum class ReasonCode {
    accessibilityUnavailable,
    siteConfigurationInvalid,
    chromeWindowUnavailable,
    chromeWindowNotOnCurrentSpace,
    selectedChromeProfileNotConfirmed,
    originNotAllowed,
    focusedFieldNotSupported,
    inputUnavailable,
    focusChanged,
    pageTextUnavailable,
    pageKeyNotFound,
    pageKeyAmbiguous,
};

// The wire string of `code` ("origin_not_allowed", ...).
constexpr std::string_view wireName(ReasonCode code) {
    switch (code) {
    case ReasonCode::accessibilityUnavailable:
        return "accessibility_unavailable";
    case ReasonCode::siteConfigurationInvalid:
        return "site_configuration_invalid";
    case ReasonCode::chromeWindowUnavailable:
        return "chrome_window_unavailable";
    case ReasonCode::chromeWindowNotOnCurrentSpace:
        return "chrome_window_not_on_current_space";
    case ReasonCode::selectedChromeProfileNotConfirmed:
        return "selected_chrome_profile_not_confirmed";
    case ReasonCode::originNotAllowed:
        return "origin_not_allowed";
    case ReasonCode::focusedFieldNotSupported:
        return "focused_field_not_supported";
    case ReasonCode::inputUnavailable:
        return "input_unavailable";
    case ReasonCode::focusChanged:
        return "focus_changed";
    case ReasonCode::pageTextUnavailable:
        return "page_text_unavailable";
    case ReasonCode::pageKeyNotFound:
        return "page_key_not_found";
    case ReasonCode::pageKeyAmbiguous:
        return "page_key_ambiguous";
    }
    return {};
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
    switch (name) {
    case CheckName::windowCheck:
        return "windowCheck";
    case CheckName::originCheck:
        return "originCheck";
    case CheckName::keyCheck:
        return "keyCheck";
    }
    return {};
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

} // namespace cpi
