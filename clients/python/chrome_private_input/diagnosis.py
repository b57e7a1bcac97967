"""Plain-language explanations of refusals, built from the reason code and the check maps.

The same wording is used by the TypeScript client and the MCP server (clients/node/src/diagnosis.ts)
and is explained at length in docs/protocol.md."""

from __future__ import annotations

from typing import Any, Dict, List, Mapping, NamedTuple, Optional


class ReasonInfo(NamedTuple):
    meaning: str
    retry: bool
    advice: str


REASONS: Dict[str, ReasonInfo] = {
    "accessibility_unavailable": ReasonInfo(
        "the tool's process is not trusted for Accessibility",
        False,
        "the person must allow the tool (or the program that starts it) under System Settings, "
        "Privacy & Security, Accessibility; check with trust_check",
    ),
    "site_configuration_invalid": ReasonInfo(
        "the request is out of bounds: the profile name is empty or longer than 80 characters, or "
        "the allowed origins are not 1 to 16",
        False,
        "fix the request",
    ),
    "chrome_window_unavailable": ReasonInfo(
        "Chrome is not running as exactly one regular application, or its window list cannot be "
        "read or holds more than 64 windows, or the window's toolbar is too large to read",
        True,
        "make sure one Google Chrome is running with at most 64 windows, then try again",
    ),
    "chrome_window_not_on_current_space": ReasonInfo(
        "Chrome is running but shows no window at all",
        True,
        "ask the person to open a window of the profile, then try again",
    ),
    "selected_chrome_profile_not_confirmed": ReasonInfo(
        "no single Chrome window could be confirmed as showing the requested profile (and carrying "
        "the requested window number)",
        False,
        "the search for the profile's avatar buttons failed (a toolbar could not be read, or one "
        "window shows two matching avatars); try again once Chrome has settled",
    ),
    "origin_not_allowed": ReasonInfo(
        "no page of the window is on an allowed origin that the address bar also shows, or the "
        "window shows no page at all",
        False,
        "the page changed after the target was confirmed (it navigated to another site); check the "
        "page, then try again",
    ),
    "focused_field_not_supported": ReasonInfo(
        "keyboard focus is not in exactly one plain text or password field of the page whose value "
        "can be set",
        True,
        "ask the person to click into the field that should receive the secret, then try again",
    ),
    "input_unavailable": ReasonInfo(
        "Chrome refused to take the value into the field, or settling ended without a target",
        True,
        "try again once; if it repeats, the field does not accept values through Accessibility",
    ),
    "focus_changed": ReasonInfo(
        "Chrome quit or was replaced, or the window or focused field changed between the checks "
        "and the write, or right after the write",
        True,
        "check with the person that the right field is focused, then try again",
    ),
    "page_text_unavailable": ReasonInfo(
        "the page's text could not be read (more than 20000 elements), or a baseline would hold "
        "65 or more key fingerprints",
        False,
        "reduce what the page shows (close other panels, filter the list of keys), then try again",
    ),
    "page_key_not_found": ReasonInfo(
        "the capture found no key-like text that was not already in the baseline",
        True,
        "reveal the new key on the page, then capture again",
    ),
    "page_key_ambiguous": ReasonInfo(
        "the capture found several new key-like texts and keyboard focus does not single out one",
        True,
        "focus the new key's field, then capture again",
    ),
}


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" + ("" if count == 1 else "s")


def _window_check(check: Mapping[str, int], request: Mapping[str, Any]) -> List[str]:
    profile = request.get("profileName", "")
    number = request.get("windowNumber")
    windows = check.get("windows", 0)
    avatars = check.get("avatarWindows", 0)
    lines: List[str] = []
    if check.get("avatarRefused", 0):
        lines.append(
            "The search for the profile's avatar button failed itself (a toolbar could not be read, "
            "or one window shows two matching avatar buttons); try again once Chrome has settled."
        )
        return lines
    if not check.get("confirmedGiven", 0):
        if avatars == 0:
            lines.append(
                f"None of Chrome's {_plural(windows, 'window')} shows the profile {profile!r} in its "
                "avatar button: the name must equal the button's label exactly (case counts; "
                "count_windows reports the front window's label as frontAvatar)."
            )
        else:
            lines.append(
                f"The profile {profile!r} has {_plural(avatars, 'window')} among Chrome's {windows}: "
                "name one with windowNumber (count_windows lists their numbers), or ask the person "
                "to close the others."
            )
        return lines
    matches = check.get("numberMatches", 0)
    if matches == 0:
        lines.append(
            f"No Chrome window has the number {number} ({check.get('numbersRead', 0)} of "
            f"{windows} numbers read): the window was closed or the number is stale; run "
            "count_windows for the current numbers."
        )
    elif matches > 1:
        lines.append(f"{matches} windows report the number {number}; no single window can be picked.")
    elif check.get("targetAvatar", 0) == 0:
        lines.append(
            f"Window {number} does not show the profile {profile!r} (the profile has "
            f"{_plural(avatars, 'window')}); the number belongs to another profile's window."
        )
    else:
        lines.append(f"Window {number} shows the profile but could not be confirmed; try again.")
    return lines


