"""Checks made before the tool is started: what the tool would refuse silently (status 1 and no
line) or answer with a refusal that looks like something else."""

from __future__ import annotations

import re
import unicodedata
from typing import Any, List, Optional, Sequence
from urllib.parse import urlsplit

from .errors import UsageError

MAX_PROFILE_CHARACTERS = 80
MAX_ORIGINS = 16
MAX_WINDOW_NUMBER = 4294967295
MAX_BASELINE = 64
FINGERPRINT = re.compile(r"[0-9a-f]{64}")
# A lower-case host name, or an IPv6 literal in brackets as the tool writes a page's origin.
_ORIGIN = re.compile(r"https://(?:[a-z0-9\-._~%!$&'()*+,;=]+|\[[0-9a-f:.]+\])")
# Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF), matched on the
# bytes themselves so that no text copy of a secret is made.
_UTF8 = re.compile(
    rb"(?:[\x00-\x7f]|[\xc2-\xdf][\x80-\xbf]|\xe0[\xa0-\xbf][\x80-\xbf]|[\xe1-\xec\xee\xef][\x80-\xbf]{2}"
    rb"|\xed[\x80-\x9f][\x80-\xbf]|\xf0[\x90-\xbf][\x80-\xbf]{2}|[\xf1-\xf3][\x80-\xbf]{3}"
    rb"|\xf4[\x80-\x8f][\x80-\xbf]{2})*"
)


def _extends_cluster(code: int, previous: Optional[int]) -> bool:
    character = chr(code)
    if unicodedata.category(character) in ("Mn", "Me", "Mc"):
        return True
    if code == 0x200D or previous == 0x200D:  # zero width joiner and what it joins
        return True
    if 0xFE00 <= code <= 0xFE0F or 0xE0100 <= code <= 0xE01EF or 0xE0020 <= code <= 0xE007F:
        return True
    if 0x1F3FB <= code <= 0x1F3FF:  # skin tone modifiers
        return True
    if 0x1160 <= code <= 0x11FF or 0xD7B0 <= code <= 0xD7FF:  # Hangul vowels and trailing consonants
        return True
    return previous == 0x0D and code == 0x0A


def grapheme_count(text: str) -> int:
    """User-perceived characters, approximated without a segmentation library: marks, joiners,
    variation selectors, skin tones and regional-indicator pairs join the character before."""
    count, previous, regional_open = 0, None, False
    for character in text:
        code = ord(character)
        if 0x1F1E6 <= code <= 0x1F1FF:
            if regional_open:
                regional_open = False
                previous = code
                continue
            regional_open = True
            count += 1
        elif previous is None or not _extends_cluster(code, previous):
            regional_open = False
            count += 1
        previous = code
    return count


def check_profile_name(profile_name: Any) -> str:
    if not isinstance(profile_name, str):
        raise UsageError(f"profile_name must be a string, not {type(profile_name).__name__}")
    if not profile_name:
        raise UsageError("profile_name is empty: name the Chrome profile as its avatar button shows it")
    if len(profile_name) > MAX_PROFILE_CHARACTERS and grapheme_count(profile_name) > MAX_PROFILE_CHARACTERS:
        raise UsageError(f"profile_name is longer than {MAX_PROFILE_CHARACTERS} characters")
    return profile_name


def _ascii_host(host: str) -> str:
    """An internationalised host name in the form the tool compares (and Chrome's address bar
    reports): each label with letters beyond ASCII as "xn--" and its Punycode."""
    labels = []
    for label in unicodedata.normalize("NFC", host).lower().split("."):
        labels.append(label if label.isascii() else "xn--" + label.encode("punycode").decode("ascii"))
    return ".".join(labels)


