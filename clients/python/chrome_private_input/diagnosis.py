"""Plain-language explanations of refusals, built from the reason code and the check maps.

The reason table and the sentences live in reasons.json, shipped in this package and read by the
TypeScript client too, so that both explain a refusal in the same words; docs/protocol.md explains
them at length."""

from __future__ import annotations

import json
import re
from importlib import resources
from typing import Any, Dict, List, Literal, Mapping, NamedTuple, Optional, Union

# The tool's twelve reason codes: a type checker flags a misspelt code where one is compared.
ReasonCode = Literal[
    "accessibility_unavailable",
    "site_configuration_invalid",
    "chrome_window_unavailable",
    "chrome_window_not_on_current_space",
    "selected_chrome_profile_not_confirmed",
    "origin_not_allowed",
    "focused_field_not_supported",
    "input_unavailable",
    "focus_changed",
    "page_text_unavailable",
    "page_key_not_found",
    "page_key_ambiguous",
]


class ReasonInfo(NamedTuple):
    meaning: str
    retry: bool
    advice: str


def _read_table() -> Dict[str, Any]:
    return json.loads(resources.files(__package__).joinpath("reasons.json").read_text(encoding="utf-8"))


_TABLE = _read_table()
_SENTENCES: Dict[str, str] = _TABLE["sentences"]
# Whose names the explanations use for methods and arguments: this client's (count_windows), the
# TypeScript client's (countWindows) or the MCP server's tools and arguments.
Vocabulary = Literal["python", "typescript", "mcp"]
_NAMES: Dict[str, Dict[str, str]] = _TABLE["names"]
_PLACEHOLDER = re.compile(r"\{(\w+)\}")


def _fill(template: str, values: Mapping[str, Union[str, int, None]]) -> str:
    return _PLACEHOLDER.sub(lambda m: "" if values.get(m.group(1)) is None else str(values[m.group(1)]), template)


def _say(name: str, **values: Union[str, int, None]) -> str:
    """The sentence `name` of reasons.json with its {placeholders} filled in."""
    return _fill(_SENTENCES[name], values)


# Each reason's meaning, whether trying again unchanged can help, and the advice.
REASONS: Dict[str, ReasonInfo] = {
    code: ReasonInfo(info["meaning"], info["retry"], _fill(info["advice"], _NAMES["python"]))
    for code, info in _TABLE["reasons"].items()
}


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" + ("" if count == 1 else "s")


def _window_check(check: Mapping[str, int], request: Mapping[str, Any], words: Mapping[str, str]) -> List[str]:
    profile = request.get("profileName", "")
    number = request.get("windowNumber")
    window_count = check.get("windows", 0)
    avatars = _plural(check.get("avatarWindows", 0), "window")
    if check.get("avatarRefused", 0):
        return [_say("windowAvatarRefused")]
    if not check.get("confirmedGiven", 0):
        if not check.get("avatarWindows", 0):
            return [_say("windowNoAvatar", **words, windows=_plural(window_count, "window"), profile=profile)]
        return [_say("windowSeveral", **words, profile=profile, avatarWindows=avatars, windowCount=window_count)]
    matches = check.get("numberMatches", 0)
    if matches == 0:
        return [_say("windowNumberMissing", **words, number=number, numbersRead=check.get("numbersRead", 0),
                     windowCount=window_count)]
    if matches > 1:
        return [_say("windowNumberTwice", matches=matches, number=number)]
    if not check.get("targetAvatar", 0):
        return [_say("windowOtherProfile", number=number, profile=profile, avatarWindows=avatars)]
    return [_say("windowUnconfirmed", number=number)]


def _origin_check(check: Mapping[str, int], request: Mapping[str, Any], words: Mapping[str, str]) -> List[str]:
    if not check.get("webAreas", 0):
        follow = "originNameTheWindow" if request.get("windowNumber") is None else "originWaitedInVain"
        return [_say("originNoPage"), _say(follow, **words)]
    if not check.get("addressFound", 0):
        return [_say("originNoAddressBar")]
    if not check.get("addressRead", 0):
        return [_say("originAddressUnread")]
    if not check.get("pageUrls", 0):
        return [_say("originNoUrl", areas=_plural(check.get("webAreas", 0), "area"))]
    allowed = check.get("allowedPages", 0)
    if allowed == 0:
        return [_say("originOtherSites", origins=", ".join(request.get("allowedOrigins", [])))]
    matches = check.get("addressMatches", 0)
    if matches == 0:
        return [_say("originFrameOnly", pageAreas=_plural(allowed, "page area"))]
    return [_say("originSeveralPages", matches=matches)]


def _key_check(reason: str, check: Mapping[str, int]) -> List[str]:
    fresh, focused = check.get("fresh", 0), check.get("focusedFresh", 0)
    if reason == "page_key_not_found":
        if check.get("runs", 0) == 0:
            return [_say("keyNoneShown", textNodes=check.get("textNodes", 0))]
        return [_say("keyAllKnown", distinctRuns=_plural(check.get("distinct", 0), "distinct run"))]
    if focused == 0:
        return [_say("keyNoneFocused", fresh=fresh, known=check.get("known", 0))]
    return [_say("keySeveralFocused", fresh=fresh, focusedFresh=focused)]


def _page_switch(check: Mapping[str, int]) -> List[str]:
    if not check.get("set", 0):
        return [_say("pageSwitchRefused")]
    return [_say("pageSwitchRestored" if check.get("restored", 0) else "pageSwitchStays")]


def diagnose(reason: str, checks: Mapping[str, Mapping[str, int]], request: Optional[Mapping[str, Any]] = None,
             *, after_interim: bool = False, vocabulary: Vocabulary = "python") -> str:
    """One paragraph for a refusal line: the reason's meaning, what the check maps show and what
    the agent or the person should do."""
    request = request or {}
    words = _NAMES[vocabulary]
    raw = _TABLE["reasons"].get(reason)
    info = ReasonInfo(raw["meaning"], raw["retry"], _fill(raw["advice"], words)) if raw else None
    parts = [info.meaning[0].upper() + info.meaning[1:] + "." if info else _say("unknownReason", reason=reason)]
    if "windowCheck" in checks:
        parts += _window_check(checks["windowCheck"], request, words)
    if "originCheck" in checks:
        parts += _origin_check(checks["originCheck"], request, words)
    if "keyCheck" in checks:
        parts += _key_check(reason, checks["keyCheck"])
    if reason == "focus_changed" and after_interim:
        parts.append(_say("secretSent"))
    if info and not any(k in checks for k in ("windowCheck", "originCheck", "keyCheck")):
        parts.append(info.advice[0].upper() + info.advice[1:] + ".")
    if "pageSwitch" in checks:
        parts += _page_switch(checks["pageSwitch"])
    return " ".join(parts)
