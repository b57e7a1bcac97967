"""Starting the tool, speaking its frames and lines, and turning its answers into values."""

from __future__ import annotations

import contextlib
import json
import os
import select
import signal
import struct
import subprocess
import threading
import time
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from . import validation
from .diagnosis import REASONS, diagnose
from .errors import Refusal, ToolError, UsageError

Secret = Union[bytes, bytearray, memoryview, str]
# A function giving the secret, called only once the tool has confirmed its target.
SecretSource = Union[Secret, Callable[[], Secret]]

REQUEST_MAXIMUM = 16384
KEY_REQUEST_MAXIMUM = 65536
SECRET_MAXIMUM = 1048576
CLIPBOARD_SECRET_MAXIMUM = 262144
HOLD_SECONDS = 20.0
# How long a tool that is being stopped may take to restore what it changed before it is killed:
# longer than the 2 seconds the tool itself may take, so that SIGKILL never cuts a restore short.
STOP_SECONDS = 5.0
# The signals that stop this process: each first stops the tools it runs (they run in sessions of
# their own, so a terminal's signals never reach them directly).
FORWARDED_SIGNALS = tuple(getattr(signal, name) for name in ("SIGTERM", "SIGINT", "SIGHUP") if hasattr(signal, name))
CHECK_KEYS = ("windowCheck", "originCheck", "keyCheck", "pageSwitch")


@dataclass(frozen=True)
class Target:
    """Where a secret may go, in the shape the TypeScript client takes: the Chrome profile as its
    avatar button shows it, the exact origins, and optionally the window's number and (deliveries
    only) a password field only. Every method that takes a profile and origins takes a Target, or
    a mapping with the TypeScript keys ("profileName", "allowedOrigins", "windowNumber",
    "secureFieldOnly"), in their place."""

    profile_name: str
    allowed_origins: Sequence[str]
    window_number: Optional[int] = None
    secure_field_only: bool = False

    _KEYS = {"profileName": "profile_name", "allowedOrigins": "allowed_origins",
             "windowNumber": "window_number", "secureFieldOnly": "secure_field_only"}

    @classmethod
    def of(cls, value: Union["Target", Mapping[str, Any]]) -> "Target":
        if isinstance(value, Target):
            return value
        if not isinstance(value, Mapping):
            raise UsageError(f"a target must be a Target or a mapping, not {type(value).__name__}")
        unknown = sorted(set(value) - set(cls._KEYS))
        if unknown:
            raise UsageError(f"unknown target key {unknown[0]!r} (known: {', '.join(cls._KEYS)})")
        if "profileName" not in value or "allowedOrigins" not in value:
            raise UsageError("a target needs profileName and allowedOrigins")
        return cls(**{cls._KEYS[key]: item for key, item in value.items()})


TargetLike = Union[Target, Mapping[str, Any]]
_UNSET: Any = object()


@dataclass(frozen=True)
class WindowCount:
    """The profile's windows: `count` of them among Chrome's `windows`; `window_numbers` and
    `tab_counts` (-1: not countable) for those whose number was read."""

    count: int
    windows: int
    window_numbers: List[int]
    tab_counts: List[int]
    front_kind: Optional[str]
    front_avatar: Optional[str]


@dataclass(frozen=True)
class Delivery:
    typed: bool
    page_switch: Optional[Dict[str, int]] = None


@dataclass(frozen=True)
class CapturedKey:
    """The captured key. `key` is the secret itself: keep it out of logs (its repr hides it)."""

    key: str = field(repr=False)
    page_switch: Optional[Dict[str, int]] = None

    @property
    def fingerprint(self) -> str:
        import hashlib

        return hashlib.sha256(self.key.encode("utf-8")).hexdigest()


@dataclass(frozen=True)
class WindowVisibility:
    all: int
    on_screen: int
    excluding_placeholder: Optional[int]


def frame(payload: bytes) -> bytes:
    return struct.pack(">I", len(payload)) + payload


