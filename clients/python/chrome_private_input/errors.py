"""Exceptions raised by the client. None of them ever carries a secret."""

from __future__ import annotations

from typing import TYPE_CHECKING, Dict, Mapping, Optional

if TYPE_CHECKING:
    from .diagnosis import ReasonCode


class ChromePrivateInputError(Exception):
    """Base class of every error this package raises."""


class UsageError(ChromePrivateInputError, ValueError):
    """An argument the tool would refuse (or silently misread); raised before anything starts."""


class ToolError(ChromePrivateInputError):
    """The tool ended without the answer its protocol promises (a status without a line, a
    timeout, a harness that refused its scenario). `status` is the exit status (negative: killed
    by that signal), `stage` says how far the exchange got."""

    def __init__(self, message: str, *, status: Optional[int] = None, stage: str = "") -> None:
        super().__init__(message)
        self.status = status
        self.stage = stage


class Refusal(ChromePrivateInputError):
    """The tool refused: `reason` is one of the twelve reason codes, `checks` holds the check maps
    of the refusal line ("windowCheck", "originCheck", "keyCheck", "pageSwitch"), `diagnosis`
    explains them in plain language, `retry` says whether trying again unchanged can help and
    `secret_sent` whether the secret had been handed to the tool."""

    def __init__(
        self,
        reason: "ReasonCode",
        checks: Mapping[str, Mapping[str, int]],
        diagnosis: str,
        *,
        mode: str,
        retry: bool,
        secret_sent: bool = False,
    ) -> None:
        super().__init__(f"{reason}: {diagnosis}")
        self.reason: "ReasonCode" = reason
        self.checks: Dict[str, Dict[str, int]] = {k: dict(v) for k, v in checks.items()}
        self.diagnosis = diagnosis
        self.mode = mode
        self.retry = retry
        self.secret_sent = secret_sent

    @property
    def window_check(self) -> Optional[Dict[str, int]]:
        return self.checks.get("windowCheck")

    @property
    def origin_check(self) -> Optional[Dict[str, int]]:
        return self.checks.get("originCheck")

    @property
    def key_check(self) -> Optional[Dict[str, int]]:
        return self.checks.get("keyCheck")

    @property
    def page_switch(self) -> Optional[Dict[str, int]]:
        return self.checks.get("pageSwitch")