def _origin_check(check: Mapping[str, int], request: Mapping[str, Any]) -> List[str]:
    origins = ", ".join(request.get("allowedOrigins", []))
    if check.get("webAreas", 0) == 0:
        text = (
            "The window exposes no page to Accessibility yet (still loading, or Chrome's page "
            "accessibility is off)."
        )
        if request.get("windowNumber") is None:
            text += (" Name the window with windowNumber: the tool may then switch Chrome's page "
                     "accessibility on and wait for the page.")
        else:
            text += " The tool waited for the page in vain; ask the person to reload the tab, then try again."
        return [text]
    if check.get("addressFound", 0) == 0:
        return ["The window's address bar was not found, so no page can be confirmed."]
    if check.get("addressRead", 0) == 0:
        return ["The address bar's text could not be read, so no page can be confirmed."]
    if check.get("pageUrls", 0) == 0:
        return [f"No page area of the window ({_plural(check.get('webAreas', 0), 'area')}) reports an https URL."]
    allowed = check.get("allowedPages", 0)
    if allowed == 0:
        return [
            f"The window's pages are on other sites than {origins} (the page navigated away, or "
            "the wrong window or origin was named)."
        ]
    matches = check.get("addressMatches", 0)
    if matches == 0:
        return [
            f"{_plural(allowed, 'page area')} of an allowed origin, but the address bar shows "
            "another site (an embedded frame of the allowed site does not count): open the "
            "allowed site itself in the tab."
        ]
    return [
        f"{matches} page areas of the allowed origin match the address bar (the page embeds a frame "
        "of its own origin), so no single page can be picked."
    ]


def _key_check(reason: str, check: Mapping[str, int]) -> List[str]:
    runs, distinct = check.get("runs", 0), check.get("distinct", 0)
    known, fresh = check.get("known", 0), check.get("fresh", 0)
    focused = check.get("focusedFresh", 0)
    if reason == "page_key_not_found":
        if runs == 0:
            return [
                f"The page ({check.get('textNodes', 0)} text elements) shows no key-like text: the "
                "key is not shown yet, or it is masked; reveal it, then capture again."
            ]
        return [
            f"Every key-like text on the page ({_plural(distinct, 'distinct run')}) was already in "
            "the baseline: the new key is not shown yet, or the baseline was taken after it "
            "appeared."
        ]
    if focused == 0:
        return [
            f"{fresh} new key-like texts ({known} known) and none of them is focused: click into "
            "or select the new key's field, then capture again."
        ]
    return [f"{fresh} new key-like texts and {focused} of them are focused: focus only the new key's field."]


def _page_switch(check: Mapping[str, int]) -> List[str]:
    if not check.get("set", 0):
        return ["The tool tried to switch Chrome's page accessibility on, and Chrome refused."]
    if check.get("restored", 0):
        return ["Chrome's page accessibility was switched on for this run and put back afterwards."]
    return ["Chrome's page accessibility was switched on and could not be put back: it stays on."]


def diagnose(reason: str, checks: Mapping[str, Mapping[str, int]], request: Optional[Mapping[str, Any]] = None,
             *, after_interim: bool = False) -> str:
    """One paragraph for a refusal line: the reason's meaning, what the check maps show and what
    the agent or the person should do."""
    request = request or {}
    info = REASONS.get(reason)
    parts = [info.meaning[0].upper() + info.meaning[1:] + "." if info else f"Unknown reason {reason!r}."]
    if "windowCheck" in checks:
        parts += _window_check(checks["windowCheck"], request)
    if "originCheck" in checks:
        parts += _origin_check(checks["originCheck"], request)
    if "keyCheck" in checks:
        parts += _key_check(reason, checks["keyCheck"])
    if reason == "focus_changed" and after_interim:
        parts.append("The secret had been sent; if the write happened, the field may already hold it.")
    if info and not any(k in checks for k in ("windowCheck", "originCheck", "keyCheck")):
        parts.append(info.advice[0].upper() + info.advice[1:] + ".")
    if "pageSwitch" in checks:
        parts += _page_switch(checks["pageSwitch"])
    return " ".join(parts)