class _Running:
    """The tools this process runs, and the signal handlers that stop them before this process
    stops. A tool left running would go on typing into Chrome, or keep a secret on the pasteboard,
    after its caller is gone."""

    # Reentrant: the handler runs on the main thread, possibly while that thread holds the lock.
    lock = threading.RLock()
    processes: "set" = set()
    previous: Dict[int, Any] = {}
    # Tools being started, and a signal that arrived meanwhile: it is acted on once the tool is
    # known, so that the tool it would otherwise leave running is stopped too.
    starts = 0
    deferred: Optional[int] = None

    @classmethod
    @contextlib.contextmanager
    def starting(cls) -> Iterator[None]:
        """Around the start of a tool: the handlers are set before it starts."""
        with cls.lock:
            cls.starts += 1
            cls._install()
        try:
            yield
        finally:
            with cls.lock:
                cls.starts -= 1
                deferred = cls.deferred if cls.starts == 0 else None
                if deferred is not None:
                    cls.deferred = None
                elif not cls.processes and cls.starts == 0:
                    cls._uninstall()  # the start failed
            if deferred is not None:
                cls._handle(deferred, None)

    @classmethod
    def add(cls, process: "_Process") -> None:
        with cls.lock:
            cls.processes.add(process)

    @classmethod
    def discard(cls, process: "_Process") -> None:
        with cls.lock:
            cls.processes.discard(process)
            if not cls.processes and cls.starts == 0:
                cls._uninstall()

    @classmethod
    def _install(cls) -> None:
        # Handlers can only be set from the main thread; elsewhere the tool is still stopped by
        # whatever stops this process's own main thread.
        if cls.previous or threading.current_thread() is not threading.main_thread():
            return
        for number in FORWARDED_SIGNALS:
            current = signal.getsignal(number)
            if current in (signal.SIG_IGN, None):
                continue  # a signal this process ignores stops nothing
            cls.previous[number] = current
            signal.signal(number, cls._handle)

    @classmethod
    def _uninstall(cls) -> None:
        if not cls.previous or threading.current_thread() is not threading.main_thread():
            return
        for number, handler in cls.previous.items():
            if signal.getsignal(number) == cls._handle:
                signal.signal(number, handler)
        cls.previous.clear()

    @classmethod
    def _handle(cls, number: int, frame: Any) -> None:
        with cls.lock:
            if cls.starts:
                cls.deferred = number
                return
            running = list(cls.processes)
        for process in running:
            process.stop()
        previous = cls.previous.get(number, signal.SIG_DFL)
        if callable(previous):
            previous(number, frame)
            return
        # The default effect: end this process by the same signal.
        signal.signal(number, signal.SIG_DFL)
        os.kill(os.getpid(), number)


