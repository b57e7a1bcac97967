// Main toolbars and profile avatars: which Chrome windows show a profile, and how a window looks.
//
// A window's main toolbar is the toolbar that holds the address field; among its direct children
// sits the profile avatar button. Recognition uses roles and the button's title or description
// only; every decision on them is the policy's.
#pragma once

#include "ChromePrivateInputPolicy/Verdict.h"
#include "discovery/AccessibilityElements.h"
#include "platform/Platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cpi {

// A Chrome window whose main toolbar shows the wanted profile.
struct ProfiledWindow {
    Element window;
    Element toolbar;                // the one main toolbar whose avatar button matched
    std::vector<Element> nodes;     // the pruned walk of the window (limit 2500), the window first
    std::vector<std::string> roles; // "AXRole" of each of `nodes` as the walk read it ("" when absent)
};

// The windows (possibly none), or "selected_chrome_profile_not_confirmed".
using AvatarSearch = Verdict<std::vector<ProfiledWindow>>;

struct WindowDescription {
    std::string kind; // "browser", "dialog" or "other"
    std::optional<std::string> avatar;
};

// The walk positions of the main toolbars among the nodes of a pruned window walk, in walk order.
// Works on the roles and children the walk has read: it costs no further round trip.
std::vector<std::size_t> mainToolbars(const WalkedTree& window);

// The windows, in input order, whose main toolbar shows `profileName`; a refusal when the profile
// cannot be tied to one avatar button per window. Windows of more than 2500 elements are skipped.
AvatarSearch avatarWindows(Platform& platform, const std::vector<Element>& windows,
                           std::string_view profileName);

// The kind of `window` and the label of the avatar button just before its toolbar's trailing
// pop-up button.
WindowDescription windowAvatar(Platform& platform, const Element& window);

} // namespace cpi