def suggest_origin(text: str) -> Optional[str]:
    """The exact form of an origin written loosely ("https://Accounts.example.com/login",
    "https://bücher.example"), or None when the text names no https host."""
    try:
        parts = urlsplit(text.strip())
        host = parts.hostname
        port = parts.port
    except ValueError:
        return None
    if parts.scheme.lower() != "https" or not host or (port not in (None, 443)):
        return None
    try:
        return "https://" + _ascii_host(host)
    except UnicodeError:
        return None


def _hint(origin: str) -> str:
    suggestion = suggest_origin(origin)
    if not suggestion:
        return ""
    if origin.isascii():
        return f': write "{suggestion}"'
    return (f': write "{suggestion}" (an internationalised domain name is compared in its ASCII '
            '"xn--" form, as Chrome reports the page\'s origin)')


def check_origins(allowed_origins: Any) -> List[str]:
    if isinstance(allowed_origins, (str, bytes)) or not isinstance(allowed_origins, Sequence):
        raise UsageError("allowed_origins must be a list of origins such as ['https://accounts.example.com']")
    origins = list(allowed_origins)
    if not 1 <= len(origins) <= MAX_ORIGINS:
        raise UsageError(f"allowed_origins must hold 1 to {MAX_ORIGINS} origins, not {len(origins)}")
    for origin in origins:
        if not isinstance(origin, str):
            raise UsageError(f"allowed origin {origin!r} is not a string")
        if _ORIGIN.fullmatch(origin):
            continue
        exact = _hint(origin)
        raise UsageError(
            f'allowed origin "{origin}" is not in the exact form "https://" + lower-case host, without '
            f"port, path or trailing \"/\"{exact}; the tool compares origins exactly and would refuse "
            'every page with "origin_not_allowed"'
        )
    return origins


def check_window_number(window_number: Any) -> Optional[int]:
    if window_number is None:
        return None
    if isinstance(window_number, bool) or not isinstance(window_number, int):
        raise UsageError(f"window_number must be an integer, not {type(window_number).__name__}")
    if window_number == 0:
        raise UsageError("window_number 0 never matches a window (0 means the number was not read)")
    if not 1 <= window_number <= MAX_WINDOW_NUMBER:
        raise UsageError(f"window_number {window_number} is out of range (1 to {MAX_WINDOW_NUMBER})")
    return window_number


def check_baseline(baseline: Any) -> List[str]:
    if isinstance(baseline, (str, bytes)) or not isinstance(baseline, Sequence):
        raise UsageError("baseline must be the list that key_baseline returned")
    entries = list(baseline)
    for entry in entries:
        if not isinstance(entry, str) or not FINGERPRINT.fullmatch(entry):
            raise UsageError(
                f"baseline entry {entry!r} is not a fingerprint (64 lower-case hexadecimal digits); "
                "an altered entry matches nothing and every key on the page would count as new"
            )
    return entries


def check_secret(secret: Any, maximum: int) -> bytearray:
    """The secret as a bytearray the client may overwrite. A str is encoded (its own copy cannot be
    wiped); bytes-like values are copied into a new bytearray."""
    if isinstance(secret, str):
        data = bytearray(secret.encode("utf-8"))
    elif isinstance(secret, (bytes, bytearray, memoryview)):
        data = bytearray(secret)
    else:
        raise UsageError(f"the secret must be bytes, a bytearray or a str, not {type(secret).__name__}")
    if not data:
        raise UsageError("the secret is empty; the tool would end without a final line")
    if len(data) > maximum:
        size = len(data)
        wipe(data)
        raise UsageError(f"the secret is {size} bytes long; this mode takes at most {maximum}")
    if not _UTF8.fullmatch(data):
        wipe(data)
        raise UsageError("the secret is not valid UTF-8; the tool would end without a final line")
    return data


def wipe(buffer: Any) -> None:
    """Overwrites a bytearray (or writable memoryview) with zeros; anything else is left alone."""
    if isinstance(buffer, bytearray):
        buffer[:] = bytes(len(buffer))
    elif isinstance(buffer, memoryview) and not buffer.readonly:
        buffer.cast("B")[:] = bytes(buffer.nbytes)