class _Process:
    """One run of the tool: unbuffered pipes, reads with deadlines."""

    def __init__(self, command: Sequence[str], env: Optional[Dict[str, str]]) -> None:
        # A stop signal that arrives while the tool starts is acted on once it runs (see _Running).
        with _Running.starting():
            try:
                self.popen = subprocess.Popen(
                    list(command), stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                    bufsize=0, env=env, start_new_session=True,
                )
            except OSError as error:
                raise ToolError(f"cannot start {command[0]!r}: {error.strerror}", stage="start") from None
            self.pending = bytearray()
            _Running.add(self)

    def write(self, data: Union[bytes, bytearray]) -> bool:
        view = memoryview(data)
        try:
            while view:
                written = os.write(self.popen.stdin.fileno(), view)
                view = view[written:]
            return True
        except (BrokenPipeError, OSError):
            return False
        finally:
            view.release()

    def close_input(self) -> None:
        try:
            self.popen.stdin.close()
        except OSError:
            pass

    def _fill(self, deadline: float) -> bool:
        """Reads what is there; False at the end of output."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise TimeoutError
        ready, _, _ = select.select([self.popen.stdout], [], [], remaining)
        if not ready:
            raise TimeoutError
        chunk = os.read(self.popen.stdout.fileno(), 65536)
        if not chunk:
            return False
        self.pending += chunk
        return True

    def read_line(self, deadline: float) -> Optional[bytes]:
        while b"\n" not in self.pending:
            if not self._fill(deadline):
                return None
        line, _, rest = bytes(self.pending).partition(b"\n")
        self.pending = bytearray(rest)
        return line

    def read_byte(self, deadline: float) -> Optional[bytes]:
        while not self.pending:
            if not self._fill(deadline):
                return None
        byte = bytes(self.pending[:1])
        del self.pending[:1]
        return byte

    def finish(self, timeout: float) -> int:
        self.close_input()
        try:
            status = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise ToolError("the tool did not end in time and was stopped", stage="end") from None
        self.popen.stdout.close()
        try:
            self.stderr = self.popen.stderr.read(4096).decode("utf-8", "replace").strip()
        except OSError:
            self.stderr = ""
        self.popen.stderr.close()
        return status

    def stderr_text(self) -> str:
        return getattr(self, "stderr", "")

    def stop(self) -> None:
        """Ends the tool if it still runs. SIGTERM first: the delivery and key modes answer it by
        putting Chrome's page accessibility back (SIGKILL would leave it switched on) and the
        clipboard handoff by taking the secret off; SIGKILL only when it does not end soon."""
        if self.popen.poll() is None:
            try:
                self.popen.terminate()
                self.popen.wait(STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
            except ProcessLookupError:
                pass

    def kill(self) -> None:
        """Stops the tool if it still runs (see `stop`) and closes the pipes."""
        self.stop()
        _Running.discard(self)
        for stream in (self.popen.stdin, self.popen.stdout, self.popen.stderr):
            try:
                stream.close()
            except OSError:
                pass


def _status_text(status: Optional[int]) -> str:
    if status is None:
        return "still running"
    if status < 0:
        try:
            return f"killed by {signal.Signals(-status).name}"
        except ValueError:
            return f"killed by signal {-status}"
    return f"status {status}"


class ClipboardHold:
    """The running clipboard handoff: the secret is on the pasteboard until the hold ends (20
    seconds after the ready byte, or earlier by `cancel`, which takes the secret off at once)."""

    def __init__(self, process: _Process, started: float) -> None:
        self._process = process
        self.ready_at = started
        self.ends_at = started + HOLD_SECONDS

    def remaining(self) -> float:
        """Seconds until the hold ends on its own (0 once it has)."""
        if self._process.popen.poll() is not None:
            return 0.0
        return max(0.0, self.ends_at - time.monotonic())

    @property
    def running(self) -> bool:
        return self._process.popen.poll() is None

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits for the hold to end. True when it ended normally (the pasteboard is cleared,
        unless something else was copied meanwhile), False when `timeout` passed first. A hold
        ended by `cancel` also counts as ended."""
        try:
            status = self._process.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return False
        self._process.kill()  # ended: only closes the pipes
        if status == 0 or status in (-signal.SIGTERM, -signal.SIGINT, -signal.SIGHUP):
            return True
        raise ToolError(f"the clipboard hold ended with {_status_text(status)}", status=status, stage="hold")

    def cancel(self) -> None:
        """Ends the hold now: the tool takes the secret off the pasteboard (unless something else
        was copied since) and ends. Safe to call more than once."""
        popen = self._process.popen
        if popen.poll() is None:
            popen.send_signal(signal.SIGTERM)
            try:
                popen.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self._process.kill()

    def __enter__(self) -> "ClipboardHold":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.cancel()


class Tool:
    """The tool as a command line: the production executable (`Tool(["chrome-private-input"])`)
    or the simulated harness with its scenario (`Tool.simulated(harness, scenario)`). Every call
    starts one process, as the tool expects."""

    def __init__(self, command: Sequence[str], *, timeout: float = 30.0, env: Optional[Dict[str, str]] = None,
                 simulated: bool = False) -> None:
        if isinstance(command, str) or not command or not all(isinstance(word, str) for word in command):
            raise UsageError("command must be a non-empty list of strings, such as ['chrome-private-input']")
        self.command = list(command)
        self.timeout = timeout
        self.env = env
        # The simulated harness runs on the scenario's clock, not the real one.
        self.is_simulated = simulated

    @classmethod
    def simulated(cls, harness: str, scenario: str, *, journal: Optional[str] = None, **options: Any) -> "Tool":
        """The simulated Chrome: everything after "--" is the tool's own command line."""
        command = [harness, "--scenario", scenario]
        if journal is not None:
            command += ["--journal", journal]
        return cls(command + ["--"], simulated=True, **options)

    # -- the modes ------------------------------------------------------------------------------

    def count_windows(self, profile_name: str) -> WindowCount:
        request = {"profileName": validation.check_profile_name(profile_name)}
        answer = self._single_line_mode(["--profile-window-count"], request, REQUEST_MAXIMUM, "count", ok_status=0)
        if answer.get("ok") is not True:
            raise self._refusal(answer, request, "count")
        return WindowCount(answer["count"], answer["windows"], list(answer["windowNumbers"]),
                           list(answer["tabCounts"]), answer.get("frontKind"), answer.get("frontAvatar"))

    def deliver(self, target: Union[TargetLike, str] = _UNSET, *rest: Any, profile_name: Any = _UNSET, window_number: Optional[int] = None,
                secure_field_only: Optional[bool] = None, allowed_origins: Any = _UNSET,
                secret: Any = _UNSET) -> Delivery:
        """Types `secret` into the focused field of the profile's window:
        `deliver(Target(...), secret)` or `deliver(profile_name, allowed_origins, secret, ...)`.
        The secret is sent only after the tool has confirmed the target; a bytearray passed in is
        overwritten with zeros once it has been sent (or refused, also by a usage error). Given a
        function, the secret is fetched only then. With `secure_field_only`, only a password field
        may receive it: a plain text field (which shows what it holds) is refused with
        "focused_field_not_supported"."""
        given = rest
        data = None
        try:
            where, rest = self._target(target, profile_name, rest, allowed_origins, window_number, secure_field_only, "deliver")
            if secret is _UNSET:
                if len(rest) != 1:
                    raise UsageError("deliver takes a target and a secret: deliver(Target(...), secret)")
                secret = rest[0]
            elif rest:
                raise UsageError("deliver got the secret twice")
            if callable(secret):
                return self._deliver(self._delivery_request(where), secret)
            request = self._delivery_request(where)
            data = validation.check_secret(secret, SECRET_MAXIMUM)
            checked = data
            return self._deliver(request, lambda: checked)
        finally:
            # Also after a usage error: the caller's bytearray goes wherever it was passed.
            validation.wipe(data)
            for item in (secret, *given):
                validation.wipe(item)

    def key_baseline(self, target: Union[TargetLike, str] = _UNSET, *rest: Any, profile_name: Any = _UNSET, window_number: Optional[int] = None,
                     allowed_origins: Any = _UNSET) -> List[str]:
        """The fingerprints of the key-like texts on the page now, to pass to `key_capture`:
        `key_baseline(Target(...))` or `key_baseline(profile_name, allowed_origins)`."""
        where, rest = self._target(target, profile_name, rest, allowed_origins, window_number, None, "key_baseline")
        if rest:
            raise UsageError("key_baseline takes a target only")
        answer = self._single_line_mode(["--key-baseline"], self._request(where), KEY_REQUEST_MAXIMUM,
                                        "key_baseline")
        return list(answer["baseline"])

    def key_capture(self, target: Union[TargetLike, str] = _UNSET, *rest: Any, profile_name: Any = _UNSET, window_number: Optional[int] = None,
                    allowed_origins: Any = _UNSET, baseline: Any = _UNSET) -> CapturedKey:
        """The one key-like text on the page whose fingerprint is not in `baseline`:
        `key_capture(Target(...), baseline)` or `key_capture(profile_name, allowed_origins, baseline)`."""
        where, rest = self._target(target, profile_name, rest, allowed_origins, window_number, None, "key_capture")
        if baseline is _UNSET:
            if len(rest) != 1:
                raise UsageError("key_capture takes a target and the baseline from key_baseline")
            baseline = rest[0]
        elif rest:
            raise UsageError("key_capture got the baseline twice")
        request = self._request(where)
        request["baseline"] = validation.check_baseline(baseline)
        answer = self._single_line_mode(["--key-capture"], request, KEY_REQUEST_MAXIMUM, "key_capture")
        return CapturedKey(answer["key"], answer.get("pageSwitch"))

    def copy_to_clipboard(self, secret: Secret, *, deadline_ms: Optional[float] = None,
                          within: float = 5.0) -> ClipboardHold:
        """Puts `secret` on the pasteboard for 20 seconds and returns as soon as it is there. The
        deadline (milliseconds since 1970) defaults to `within` seconds from now: if the tool only
        reads the secret later, it puts nothing on the pasteboard."""
        try:
            if deadline_ms is None:
                deadline_ms = time.time() * 1000.0 + within * 1000.0
            if isinstance(deadline_ms, bool) or not isinstance(deadline_ms, (int, float)):
                raise UsageError("deadline_ms must be a number of milliseconds since 1970")
            if deadline_ms == float("inf"):
                raise UsageError("deadline_ms is infinite; the tool would end with status 2")
            if not self.is_simulated and not deadline_ms > time.time() * 1000.0:
                raise UsageError("deadline_ms lies in the past; the tool would end with status 2")
            data = validation.check_secret(secret, CLIPBOARD_SECRET_MAXIMUM)
        except BaseException:
            validation.wipe(secret)  # refused before the tool started: the caller's bytes go too
            raise
        process = _Process(self.command + ["--copy-delivered-secret", repr(float(deadline_ms))], self.env)
        try:
            length = struct.pack(">I", len(data))
            sent = process.write(length) and process.write(data)
        finally:
            validation.wipe(data)
            validation.wipe(secret)
        process.close_input()
        try:
            ready = process.read_byte(time.monotonic() + self.timeout)
        except TimeoutError:
            process.kill()
            raise ToolError("no ready byte from the clipboard handoff in time", stage="ready") from None
        if ready == b"1":
            return ClipboardHold(process, time.monotonic())
        try:
            status = process.finish(self.timeout)
        finally:
            process.kill()
        self._raise_harness_problem(process, status)
        if status == 2 or not sent:
            raise ToolError("the clipboard handoff refused its input: the deadline had passed when the "
                            "tool read the secret, or the secret frame was not accepted (status 2)",
                            status=status, stage="ready")
        if status == 1:
            raise ToolError("the pasteboard refused the item or the write (status 1); the pasteboard "
                            "may have been cleared", status=status, stage="ready")
        raise ToolError(f"the clipboard handoff ended with {_status_text(status)} and no ready byte",
                        status=status, stage="ready")

    def trust_check(self) -> bool:
        answer = self._single_line_mode(["--trust-check"], None, 0, "trust_check", ok_status=0)
        return bool(answer["trusted"])

    def window_visibility(self, pid: int) -> WindowVisibility:
        """How many windows of process `pid` (the agent's own browser) exist and are on screen."""
        if isinstance(pid, bool) or not isinstance(pid, int) or not 2 <= pid <= 2147483647:
            raise UsageError(f"pid must be a process identifier from 2 to 2147483647, not {pid!r}")
        answer = self._single_line_mode(["--agent-browser-window-visibility", str(pid)], None, 0,
                                        "window_visibility", ok_status=0)
        return WindowVisibility(answer["all"], answer["onScreen"], answer.get("excludingPlaceholder"))

    # -- the exchange ---------------------------------------------------------------------------

    @staticmethod
    def _target(target: Union[TargetLike, str], profile_name: Any, rest: Tuple[Any, ...], allowed_origins: Any,
                window_number: Optional[int], secure_field_only: Optional[bool],
                method: str) -> Tuple[Target, Tuple[Any, ...]]:
        """The Target a call names, in either form, and the positional arguments after it."""
        if profile_name is not _UNSET:
            if target is not _UNSET:
                raise UsageError(f"{method} got both a target and profile_name")
            target = profile_name
        if target is _UNSET:
            raise UsageError(f"{method} takes a Target, or a profile name and its allowed origins")
        if isinstance(target, str):
            if allowed_origins is _UNSET:
                if not rest:
                    raise UsageError(f"{method} takes a Target, or a profile name and its allowed origins")
                allowed_origins, rest = rest[0], rest[1:]
            return Target(target, allowed_origins, window_number,
                          False if secure_field_only is None else secure_field_only), rest
        if allowed_origins is not _UNSET:
            raise UsageError(f"{method}: the allowed origins are part of the Target")
        where = Target.of(target)
        # A keyword given beside a Target must not contradict it: the Target is where the secret
        # may go, and a second window number would silently move it.
        if window_number is not None and where.window_number not in (None, window_number):
            raise UsageError(f"window_number {window_number} contradicts the target's {where.window_number}")
        if window_number is not None or secure_field_only is not None:
            where = Target(where.profile_name, where.allowed_origins,
                           where.window_number if window_number is None else window_number,
                           where.secure_field_only if secure_field_only is None else secure_field_only)
        return where, rest

    def _delivery_request(self, target: Target) -> Dict[str, Any]:
        if not isinstance(target.secure_field_only, bool):
            raise UsageError(f"secure_field_only must be True or False, not {target.secure_field_only!r}")
        request = self._request(target)
        if target.secure_field_only:
            request["secureFieldOnly"] = True
        return request

    def _request(self, target: Target) -> Dict[str, Any]:
        request: Dict[str, Any] = {"profileName": validation.check_profile_name(target.profile_name),
                                   "allowedOrigins": validation.check_origins(target.allowed_origins)}
        number = validation.check_window_number(target.window_number)
        if number is not None:
            request["windowNumber"] = number
        return request

    @staticmethod
    def _encode(request: Dict[str, Any], maximum: int) -> bytes:
        payload = json.dumps(request, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        if len(payload) > maximum:
            raise UsageError(f"the request is {len(payload)} bytes long; this mode takes at most {maximum}")
        return payload

    def _refusal(self, answer: Dict[str, Any], request: Optional[Dict[str, Any]], mode: str, *,
                 secret_sent: bool = False) -> Refusal:
        reason = answer.get("reason", "")
        checks = {key: answer[key] for key in CHECK_KEYS if isinstance(answer.get(key), dict)}
        info = REASONS.get(reason)
        return Refusal(reason, checks, diagnose(reason, checks, request, after_interim=secret_sent),
                       mode=mode, retry=bool(info and info.retry), secret_sent=secret_sent)

    def _raise_harness_problem(self, process: _Process, status: int) -> None:
        if status == 70 and self.is_simulated:
            raise ToolError(process.stderr_text() or "the simulated harness refused its command line or "
                            "scenario (status 70)", status=status, stage="start")

    def _silent_end(self, process: _Process, mode: str, stage: str) -> ToolError:
        status = process.finish(self.timeout)
        self._raise_harness_problem(process, status)
        if stage == "final" and status == 1:
            # After the interim line the request was fine: only the secret frame can be at fault.
            explanation = "the secret frame was missing, too large, not UTF-8 or empty"
        else:
            explanation = {
                1: "the request frame was not accepted or did not decode",
                2: "the command line was not recognised",
            }.get(status, "it ended unexpectedly")
        return ToolError(f"{mode}: the tool wrote no line ({_status_text(status)}: {explanation})",
                         status=status, stage=stage)

    def _read_answer(self, process: _Process, mode: str, stage: str) -> Dict[str, Any]:
        try:
            line = process.read_line(time.monotonic() + self.timeout)
        except TimeoutError:
            process.kill()
            raise ToolError(f"{mode}: no answer within {self.timeout} seconds", stage=stage) from None
        if line is None:
            raise self._silent_end(process, mode, stage)
        try:
            answer = json.loads(line)
        except ValueError:
            process.kill()
            raise ToolError(f"{mode}: the tool wrote a line that is not JSON", stage=stage) from None
        if not isinstance(answer, dict):
            process.kill()
            raise ToolError(f"{mode}: the tool wrote a line that is not a JSON object", stage=stage)
        return answer

    def _single_line_mode(self, arguments: List[str], request: Optional[Dict[str, Any]], maximum: int,
                          mode: str, ok_status: Optional[int] = None) -> Dict[str, Any]:
        payload = self._encode(request, maximum) if request is not None else None
        process = _Process(self.command + arguments, self.env)
        try:
            if payload is not None:
                process.write(frame(payload))
            process.close_input()
            answer = self._read_answer(process, mode, "answer")
            process.finish(self.timeout)
        finally:
            process.kill()
        if ok_status is not None or answer.get("ok") is True:
            return answer
        raise self._refusal(answer, request, mode)

    def _deliver(self, request: Dict[str, Any], source: Callable[[], Secret]) -> Delivery:
        process = _Process(self.command, self.env)
        try:
            process.write(frame(self._encode(request, REQUEST_MAXIMUM)))
            interim = self._read_answer(process, "deliver", "interim")
            if interim.get("ok") is not True:
                process.finish(self.timeout)
                raise self._refusal(interim, request, "deliver")
            # Confirmed: only now is the secret fetched and sent, and standard input stays open
            # until the final line has come.
            secret = source()
            data = validation.check_secret(secret, SECRET_MAXIMUM)
            try:
                process.write(struct.pack(">I", len(data)))
                process.write(data)
            finally:
                validation.wipe(data)
                validation.wipe(secret)
            final = self._read_answer(process, "deliver", "final")
            process.finish(self.timeout)
        finally:
            process.kill()
        if final.get("ok") is True and final.get("typed") is True:
            return Delivery(True, final.get("pageSwitch"))
        raise self._refusal(final, request, "deliver", secret_sent=True)
