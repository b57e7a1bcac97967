#!/usr/bin/env python3
"""The tool against a real Chrome, end to end: the Linux executable against Chromium under Xvfb,
or the macOS executable against Google Chrome on this Mac's own desktop.

On Linux it starts a private desktop (Xvfb on a free display, its own session bus with the
accessibility bus switched on before Chromium starts, optionally openbox), an https server on
127.0.0.1:443 with a throwaway certificate for localhost, and Chromium with a fresh profile named
"Work" on https://localhost/login.html. The pages report every change of their fields to the server and take
commands from it (focus a field, show a new API key, navigate), acknowledging each, so every step
waits for an event instead of a time. Then it runs the tool's modes through the Python client
(clients/python) and checks what the page received.

Usage:
    live_chromium.py --tool PATH --window-manager {openbox,none} [--lang LANG] [--only GROUPS]
                     [--bench PATH] [--keep | --demo]
    live_chromium.py --setup-only --window-manager {openbox,none}
    live_chromium.py --tool PATH [--chrome EXECUTABLE] [--keep | --demo]          (macOS)
    live_chromium.py --grant-accessibility EXECUTABLE                             (macOS, as root)

--setup-only starts everything, prints DISPLAY=... DBUS_SESSION_BUS_ADDRESS=... CHROMIUM_PID=...
as shell assignments and waits until it is stopped (Ctrl-C, SIGTERM). --keep (or LIVE_KEEP=1)
leaves the environment running after the checks, prints the same assignments and waits likewise.
Everything started is stopped at the end, also on failure and on Ctrl-C: each process in a process
group of its own, and whatever they started (the bus activates the accessibility bus launcher) by a
mark in the environment this run gives them.

Nothing touches the machine's own sessions: the display, the buses, HOME and the XDG directories
are this run's own, in a temporary directory. As root the run also has a network namespace of its
own (--network private, the default for root), so port 443 and Chromium's traffic stay inside it
and two runs can go side by side; the display and the buses are Unix sockets in the file system,
so the printed assignments work from outside it as well.

Chromium shows the profile's name on its profile button only when the profile has one: "Local
State" names the "Default" profile "Work" (profile.info_cache), otherwise the button says "You".
The preferences switch off the password manager (its "Save password?" bubble would take the focus
after a delivery), sign-in and translation.

On macOS (scripts/test-live-macos.sh) there is no private desktop to start: Google Chrome runs on
the logged-in desktop with a throwaway --user-data-dir whose profile is named "Work", and the pages,
the checks and their output are the same. What differs: the windows are read from the window
server (CGWindowListCopyWindowInfo), the clipboard with pbpaste and pbcopy, and Chrome is started
without --force-renderer-accessibility, so that its pages are exposed only through the page
switch the tool turns on and must put back. --grant-accessibility seeds the system privacy
database with an Accessibility grant for an executable's path (CI runners, where System
Integrity Protection is off).

--lang starts Chromium in another UI language (its toolbar then carries that language's names;
"de" needs Debian's chromium-l10n), --only limits the groups of checks after the count, and
--bench runs the given live benchmark (bench/linux) briefly after the checks.

The output never shows a secret: only PASS/FAIL lines with lengths, and the summary
"N passed, N failed". The exit status is 0 only when every check passed.
"""

from __future__ import annotations

import argparse
import http.server
import json
import os
import re
import secrets
import select
import shutil
import signal
import ssl
import string
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

IS_MAC = sys.platform == "darwin"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROFILE = "Work"
ORIGIN = "https://localhost"
STARTUP_SECONDS = 90.0
STEP_SECONDS = 15.0

# Accessibility roles (AT-SPI numbering).
ROLE_PASSWORD_TEXT = 40
ROLE_PUSH_BUTTON = 43
ROLE_ENTRY = 79
ROLE_DOCUMENT_WEB = 95
STATE_FOCUSED = 12

# The address bar's accessible name in the UI languages a run can be started in (--lang): the
# run checks that Chromium shows it, so that a run in German does meet a German toolbar.
ADDRESS_BAR_NAMES = {"en-US": "Address and search bar", "de": "Adress- und Suchleiste"}
# Chrome's window where the checks expect it, and none of its own traffic or first-run screens.
WINDOW_AND_QUIET_FLAGS = ("--window-position=0,0", "--window-size=1200,900", "--disable-background-networking",
                          "--disable-component-update", "--disable-sync", "--disable-search-engine-choice-screen")
GROUPS = ("delivery", "refusals", "stop", "key", "clipboard", "trust and visibility", "typing guards")


class SetupError(Exception):
    """The environment did not come up; the message says which part and why."""


def log(message: str) -> None:
    print(message, flush=True)


def wait_for(predicate: Callable[[], Any], timeout: float, what: str, interval: float = 0.1) -> Any:
    """Polls `predicate` until it returns something true; SetupError after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise SetupError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def run(command: Sequence[str], env: Dict[str, str], timeout: float = 10.0,
        input_data: Optional[bytes] = None) -> subprocess.CompletedProcess:
    return subprocess.run(list(command), env=env, input=input_data, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, check=False)


# -- the pages ------------------------------------------------------------------------------------

PAGE_SCRIPT = r"""
const page = document.body.dataset.page;
const instance = Math.random().toString(36).slice(2) + Date.now().toString(36);
let sequence = 0;
function post(path, body) {
  return fetch(path, {method: 'POST', cache: 'no-store', headers: {'Content-Type': 'application/json'},
                      body: JSON.stringify(body)});
}
function fields() {
  const values = {};
  for (const input of document.querySelectorAll('input')) values[input.name] = input.value;
  return values;
}
function state() {
  const active = document.activeElement;
  return {page: page, active: active && active.name ? active.name : null, hasFocus: document.hasFocus(),
          values: fields(), text: document.body.innerText.length};
}
for (const input of document.querySelectorAll('input')) {
  input.addEventListener('input', () => post('/report', {page: page, field: input.name, value: input.value,
                                                         sequence: ++sequence}));
}
function perform(command) {
  if (command.op === 'focus') {
    const input = document.querySelector('input[name="' + command.field + '"]');
    input.focus();
    if (command.select) input.select();
  } else if (command.op === 'fill') {
    const input = document.querySelector('input[name="' + command.field + '"]');
    input.value = command.value;
    post('/report', {page: page, field: input.name, value: input.value, sequence: ++sequence});
  } else if (command.op === 'show_key') {
    const item = document.createElement('li');
    item.id = 'new-key';
    item.textContent = 'New secret key: ' + command.key;
    document.getElementById('keys').appendChild(item);
  }
  return state();
}
async function poll() {
  for (;;) {
    try {
      const response = await fetch('/command?instance=' + instance, {cache: 'no-store'});
      const command = await response.json();
      if (command.id) {
        let result;
        try { result = perform(command); } catch (error) { result = {error: String(error)}; }
        await post('/ack', {id: command.id, result: result});
        // Navigating only once the acknowledgement is through: leaving the page cancels requests.
        if (command.op === 'navigate') { location.href = command.url; return; }
      }
    } catch (error) {
      await new Promise(resolve => setTimeout(resolve, 200));
    }
  }
}
window.addEventListener('focus', () => post('/event', {page: page, event: 'focus', state: state()}));
post('/loaded', state()).then(poll);
"""

LOGIN_TITLE = "Sign in"
FIELD_LABELS = {"search": "Search the help pages", "username": "User name", "password": "Password"}
LOGIN_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Sign in</title></head>
<body data-page="login">
<h1>Sign in to the example account</h1>
<form onsubmit="return false">
<p><label>Search the help pages <input type="search" name="search"></label></p>
<p><label>User name <input type="text" name="username" autocomplete="off"></label></p>
<p><label>Password <input type="password" name="password" autocomplete="off" autofocus></label></p>
</form>
<script src="/page.js"></script>
</body></html>
"""

CONSOLE_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Developer console</title></head>
<body data-page="console">
<h1>Developer console</h1>
<p>API keys of this project:</p>
<ul id="keys"><li>Restricted key issued last year: {old_key}</li></ul>
<script src="/page.js"></script>
</body></html>
"""


def random_key(prefix: str = "sk_live_") -> str:
    alphabet = string.ascii_letters + string.digits
    return prefix + "".join(secrets.choice(alphabet) for _ in range(40))


class PageServer:
    """The https server: serves the pages, collects what they report and hands them commands."""

    def __init__(self, certificate: str, key: str, old_key: str) -> None:
        self.condition = threading.Condition()
        self.reports: List[Dict[str, Any]] = []   # every field value change, in arrival order
        self.loads: List[Dict[str, Any]] = []     # every page load with the page's state
        # Commands not yet acknowledged, with the page instances each was handed to: a page that
        # went away before acknowledging one leaves it to the next page.
        self.commands: List[Tuple[Dict[str, Any], set]] = []
        self.acks: Dict[int, Any] = {}
        self.next_id = 1
        self.stopped = False
        self.old_key = old_key
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args: Any) -> None:  # reports carry secrets: log nothing
                pass

            def send(self, status: int, body: bytes, content_type: str) -> None:
                self.send_response(status)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def do_GET(self) -> None:
                path = urllib.parse.urlparse(self.path).path
                pages = {"/login.html": LOGIN_PAGE,
                         "/console.html": CONSOLE_PAGE.replace("{old_key}", server.old_key)}
                if path in pages:
                    self.send(200, pages[path].encode(), "text/html; charset=utf-8")
                elif path == "/page.js":
                    self.send(200, PAGE_SCRIPT.encode(), "text/javascript; charset=utf-8")
                elif path == "/command":
                    query = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
                    command = server.next_command(query.get("instance", [""])[0], timeout=5.0)
                    self.send(200, json.dumps(command or {}).encode(), "application/json")
                elif path == "/favicon.ico":
                    self.send(204, b"", "image/x-icon")
                else:
                    self.send(404, b"not found", "text/plain")

            def do_POST(self) -> None:
                path = urllib.parse.urlparse(self.path).path
                length = int(self.headers.get("Content-Length") or 0)
                try:
                    body = json.loads(self.rfile.read(length).decode("utf-8"))
                except ValueError:
                    body = None
                if isinstance(body, dict):
                    server.record(path, body)
                self.send(204, b"", "text/plain")

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def verify_request(self, request: Any, client_address: Any) -> bool:
                # Only this machine's own connections (on macOS the socket listens on every address).
                return client_address[0] in ("127.0.0.1", "::1", "::ffff:127.0.0.1")

            def handle_error(self, request: Any, client_address: Any) -> None:
                # A page that navigates away drops its pending requests: nothing to report.
                if not isinstance(sys.exc_info()[1], (OSError, ssl.SSLError)):
                    super().handle_error(request, client_address)

        # XNU asks for privilege to bind a port below 1024 only on a specific address, not on the
        # wildcard one (bsd/netinet/in_pcb.c, in_pcbbind: the IPPORT_RESERVED check requires
        # sin_addr.s_addr != 0), so an unprivileged run on macOS listens on 0.0.0.0:443 and
        # refuses peers that are not loopback (verify_request above). Linux refuses both alike
        # without root, which the driver has there.
        self.httpd = Server(("0.0.0.0" if IS_MAC else "127.0.0.1", 443), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.thread = threading.Thread(target=self.httpd.serve_forever, name="https", daemon=True)
        self.thread.start()

    def stop(self) -> None:
        with self.condition:
            self.stopped = True
            self.condition.notify_all()
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(5)

    def record(self, path: str, body: Dict[str, Any]) -> None:
        with self.condition:
            if path == "/report":
                self.reports.append(body)
            elif path == "/loaded":
                self.loads.append(body)
            elif path == "/ack" and isinstance(body.get("id"), int):
                self.acks[body["id"]] = body.get("result")
                self.commands = [entry for entry in self.commands if entry[0]["id"] != body["id"]]
            self.condition.notify_all()

    def next_command(self, instance: str, timeout: float) -> Optional[Dict[str, Any]]:
        def pending() -> Optional[Tuple[Dict[str, Any], set]]:
            return next((entry for entry in self.commands if instance not in entry[1]), None)

        with self.condition:
            self.condition.wait_for(lambda: pending() or self.stopped, timeout)
            entry = pending()
            if entry is None:
                return None
            entry[1].add(instance)
            return entry[0]

    def command(self, op: str, timeout: float = STEP_SECONDS, **arguments: Any) -> Dict[str, Any]:
        """Queues a command for the page and waits for its acknowledgement (the page's state)."""
        with self.condition:
            number = self.next_id
            self.next_id += 1
            self.commands.append((dict(arguments, id=number, op=op), set()))
            self.condition.notify_all()
            if not self.condition.wait_for(lambda: number in self.acks, timeout):
                # Take it back so that a late page does not act on it.
                self.commands = [entry for entry in self.commands if entry[0]["id"] != number]
                raise SetupError(f"the page did not acknowledge the command {op!r} within {timeout:.0f} s")
            result = self.acks.pop(number)
            return result if isinstance(result, dict) else {}

    def report_count(self) -> int:
        with self.condition:
            return len(self.reports)

    def reports_since(self, index: int) -> List[Dict[str, Any]]:
        with self.condition:
            return list(self.reports[index:])

    def last_value(self, field: str, since: int) -> Optional[str]:
        """The field's value in the latest of its reports since report number `since` (by the
        page's own sequence: reports may arrive out of order), or None without one."""
        with self.condition:
            reports = [r for r in self.reports[since:] if r.get("field") == field
                       and isinstance(r.get("sequence"), int)]
        return max(reports, key=lambda r: r["sequence"])["value"] if reports else None

    def wait_load(self, page: str, after: int, timeout: float) -> Dict[str, Any]:
        with self.condition:
            found = self.condition.wait_for(
                lambda: any(load.get("page") == page for load in self.loads[after:]), timeout)
            if not found:
                raise SetupError(f"the page {page}.html did not report its load within {timeout:.0f} s")
            return [load for load in self.loads[after:] if load.get("page") == page][-1]

    def load_count(self) -> int:
        with self.condition:
            return len(self.loads)


# -- the accessibility bus, read with dbus-send ------------------------------------------------------

class AccessibilityBus:
    """Reads the accessibility tree with dbus-send (no D-Bus module in the standard library)."""

    def __init__(self, address: str, env: Dict[str, str]) -> None:
        self.address = address
        self.env = env

    def call(self, destination: str, path: str, interface: str, method: str, *arguments: str) -> Optional[str]:
        result = run(["dbus-send", f"--bus={self.address}", "--print-reply", "--reply-timeout=5000",
                      f"--dest={destination}", path, f"{interface}.{method}", *arguments], self.env)
        return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None

    def children(self, node: Tuple[str, str]) -> List[Tuple[str, str]]:
        reply = self.call(node[0], node[1], "org.a11y.atspi.Accessible", "GetChildren")
        return re.findall(r'string "([^"]*)"\s*object path "([^"]*)"', reply or "")

    def name(self, node: Tuple[str, str]) -> Optional[str]:
        reply = self.call(node[0], node[1], "org.freedesktop.DBus.Properties", "Get",
                          "string:org.a11y.atspi.Accessible", "string:Name")
        match = re.search(r'variant\s+string "(.*)"\s*$', reply or "", re.S)
        return match.group(1) if match else None

    def role(self, node: Tuple[str, str]) -> Optional[int]:
        reply = self.call(node[0], node[1], "org.a11y.atspi.Accessible", "GetRole")
        match = re.search(r"uint32 (\d+)", reply or "")
        return int(match.group(1)) if match else None

    def focused(self, node: Tuple[str, str]) -> bool:
        reply = self.call(node[0], node[1], "org.a11y.atspi.Accessible", "GetState")
        words = [int(word) for word in re.findall(r"uint32 (\d+)", reply or "")]
        return bool(words) and bool(words[0] & (1 << STATE_FOCUSED))

    def page_fields(self, application: Tuple[str, str], title: str) -> Dict[str, Tuple[str, str]]:
        """The text and password fields, by accessible name, of the page whose document is named
        `title` (empty without such a document)."""
        queue = list(self.children(application))
        while queue:
            node = queue.pop(0)
            role = self.role(node)
            if role == ROLE_DOCUMENT_WEB:
                if self.name(node) != title:
                    continue
                fields: Dict[str, Tuple[str, str]] = {}
                inner = list(self.children(node))
                while inner:
                    item = inner.pop(0)
                    if self.role(item) in (ROLE_ENTRY, ROLE_PASSWORD_TEXT):
                        fields[self.name(item) or ""] = item
                    else:
                        inner.extend(self.children(item))
                return fields
            queue.extend(self.children(node))
        return {}

    def applications(self) -> List[Tuple[Tuple[str, str], Optional[str]]]:
        root = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
        return [(child, self.name(child)) for child in self.children(root)]

    def chromium(self) -> Optional[Tuple[str, str]]:
        for node, name in self.applications():
            if name == "Chromium":
                return node
        return None

    def push_button_names(self, application: Tuple[str, str], limit: int = 600) -> List[str]:
        """The names of the push buttons in Chromium's windows outside their web pages."""
        return self.names_outside_pages(application, ROLE_PUSH_BUTTON, limit)

    def names_outside_pages(self, application: Tuple[str, str], wanted: int, limit: int = 600) -> List[str]:
        """The names of the elements of role `wanted` in Chromium's windows outside their web pages."""
        names: List[str] = []
        queue = list(self.children(application))
        visited = 0
        while queue and visited < limit:
            node = queue.pop(0)
            visited += 1
            role = self.role(node)
            if role == ROLE_DOCUMENT_WEB:
                continue
            if role == wanted:
                name = self.name(node)
                if name:
                    names.append(name)
            queue.extend(self.children(node))
        return names


# -- X windows ------------------------------------------------------------------------------------

def top_level_windows(env: Dict[str, str]) -> List[int]:
    """The root window's children (under openbox these are its frames)."""
    result = run(["xwininfo", "-root", "-children"], env)
    return [int(match, 16) for match in re.findall(r"^\s+(0x[0-9a-f]+) ", result.stdout.decode(), re.M)]


def window_properties(window: int, env: Dict[str, str]) -> str:
    return run(["xprop", "-id", str(window), "WM_CLASS", "_NET_WM_PID", "WM_STATE"], env).stdout.decode()


def window_pid(window: int, env: Dict[str, str]) -> Optional[int]:
    match = re.search(r"_NET_WM_PID\(CARDINAL\) = (\d+)", window_properties(window, env))
    return int(match.group(1)) if match else None


def is_viewable(window: int, env: Dict[str, str]) -> bool:
    return "Map State: IsViewable" in run(["xwininfo", "-id", str(window)], env).stdout.decode()


def chromium_client_windows(env: Dict[str, str]) -> List[Tuple[int, int]]:
    """(window, pid) of Chromium's viewable client windows: the top-level windows themselves
    without a window manager, the managed client windows (_NET_CLIENT_LIST) under one."""
    client_list = run(["xprop", "-root", "_NET_CLIENT_LIST"], env).stdout.decode()
    if "window id #" in client_list:
        candidates = [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", client_list.split("#", 1)[1])]
    else:
        candidates = top_level_windows(env)
    found = []
    for window in candidates:
        properties = window_properties(window, env)
        if '"chromium"' not in properties.lower() or not is_viewable(window, env):
            continue
        pid = window_pid(window, env)
        if pid is not None:
            found.append((window, pid))
    return found


# -- the environment ------------------------------------------------------------------------------

class Environment:
    """Everything the checks need, private to this run, and stopped by `stop`."""

    def __init__(self, window_manager: str, chromium: str, language: str = "en-US",
                 chromium_arguments: Sequence[str] = ()) -> None:
        self.window_manager = window_manager
        self.language = language
        self.chromium_arguments = list(chromium_arguments)  # more of Chromium's switches (bench/agent)
        self.chromium_command = chromium
        self.root = tempfile.mkdtemp(prefix="live-chromium-")
        self.marker = "live-chromium-" + secrets.token_hex(8)
        self.processes: List[Tuple[str, subprocess.Popen]] = []
        self.server: Optional[PageServer] = None
        self.env: Dict[str, str] = {}
        self.a11y: Optional[AccessibilityBus] = None
        self.chromium: Optional[subprocess.Popen] = None
        self.old_key = random_key()
        self.timings: Dict[str, float] = {}

    # starting

    def start(self) -> None:
        started = time.monotonic()
        home = os.path.join(self.root, "home")
        runtime = os.path.join(self.root, "runtime")
        for directory in (home, runtime):
            os.makedirs(directory, mode=0o700)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/local/bin:/usr/bin:/bin"),
            "HOME": home,
            "XDG_RUNTIME_DIR": runtime,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "TMPDIR": self.root,
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            # Marks every process of this run (it is inherited, also by what the bus activates),
            # so that the end finds and stops them all.
            "LIVE_CHROMIUM_RUN": self.marker,
        }
        if self.language != "en-US":
            # Chromium on Linux takes its UI language from the environment (LANGUAGE first, as
            # GLib's g_get_language_names reads it), not from --lang alone.
            self.env["LANGUAGE"] = self.language
        self.start_x()
        self.timings["xvfb"] = time.monotonic() - started
        self.start_session_bus()
        self.enable_accessibility()
        self.timings["buses"] = time.monotonic() - started
        if self.window_manager == "openbox":
            self.start_openbox()
        self.start_server()
        self.start_chromium()
        self.timings["setup"] = time.monotonic() - started

    def spawn(self, name: str, command: Sequence[str], **options: Any) -> subprocess.Popen:
        options.setdefault("stdout", subprocess.DEVNULL)
        options.setdefault("stderr", subprocess.DEVNULL)
        process = subprocess.Popen(list(command), env=self.env, stdin=subprocess.DEVNULL,
                                   start_new_session=True, **options)
        self.processes.append((name, process))
        return process

    def start_x(self) -> None:
        reader, writer = os.pipe()
        try:
            process = self.spawn("Xvfb", ["Xvfb", "-displayfd", str(writer), "-screen", "0", "1280x1024x24",
                                          "-nolisten", "tcp", "-noreset"], pass_fds=(writer,))
        finally:
            os.close(writer)
        try:
            text = b""
            deadline = time.monotonic() + 30
            while not text.endswith(b"\n"):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not select.select([reader], [], [], remaining)[0]:
                    raise SetupError("Xvfb did not report its display within 30 s")
                chunk = os.read(reader, 64)
                if not chunk:
                    raise SetupError(f"Xvfb ended at start (status {process.wait()})")
                text += chunk
        finally:
            os.close(reader)
        self.env["DISPLAY"] = ":" + text.decode().strip()
        wait_for(lambda: run(["xprop", "-root", "-len", "0", "_NET_SUPPORTED"], self.env).returncode == 0,
                 30, "the X display to answer")

    def start_session_bus(self) -> None:
        socket_path = os.path.join(self.root, "session-bus")
        process = self.spawn("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                             f"--address=unix:path={socket_path}", "--print-address=1"],
                             stdout=subprocess.PIPE)
        ready = select.select([process.stdout], [], [], 30)[0]
        line = process.stdout.readline().decode().strip() if ready else ""
        if not line:
            raise SetupError("the session bus did not print its address within 30 s")
        process.stdout.close()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = line

    def enable_accessibility(self) -> None:
        """Switches the accessibility bus on (org.a11y.Status IsEnabled) and waits until its
        registry answers: Chromium only joins a bus that is enabled when it starts."""
        bus_call = ["dbus-send", "--session", "--print-reply", "--reply-timeout=10000", "--dest=org.a11y.Bus",
                    "/org/a11y/bus"]
        result = run(bus_call + ["org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                                 "string:IsEnabled", "variant:boolean:true"], self.env, timeout=30)
        if result.returncode != 0:
            raise SetupError("cannot switch the accessibility bus on: " + result.stderr.decode().strip())

        def enabled() -> bool:
            answer = run(bus_call + ["org.freedesktop.DBus.Properties.Get", "string:org.a11y.Status",
                                     "string:IsEnabled"], self.env)
            return answer.returncode == 0 and "boolean true" in answer.stdout.decode()

        wait_for(enabled, 30, "the accessibility bus to report IsEnabled true")

        def address() -> Optional[str]:
            answer = run(bus_call + ["org.a11y.Bus.GetAddress"], self.env)
            match = re.search(r'string "([^"]+)"', answer.stdout.decode())
            return match.group(1) if match else None

        self.a11y = AccessibilityBus(wait_for(address, 30, "the accessibility bus address"), self.env)
        wait_for(lambda: self.a11y.call("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                        "org.a11y.atspi.Accessible", "GetChildren") is not None,
                 30, "the accessibility registry to answer")

    def start_openbox(self) -> None:
        self.spawn("openbox", ["openbox", "--sm-disable"])
        wait_for(lambda: "window id #" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], self.env).stdout.decode(),
                 30, "openbox to manage the display (_NET_SUPPORTING_WM_CHECK)")

    def start_server(self) -> None:
        certificate = os.path.join(self.root, "localhost.crt")
        key = os.path.join(self.root, "localhost.key")
        command = ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                   "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                   "-keyout", key, "-out", certificate]
        result = run(command, self.env, timeout=60)
        if result.returncode != 0 and IS_MAC:
            # An older LibreSSL (macOS's openssl) lacks -addext; Chrome ignores the name anyway
            # (--ignore-certificate-errors).
            result = run([word for word in command if not word.startswith(("-addext", "subjectAltName"))],
                         self.env, timeout=60)
        if result.returncode != 0:
            raise SetupError("openssl could not make the certificate: " + result.stderr.decode().strip())
        try:
            self.server = PageServer(certificate, key, self.old_key)
        except OSError as error:
            raise SetupError(f"cannot serve https on 127.0.0.1:443: {error.strerror}") from None

    def prepare_profile(self, user_data: str) -> None:
        """A fresh user data directory whose one profile ("Default") is named "Work"."""
        default = os.path.join(user_data, "Default")
        os.makedirs(default)
        local_state = {
            "browser": {"enabled_labs_experiments": [], "has_seen_welcome_page": True},
            "profile": {
                "info_cache": {"Default": {"name": PROFILE, "is_using_default_name": False,
                                           "avatar_icon": "chrome://theme/IDR_PROFILE_AVATAR_26",
                                           "is_ephemeral": False, "active_time": time.time()}},
                "last_used": "Default", "last_active_profiles": ["Default"],
                "profiles_order": ["Default"], "picker_shown": True, "show_picker_on_startup": False,
            },
        }
        preferences = {
            "profile": {"name": PROFILE, "using_default_name": False, "exit_type": "Normal",
                        "exited_cleanly": True},
            "browser": {"has_seen_welcome_page": True, "check_default_browser": False},
            "credentials_enable_service": False,
            "translate": {"enabled": False},
            "signin": {"allowed": False, "allowed_on_next_startup": False},
            "sync_promo": {"user_skipped": True, "show_on_first_run_allowed": False},
        }
        with open(os.path.join(user_data, "Local State"), "w") as stream:
            json.dump(local_state, stream)
        with open(os.path.join(default, "Preferences"), "w") as stream:
            json.dump(preferences, stream)
        with open(os.path.join(user_data, "First Run"), "w"):
            pass

    def start_chromium(self) -> None:
        user_data = os.path.join(self.root, "chromium")
        self.prepare_profile(user_data)
        loads = self.server.load_count()
        self.chromium = self.spawn("chromium", [
            self.chromium_command,
            "--no-sandbox",                    # runs as root in CI
            "--force-renderer-accessibility",  # without it the toolbar and the page stay off the bus
            "--ignore-certificate-errors",     # the throwaway certificate
            f"--user-data-dir={user_data}", "--no-first-run", "--no-default-browser-check",
            "--password-store=basic",          # no keyring on the private session bus
            "--disable-gpu", "--disable-dev-shm-usage",
            "--test-type",                     # no infobar "unsupported command-line flag: --no-sandbox"
            f"--lang={self.language}",         # the toolbar's names in this UI language
            *WINDOW_AND_QUIET_FLAGS,
            *self.chromium_arguments,
            f"{ORIGIN}/login.html"])
        started = time.monotonic()
        self.login_state = self.server.wait_load("login", loads, STARTUP_SECONDS)
        self.timings["page"] = time.monotonic() - started
        application = wait_for(self.a11y.chromium, STARTUP_SECONDS, "Chromium on the accessibility bus",
                               interval=0.25)
        self.timings["a11y"] = time.monotonic() - started
        self.chromium_application = application
        wait_for(lambda: PROFILE in self.a11y.push_button_names(application), STARTUP_SECONDS,
                 f'the profile button named "{PROFILE}"', interval=0.25)
        self.timings["profile_button"] = time.monotonic() - started
        windows = wait_for(lambda: chromium_client_windows(self.env), STARTUP_SECONDS,
                           "Chromium's top-level window", interval=0.25)
        self.chromium_windows = windows
        # The browser process: the one whose window it is (_NET_WM_PID; /usr/bin/chromium is a
        # script that ends by exec'ing the browser, so this is normally the process started here).
        self.browser_pid = windows[0][1]
        wait_for(lambda: self.server.command("state").get("hasFocus"), 30,
                 "the login page to have the keyboard focus (document.hasFocus())", interval=0.25)
        self.timings["focus"] = time.monotonic() - started

    # using

    def browser_windows(self) -> List[Tuple[int, int]]:
        """(window number, pid) of the browser's top-level windows on screen."""
        return chromium_client_windows(self.env)

    def page_switch(self) -> Optional[Dict[str, Any]]:
        """Chrome's page-accessibility attributes; None where the browser has no such switch."""
        return None

    def assignments(self) -> str:
        return (f"DISPLAY={self.env['DISPLAY']} DBUS_SESSION_BUS_ADDRESS={self.env['DBUS_SESSION_BUS_ADDRESS']} "
                f"CHROMIUM_PID={getattr(self, 'browser_pid', '')}")

    # stopping

    def marked_processes(self) -> List[int]:
        found = []
        needle = ("LIVE_CHROMIUM_RUN=" + self.marker).encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as stream:
                    if needle in stream.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def stop(self) -> None:
        if self.server is not None:
            self.server.stop()
            self.server = None
        # Chromium first (it talks to the buses and the display), then the rest in reverse order.
        for name, process in reversed(sorted(self.processes, key=lambda item: item[0] == "chromium")):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    try:
                        os.killpg(process.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                    process.wait(5)
            if process.stdout:
                process.stdout.close()
        # Whatever the buses activated or Chromium left behind: stopped by the run's mark.
        for attempt in range(50):
            left = self.marked_processes()
            if not left:
                break
            for pid in left:
                try:
                    os.kill(pid, signal.SIGTERM if attempt < 20 else signal.SIGKILL)
                except ProcessLookupError:
                    pass
            time.sleep(0.1)
        self.processes = []
        shutil.rmtree(self.root, ignore_errors=True)


# -- macOS: Google Chrome on this Mac's desktop ----------------------------------------------------

# Where the Google Chrome cask installs the browser, as on GitHub's macOS runner images
# (actions/runner-images, images/macos/scripts/build/install-chrome.sh).
MAC_CHROME = "/Applications/Google Chrome.app/Contents/MacOS/Google Chrome"
MAC_SWITCH_ATTRIBUTES = ("AXManualAccessibility", "AXEnhancedUserInterface")

# JavaScript for Automation (osascript -l JavaScript) reaches the system's C functions through their
# BridgeSupport descriptions, so the driver reads the window server and Accessibility without
# anything beyond the system. A reading comes back as JSON on standard output.
JXA_WINDOWS = r"""
ObjC.import('CoreGraphics');
function run(argv) {
  const list = ObjC.castRefToObject($.CGWindowListCopyWindowInfo(
      $.kCGWindowListOptionOnScreenOnly | $.kCGWindowListExcludeDesktopElements, $.kCGNullWindowID));
  const windows = ObjC.deepUnwrap(list) || [];
  return JSON.stringify(windows.map(w => ({number: w.kCGWindowNumber, pid: w.kCGWindowOwnerPID,
                                           layer: w.kCGWindowLayer})));
}
"""
JXA_SWITCHES = r"""
ObjC.import('ApplicationServices');
function run(argv) {
  const application = $.AXUIElementCreateApplication(Number(argv[0]));
  const values = {};
  for (const name of argv.slice(1)) {
    const value = Ref();
    const error = $.AXUIElementCopyAttributeValue(application, $(name), value);
    values[name] = error === 0 ? ObjC.deepUnwrap(ObjC.castRefToObject(value[0])) : {error: error};
  }
  return JSON.stringify(values);
}
"""
JXA_PASTEBOARD_TYPES = r"""
ObjC.import('AppKit');
function run(argv) {
  return JSON.stringify(ObjC.deepUnwrap($.NSPasteboard.generalPasteboard.types) || []);
}
"""


def jxa(script: str, *arguments: str, timeout: float = 20.0) -> Any:
    result = subprocess.run(["osascript", "-l", "JavaScript", "-e", script, *arguments], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=timeout, check=False)
    if result.returncode != 0:
        raise SetupError("osascript: " + result.stderr.decode("utf-8", "replace").strip())
    return json.loads(result.stdout.decode("utf-8") or "null")


def mac_browser_windows(pid: int) -> List[Tuple[int, int]]:
    """(window number, pid) of the process's on-screen windows of the normal layer (0)."""
    return [(w["number"], w["pid"]) for w in jxa(JXA_WINDOWS)
            if w.get("pid") == pid and w.get("layer") == 0 and isinstance(w.get("number"), int)]


def mac_page_switch(pid: int) -> Dict[str, Any]:
    """The values of Chrome's two page-accessibility attributes on its application element (a
    boolean, or {"error": code} when the read fails)."""
    return jxa(JXA_SWITCHES, str(pid), *MAC_SWITCH_ATTRIBUTES)


def switch_values(values: Optional[Dict[str, Any]]) -> Dict[str, bool]:
    """The attributes that could be read, as booleans (a read that failed carries {"error": code})."""
    return {name: bool(value) for name, value in (values or {}).items() if isinstance(value, (bool, int))}


def switch_on(values: Optional[Dict[str, Any]]) -> bool:
    return any(switch_values(values).values())


def switch_back(before: Optional[Dict[str, Any]], after: Optional[Dict[str, Any]]) -> bool:
    """True when every attribute readable both times has its earlier value again, and at least one
    was readable: a switch that cannot be read proves nothing."""
    earlier, later = switch_values(before), switch_values(after)
    common = earlier.keys() & later.keys()
    return bool(common) and all(earlier[name] == later[name] for name in common)


# The system privacy database, and the grant it holds for a path-based client. client_type 1 names
# the client by its executable's path; auth_value 2 allows; auth_reason 4 is "set by the system",
# as in the grants of GitHub's macOS images (actions/runner-images,
# images/macos/scripts/build/configure-tccdb-macos.sh). The access table gained four columns in
# macOS 14 (pid, pid_version, boot_uuid, last_reminded; the same script's comment), so the row is
# written by column name from the table's own description, never by position.
TCC_DATABASE = "/Library/Application Support/com.apple.TCC/TCC.db"
TCC_ACCESSIBILITY = "kTCCServiceAccessibility"


def tcc_grant_row(columns: Sequence[Tuple[str, bool, Optional[str]]], client: str,
                  csreq: Optional[bytes], now: int) -> Dict[str, Any]:
    """The values of an Accessibility grant for `client` (a path), by column, for an access table
    described as (name, not null, default) per column. Columns the grant does not set keep their
    default; SetupError for a required column without a default that it does not know."""
    known: Dict[str, Any] = {
        "service": TCC_ACCESSIBILITY, "client": client, "client_type": 1, "auth_value": 2,
        "auth_reason": 4, "auth_version": 1, "csreq": csreq, "policy_id": None,
        "indirect_object_identifier_type": None, "indirect_object_identifier": "UNUSED",
        "indirect_object_code_identity": None, "flags": 0, "last_modified": now,
        "pid": None, "pid_version": None, "boot_uuid": "UNUSED", "last_reminded": now,
        # The table before macOS 11.
        "allowed": 1, "prompt_count": 1,
    }
    names = [name for name, _, _ in columns]
    for required in ("service", "client", "client_type"):
        if required not in names:
            raise SetupError(f"the access table has no column {required!r}: not a privacy database this driver knows")
    if "auth_value" not in names and "allowed" not in names:
        raise SetupError("the access table has neither auth_value nor allowed: not a privacy database this driver knows")
    row: Dict[str, Any] = {}
    for name, not_null, default in columns:
        if name in known:
            row[name] = known[name]
        elif not_null and default is None:
            raise SetupError(f"the access table requires a column this driver does not know: {name!r}")
    return row


def grant_accessibility(database: str, client: str, csreq: Optional[bytes]) -> None:
    """Writes (or replaces) the Accessibility grant for the executable at `client`."""
    import sqlite3

    connection = sqlite3.connect(database)
    try:
        columns = [(row[1], bool(row[3]), row[4]) for row in connection.execute("PRAGMA table_info(access)")]
        if not columns:
            raise SetupError(f"{database} has no access table")
        row = tcc_grant_row(columns, client, csreq, int(time.time()))
        with connection:
            connection.execute(f"INSERT OR REPLACE INTO access ({', '.join(row)}) VALUES ({', '.join('?' * len(row))})",
                               list(row.values()))
    finally:
        connection.close()


def designated_requirement_text(shown: str) -> Optional[str]:
    """The designated requirement in `codesign --display --requirements -` output. codesign marks a
    requirement it derived rather than read from the signature (an ad-hoc signature's cdhash) as a
    comment: "# designated => cdhash H\"...\""."""
    match = re.search(r"^(?:# )?designated => (.+)$", shown, re.M)
    return match.group(1).strip() if match else None


def designated_requirement(executable: str) -> Optional[bytes]:
    """The compiled designated requirement of the executable's signature (for an ad-hoc signature
    its code-directory hash), or None when codesign or csreq cannot give it."""
    shown = subprocess.run(["codesign", "--display", "--requirements", "-", executable], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, check=False)
    requirement = designated_requirement_text(shown.stdout.decode("utf-8", "replace"))
    if shown.returncode != 0 or requirement is None:
        return None
    with tempfile.NamedTemporaryFile(suffix=".csreq") as compiled:
        result = subprocess.run(["csreq", "-r=" + requirement, "-b", compiled.name], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, check=False)
        return compiled.read() if result.returncode == 0 else None


class MacEnvironment(Environment):
    """Google Chrome on the logged-in desktop with a throwaway user data directory, and the page
    server. Nothing else is started: the window server and Accessibility are the Mac's own."""

    def __init__(self, chrome: str) -> None:
        super().__init__("none", chrome)
        self.user_data = os.path.join(self.root, "chrome")

    def start(self) -> None:
        started = time.monotonic()
        if subprocess.run(["pgrep", "-x", "Google Chrome"], stdout=subprocess.DEVNULL).returncode == 0:
            # The tool takes the running Chrome by its bundle identifier: another one would be in the way.
            raise SetupError("Google Chrome is already running: quit it first")
        if not os.access(self.chromium_command, os.X_OK):
            raise SetupError(f"no Google Chrome at {self.chromium_command}")
        self.env = dict(os.environ, TMPDIR=self.root, LIVE_CHROMIUM_RUN=self.marker)
        self.start_server()
        self.start_chromium()
        self.timings["setup"] = time.monotonic() - started

    def start_chromium(self) -> None:
        self.prepare_profile(self.user_data)
        loads = self.server.load_count()
        # No --force-renderer-accessibility: Chrome exposes its pages only while the tool's page
        # switch is on, as on a user's Mac. No --password-store: the mock keychain keeps Chrome
        # from asking the login keychain for its storage key.
        self.chromium = self.spawn("chromium", [
            self.chromium_command,
            "--use-mock-keychain",
            "--ignore-certificate-errors",     # the throwaway certificate
            f"--user-data-dir={self.user_data}", "--no-first-run", "--no-default-browser-check",
            "--test-type",                     # no infobar for the certificate switch
            *WINDOW_AND_QUIET_FLAGS,
            f"{ORIGIN}/login.html"])
        started = time.monotonic()
        self.login_state = self.server.wait_load("login", loads, STARTUP_SECONDS)
        self.timings["page"] = time.monotonic() - started
        # The executable in the bundle is the browser process itself (no launcher script).
        self.browser_pid = self.chromium.pid
        self.chromium_windows = wait_for(lambda: mac_browser_windows(self.browser_pid), STARTUP_SECONDS,
                                         "Chrome's window on screen", interval=0.5)
        self.timings["window"] = time.monotonic() - started
        focused = lambda: self.server.command("state").get("hasFocus")  # noqa: E731
        try:
            wait_for(focused, 10, "the login page to have the keyboard focus", interval=0.25)
        except SetupError:
            # Started from a process without a window, Chrome may open behind the front
            # application: Launch Services activates the running instance of the bundle.
            bundle = self.chromium_command.split("/Contents/MacOS/")[0]
            run(["open", "-a", bundle], self.env, timeout=30)
            wait_for(focused, 20, "the login page to have the keyboard focus (document.hasFocus())", interval=0.25)
        self.timings["focus"] = time.monotonic() - started

    def browser_windows(self) -> List[Tuple[int, int]]:
        return mac_browser_windows(self.browser_pid)

    def page_switch(self) -> Optional[Dict[str, Any]]:
        return mac_page_switch(self.browser_pid)

    def assignments(self) -> str:
        return f"CHROME_PID={getattr(self, 'browser_pid', '')} CHROME_USER_DATA_DIR={self.user_data}"

    def marked_processes(self) -> List[int]:
        # No /proc: Chrome's helpers carry the user data directory on their command lines.
        result = subprocess.run(["pgrep", "-f", "--", "--user-data-dir=" + self.user_data], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, check=False)
        return [int(pid) for pid in result.stdout.split() if int(pid) != os.getpid()]


# -- the checks -----------------------------------------------------------------------------------

# Secrets typed into the page: non-ASCII letters, symbols and a fresh random tail each run.
def fresh_secret(base: str) -> str:
    return base + "".join(secrets.choice(string.ascii_letters + string.digits) for _ in range(6))


class Checks:
    """Runs the checks and counts them. Output: PASS/FAIL, a short name and lengths, never a secret."""

    def __init__(self, environment: Environment, tool_path: str, only: Optional[Sequence[str]] = None,
                 bench: Optional[str] = None) -> None:
        sys.path.insert(0, os.path.join(ROOT, "clients", "python"))
        from chrome_private_input import Refusal, Tool, ToolError  # noqa: E402 (the client of this repository)

        self.Refusal = Refusal
        self.ToolError = ToolError
        self.Tool = Tool
        self.environment = environment
        self.env = environment.env
        self.server = environment.server
        self.tool = Tool([os.path.abspath(tool_path)], env=dict(environment.env), timeout=30.0)
        self.tool_path = tool_path
        self.only = only
        self.bench = bench
        self.passed = 0
        self.failed = 0
        self.window: Optional[int] = None
        self.fields: Dict[str, Tuple[str, str]] = {}
        self.fields_loads = -1

    def result(self, name: str, ok: bool, detail: str = "") -> bool:
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        log(f"{'PASS' if ok else 'FAIL'} {name}" + (f": {detail}" if detail else ""))
        return ok

    def group(self, name: str, body: Callable[[], None]) -> None:
        """Runs one group of cases; an unexpected error fails the group's current case."""
        try:
            body()
        except self.Refusal as refusal:
            self.result(name, False, f"unexpected refusal {refusal.reason} {json.dumps(refusal.checks)}")
        except Exception as error:  # a malformed answer (KeyError, TypeError...) fails, never ends the run
            self.result(name, False, f"{type(error).__name__}: {error}")

    # helpers

    def tool_ready(self) -> None:
        """Waits until the tool sees the profile's one window (Chromium may still be settling)."""
        last: List[str] = []

        def counted() -> bool:
            try:
                answer = self.tool.count_windows(PROFILE)
            except Exception as error:
                last[:] = [f"{type(error).__name__}: {error}"]
                return False
            last[:] = [f"count {answer.count}, windows {answer.windows}"]
            return answer.count == 1 and len(answer.window_numbers) == 1

        try:
            wait_for(counted, 60, "the tool to count one window of the profile", interval=0.5)
        except SetupError as error:
            raise SetupError(f"{error} (last answer: {last[0] if last else 'none'})") from None

    def page_state(self) -> Dict[str, Any]:
        return self.server.command("state")

    def ensure_page(self, page: str) -> Dict[str, Any]:
        state = self.page_state()
        if state.get("page") != page:
            loads = self.server.load_count()
            self.server.command("navigate", url=f"{ORIGIN}/{page}.html")
            self.server.wait_load(page, loads, STEP_SECONDS)
            state = self.page_state()
        return state

    def focus(self, field: str) -> None:
        """Focuses a field of the login page and waits until the accessibility tree shows it focused
        (Chromium updates the tree a little after the page), so the tool sees the new focus."""
        state = self.server.command("focus", field=field)
        if state.get("active") != field:
            raise SetupError(f"the page could not focus its {field} field (active: {state.get('active')})")
        bus = self.environment.a11y
        if bus is None:
            # macOS: the page tree exists only while the tool's page switch is on, and Chrome builds
            # it from the page as it is then; a short pause lets the focus change leave the renderer.
            time.sleep(0.3)
            return
        loads = self.server.load_count()
        if self.fields_loads != loads:
            self.fields = wait_for(lambda: bus.page_fields(self.environment.chromium_application, LOGIN_TITLE),
                                   STEP_SECONDS, "the login page's fields in the accessibility tree", interval=0.25)
            self.fields_loads = loads
        label = FIELD_LABELS[field]
        if label not in self.fields:
            raise SetupError(f"the accessibility tree shows no field named {label!r} on the login page")
        wait_for(lambda: bus.focused(self.fields[label]), STEP_SECONDS,
                 f"the accessibility tree to show the {field} field focused")

    def wait_value(self, field: str, expected: str, since: int) -> Tuple[bool, str]:
        """Polls until the page reported `expected` as the field's latest value and its DOM holds
        it, and both stay so for half a second (a keystroke still on its way would change them);
        the detail names lengths only."""
        deadline = time.monotonic() + 10
        reported: Optional[str] = None
        values: Dict[str, Any] = {}
        equal_since: Optional[float] = None
        while time.monotonic() < deadline:
            reported = self.server.last_value(field, since)
            values = self.page_state().get("values", {})
            if reported == expected and values.get(field) == expected:
                equal_since = equal_since or time.monotonic()
                if time.monotonic() - equal_since >= 0.5:
                    return True, f"{len(expected)} characters"
            else:
                equal_since = None
            time.sleep(0.1)
        have = values.get(field)
        return False, (f"expected {len(expected)} characters; the page's last report has "
                       f"{'none' if reported is None else len(reported)}, the field holds "
                       f"{'none' if have is None else len(have)}"
                       + ("" if have is None or have != expected else " (the field matches but no input event reported it)"))

    def deliver(self, secret: str, origins: Sequence[str], window: Optional[int]) -> Tuple[Any, bool]:
        """A delivery through the client; (result or Refusal, whether the secret was asked for)."""
        asked = []

        def source() -> bytearray:
            asked.append(True)
            return bytearray(secret.encode("utf-8"))

        try:
            return self.tool.deliver(PROFILE, list(origins), source, window_number=window), bool(asked)
        except self.Refusal as refusal:
            return refusal, bool(asked)

    def deliver_in_background(self, secret: str) -> Tuple[threading.Thread, List[Tuple[Any, bool]]]:
        """A delivery through a client of its own, on a thread; its outcome lands in the list."""
        tool = self.Tool([os.path.abspath(self.tool_path)], env=dict(self.env), timeout=30.0)
        outcomes: List[Tuple[Any, bool]] = []

        def body() -> None:
            asked = []

            def source() -> bytearray:
                asked.append(True)
                return bytearray(secret.encode("utf-8"))

            try:
                outcomes.append((tool.deliver(PROFILE, [ORIGIN], source, window_number=self.window), bool(asked)))
            except self.Refusal as refusal:
                outcomes.append((refusal, bool(asked)))
            except Exception as error:  # reported by the check that waits for it
                outcomes.append((error, bool(asked)))

        thread = threading.Thread(target=body, daemon=True)
        thread.start()
        return thread, outcomes

    def activate_browser(self) -> None:
        """Gives Chromium's window the X input focus back (through the window manager when one runs)."""
        command = "windowactivate" if self.environment.window_manager == "openbox" else "windowfocus"
        run(["xdotool", command, "--sync", str(self.window)], self.env, timeout=15)
        wait_for(lambda: self.page_state().get("hasFocus"), STEP_SECONDS, "the login page to have the focus again",
                 interval=0.25)

    # the groups

    def count(self) -> None:
        answer = self.tool.count_windows(PROFILE)
        windows = self.environment.browser_windows()
        chromium_windows = {window for window, pid in windows if pid == self.environment.browser_pid}
        self.window = answer.window_numbers[0] if len(answer.window_numbers) == 1 else None
        self.result("count: one window of Work with one tab",
                    answer.count == 1 and answer.windows == 1 and answer.tab_counts == [1]
                    and len(answer.window_numbers) == 1,
                    f"count {answer.count}, windows {answer.windows}, windowNumbers {answer.window_numbers}, "
                    f"tabCounts {answer.tab_counts}")
        self.result("count: the window number is Chrome's window-server window" if IS_MAC
                    else "count: the window number is Chromium's top-level X window",
                    self.window is not None and self.window in chromium_windows,
                    f"tool {answer.window_numbers}, Chromium's X windows {sorted(chromium_windows)}")
        self.result("count: the front window is the browser window showing Work",
                    answer.front_kind == "browser" and answer.front_avatar == PROFILE,
                    f"frontKind {answer.front_kind}, frontAvatar {answer.front_avatar}")
        other = self.tool.count_windows("Personal")
        self.result("count: no window of a profile that is not open", other.count == 0 and other.window_numbers == [],
                    f"count {other.count}")

    def delivery(self) -> None:
        self.ensure_page("login")
        for field, base, name in (
                ("password", "pa55-wörd€!Ωmega✓ #$%&*()[]{}<>?/|~^'\"", "delivery: the secret into the focused password field"),
                ("password", "Zweites-Geheimnis-ß€✓:;=+@", "delivery: a second secret replaces the field's text"),
                ("username", "jörg.ω+✓@example.com", "delivery: into a focused text field")):
            secret = fresh_secret(base)
            self.focus(field)
            before = self.page_state().get("values", {})
            if name.startswith("delivery: a second") and not before.get(field):
                self.server.command("fill", field=field, value="text already there")
                before = self.page_state().get("values", {})
            since = self.server.report_count()
            outcome, asked = self.deliver(secret, [ORIGIN], self.window)
            if isinstance(outcome, self.Refusal):
                self.result(name, False, f"refused: {outcome.reason} {json.dumps(outcome.checks)}"
                            f"{' after the secret was sent' if asked else ''}")
                continue
            ok, detail = self.wait_value(field, secret, since)
            after = self.page_state().get("values", {})
            others = {k: v for k, v in after.items() if k != field} == {k: v for k, v in before.items() if k != field}
            switch = outcome.page_switch or {}
            restored = switch.get("set") != 1 or switch.get("restored") == 1
            self.result(name, outcome.typed and asked and ok and others and restored,
                        detail + ("" if others else "; another field changed too")
                        + ("" if restored else f"; the page switch stayed on {json.dumps(switch)}"))

    def refusals(self) -> None:
        self.ensure_page("login")
        cases = (
            ("refusal: an origin that is not allowed", "password", ["https://example.com"], self.window,
             "origin_not_allowed"),
            ("refusal: focus in a search field", "search", [ORIGIN], self.window, "focused_field_not_supported"),
            ("refusal: a window number of no window", "password", [ORIGIN], 4242,
             "selected_chrome_profile_not_confirmed"),
        )
        for name, field, origins, window, reason in cases:
            self.focus(field)
            before = self.page_state().get("values", {})
            since = self.server.report_count()
            outcome, asked = self.deliver(fresh_secret("never-typed-€"), origins, window)
            # A command round trip: anything typed before it has reached the page's fields.
            after = self.page_state().get("values", {})
            reports = self.server.reports_since(since)
            got = outcome.reason if isinstance(outcome, self.Refusal) else "typed"
            self.result(name, got == reason and not asked and not reports and after == before,
                        f"answer {got} (expected {reason}), secret asked for: {'yes' if asked else 'no'}, "
                        f"field reports: {len(reports)}, fields unchanged: {'yes' if after == before else 'no'}")

    def key_capture(self) -> None:
        try:
            self.key_capture_cases()
        finally:
            self.ensure_page("login")

    def key_capture_cases(self) -> None:
        import hashlib

        self.ensure_page("console")
        baseline = self.tool.key_baseline(PROFILE, [ORIGIN], window_number=self.window)
        old = hashlib.sha256(self.environment.old_key.encode()).hexdigest()
        self.result("key: the baseline holds the key already on the page", old in baseline,
                    f"{len(baseline)} fingerprints")
        try:
            captured = self.tool.key_capture(PROFILE, [ORIGIN], baseline, window_number=self.window)
            self.result("key: no capture before a new key shows", False, f"captured {len(captured.key)} characters")
        except self.Refusal as refusal:
            self.result("key: no capture before a new key shows", refusal.reason == "page_key_not_found",
                        f"answer {refusal.reason}")
        key = random_key()
        self.server.command("show_key", key=key)
        # Chromium exposes the new text a little after the page shows it: ask again while the
        # tool finds no new key, for a bounded time.
        deadline = time.monotonic() + 10
        while True:
            try:
                captured = self.tool.key_capture(PROFILE, [ORIGIN], baseline, window_number=self.window)
                break
            except self.Refusal as refusal:
                if refusal.reason != "page_key_not_found" or time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        self.result("key: the new key is captured", captured.key == key,
                    f"{len(captured.key)} characters, expected {len(key)}"
                    + ("" if captured.key == key else ", different"))

    def clipboard_read(self, target: Optional[str] = None) -> Optional[bytes]:
        if IS_MAC:
            if target == "TARGETS":
                return "\n".join(jxa(JXA_PASTEBOARD_TYPES)).encode()
            result = run(["pbpaste"], self.env, timeout=10)
        else:
            command = ["xclip", "-o", "-selection", "clipboard"] + (["-t", target] if target else [])
            result = run(command, self.env, timeout=10)
        return result.stdout if result.returncode == 0 else None

    def clipboard_marked(self) -> Tuple[bool, str]:
        """Whether the clipboard marks its content as a secret that clipboard managers skip: the
        X hint x-kde-passwordManagerHint "secret", or on a Mac the type org.nspasteboard.ConcealedType."""
        targets = (self.clipboard_read("TARGETS") or b"").decode("utf-8", "replace").split()
        if IS_MAC:
            concealed = "org.nspasteboard.ConcealedType" in targets
            return concealed, f"{len(targets)} types, concealed type {'listed' if concealed else 'missing'}"
        hint = self.clipboard_read("x-kde-passwordManagerHint")
        return ("x-kde-passwordManagerHint" in targets and hint == b"secret",
                f"{len(targets)} targets, hint {'listed' if 'x-kde-passwordManagerHint' in targets else 'missing'}, "
                f"hint value {'secret' if hint == b'secret' else 'other'}")

    def copy_as_another_client(self, data: bytes) -> Optional[subprocess.Popen]:
        """Copies `data` as another program would; the process that serves it, if it must stay."""
        if IS_MAC:
            run(["pbcopy"], self.env, timeout=10, input_data=data)
            return None
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i"], env=self.env,
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 start_new_session=True)
        assert owner.stdin is not None
        owner.stdin.write(data)
        owner.stdin.close()
        return owner

    def clipboard(self) -> None:
        secret = fresh_secret("clip-€✓-Ω-")
        expected = secret.encode("utf-8")
        deadline = time.time() * 1000 + 60000
        hold = self.tool.copy_to_clipboard(secret, deadline_ms=deadline)
        ready = time.monotonic()
        try:
            held = self.clipboard_read()
            self.result("clipboard: another client reads the secret", held == expected,
                        f"{'nothing' if held is None else len(held)} bytes, expected {len(expected)}")
            marked, detail = self.clipboard_marked()
            self.result("clipboard: marked for password managers", marked, detail)
            ended = hold.wait(40)
            duration = time.monotonic() - ready
            after = self.clipboard_read()
            self.result("clipboard: held 20 s, then cleared",
                        ended and 19.0 <= duration <= 26.0 and (after is None or expected not in after),
                        f"held {duration:.1f} s, afterwards {'nothing' if not after else len(after)} bytes"
                        + (" (the secret)" if after and expected in after else ""))
        finally:
            hold.cancel()

        # Something else copied during the hold stays.
        secret = fresh_secret("clip-again-€-")
        other = b"copied by someone else"
        hold = self.tool.copy_to_clipboard(secret, deadline_ms=time.time() * 1000 + 60000)
        owner = None
        try:
            owner = self.copy_as_another_client(other)
            wait_for(lambda: self.clipboard_read() == other, 10, "the other copy to reach the clipboard")
            ended = hold.wait(40)
            after = self.clipboard_read()
            self.result("clipboard: a later copy by another client stays", ended and after == other,
                        f"afterwards {'nothing' if after is None else len(after)} bytes, expected {len(other)}")
        finally:
            hold.cancel()
            if owner is not None:
                os.killpg(owner.pid, signal.SIGTERM)
                owner.wait(5)

        # A clipboard manager that takes the selection over with the secret itself: cleared at the
        # end all the same.
        secret = fresh_secret("clip-taken-over-€-")
        hold = self.tool.copy_to_clipboard(secret, deadline_ms=time.time() * 1000 + 60000)
        manager = None
        try:
            held = self.clipboard_read()
            manager = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i"], env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
            manager.stdin.write(held or b"")
            manager.stdin.close()
            wait_for(lambda: b"x-kde-passwordManagerHint" not in (self.clipboard_read("TARGETS") or b"x-kde-passwordManagerHint"),
                     10, "the manager to own the clipboard")
            ended = hold.wait(40)
            after = self.clipboard_read()
            self.result("clipboard: a manager's take-over of the secret is cleared at the end",
                        held == secret.encode() and ended and (after is None or secret.encode() not in after),
                        f"afterwards {'nothing' if not after else len(after)} bytes"
                        + (" (the secret)" if after and secret.encode() in after else ""))
        finally:
            hold.cancel()
            if manager is not None:
                os.killpg(manager.pid, signal.SIGTERM)
                manager.wait(5)

        # A stop signal takes the secret off at once.
        secret = fresh_secret("clip-stop-")
        hold = self.tool.copy_to_clipboard(secret, deadline_ms=time.time() * 1000 + 60000)
        try:
            held = self.clipboard_read()
            stopped = time.monotonic()
            hold.cancel()
            after = self.clipboard_read()
            self.result("clipboard: SIGTERM clears at once",
                        held == secret.encode() and time.monotonic() - stopped < 5
                        and (after is None or secret.encode() not in after),
                        f"held {'the secret' if held == secret.encode() else 'something else'} before, "
                        f"afterwards {'nothing' if not after else len(after)} bytes")
        finally:
            hold.cancel()

    def typing_guards(self) -> None:
        try:
            self.focus_moved_mid_typing()
            self.two_deliveries_at_once()
            self.stopped_mid_typing()
            self.stale_keycodes_given_back()
        finally:
            self.activate_browser()

    def focus_moved_mid_typing(self) -> None:
        """A second X client takes the input focus after the third key: the typing stops at its
        next look, before another chunk goes out, and the delivery is refused."""
        self.ensure_page("login")
        name = "cpi-focus-thief-" + secrets.token_hex(4)
        thief = subprocess.Popen(["xev", "-name", name, "-event", "keyboard"], env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 start_new_session=True)
        presses = [0]

        def count_presses() -> None:  # xev prints what it receives: counted here, never shown
            for line in thief.stdout:
                if line.startswith(b"KeyPress event"):
                    presses[0] += 1

        threading.Thread(target=count_presses, daemon=True).start()
        try:
            found = wait_for(lambda: run(["xdotool", "search", "--name", f"^{name}$"], self.env).stdout.split(),
                             STEP_SECONDS, "the second client's window")
            other = int(found[0])
            self.activate_browser()
            self.focus("password")
            secret = fresh_secret("focus-€-" + "".join(secrets.choice(string.ascii_letters) for _ in range(200)))
            since = self.server.report_count()
            thread, outcomes = self.deliver_in_background(secret)
            wait_for(lambda: len(self.server.last_value("password", since) or "") >= 3, STEP_SECONDS,
                     "the third key in the password field", interval=0.01)
            run(["xdotool", "windowfocus", str(other)], self.env)
            thread.join(40)
            time.sleep(0.5)  # what the second client received has been printed
            outcome = outcomes[0][0] if outcomes else None
            value = self.page_state().get("values", {}).get("password") or ""
            refused = isinstance(outcome, self.Refusal)
            self.result("typing: focus moved by another client mid-typing stops the keys",
                        refused and presses[0] <= 8 and value != secret,
                        f"answer {outcome.reason if refused else type(outcome).__name__}, keys received by the "
                        f"other client {presses[0]} (at most one chunk of 8), field holds {len(value)} of "
                        f"{len(secret)} characters")
            self.check_keymap_clean("typing: the keycodes are given back after the stop")
        finally:
            thief.kill()
            thief.wait(5)
            self.activate_browser()  # without a window manager nobody gives Chromium the focus back

    def two_deliveries_at_once(self) -> None:
        """Two deliveries into the same field at once (the second starts when the first one's keys
        begin to arrive) type one after the other, never into each other: each lends its own
        keycodes, and one that answers typed left its whole secret in the field."""
        self.focus("password")
        tail = lambda: "".join(secrets.choice(string.ascii_letters) for _ in range(120))  # noqa: E731
        first, second = fresh_secret("eins-€Ω✓-" + tail()), fresh_secret("zwei-ÄÖß-" + tail())
        since = self.server.report_count()
        runs = [self.deliver_in_background(first)]
        wait_for(lambda: self.server.last_value("password", since), STEP_SECONDS, "the first typing's keys",
                 interval=0.01)
        runs.append(self.deliver_in_background(second))
        for thread, _ in runs:
            thread.join(40)
        answers = [outcomes[0][0] if outcomes else None for _, outcomes in runs]
        typed = [secret for secret, answer in zip((first, second), answers) if getattr(answer, "typed", False)]
        value = self.page_state().get("values", {}).get("password")
        ok, detail = self.wait_value("password", value or "", since) if value else (False, "nothing")
        self.result("typing: two deliveries at once type one after the other",
                    bool(typed) and value in typed and ok,
                    f"{len(typed)} typed, the field holds {'one whole secret' if value in (first, second) else 'neither'} "
                    f"({len(value or '')} characters)")

    def lent_record(self) -> List[int]:
        """The words of the root window's record of lent keycodes (empty when there is none)."""
        text = run(["xprop", "-root", "_CHROME_PRIVATE_INPUT_LENT_KEYCODES"], self.env).stdout.decode()
        return [int(word) for word in re.findall(r"\d+", text.split("=", 1)[1])] if "=" in text else []

    def keymap_symbols(self) -> Dict[int, str]:
        """Keycode to its symbols, as xkbcomp reads the server's keymap."""
        text = run(["xkbcomp", "-xkb", self.env["DISPLAY"], "-"], self.env, timeout=20).stdout.decode("utf-8", "replace")
        codes = {name: int(code) for name, code in re.findall(r"<(\w+)>\s*=\s*(\d+);", text)}
        symbols = {}
        for name, body in re.findall(r"key\s+<(\w+)>\s*\{([^}]*)\}", text):
            listed = [token for group in re.findall(r"\[([^\]]*)\]", body)
                      for token in re.findall(r"\w+", group) if token != "NoSymbol"]
            if name in codes and listed:
                symbols[codes[name]] = body
        return symbols

    def check_keymap_clean(self, name: str) -> None:
        record = self.lent_record()
        self.result(name, record == [], f"record on the root window: {len(record)} words")

    def typing_under_way(self, secret: str, since: int) -> subprocess.Popen:
        """The tool started by hand with `secret`, once its keys have begun to reach the field."""
        request = json.dumps({"profileName": PROFILE, "allowedOrigins": [ORIGIN], "windowNumber": self.window})
        frame = lambda payload: len(payload).to_bytes(4, "big") + payload  # noqa: E731
        tool = subprocess.Popen([os.path.abspath(self.tool_path)], env=self.env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            tool.stdin.write(frame(request.encode()))
            tool.stdin.flush()
            tool.stdout.readline()
            tool.stdin.write(frame(secret.encode()))
            tool.stdin.close()
            wait_for(lambda: len(self.server.last_value("password", since) or "") >= 10, STEP_SECONDS,
                     "keys in the password field", interval=0.01)
        except BaseException:
            tool.kill()
            tool.wait(10)
            raise
        return tool

    def stopped_mid_typing(self) -> None:
        """SIGTERM while keys are going out: no further chunk, the keycodes given back and the
        process ended with status 1 well within the stop time (2 s)."""
        self.focus("password")
        base = "".join(secrets.choice("€Ωöäü✓ßçñ") + secrets.choice(string.ascii_letters) for _ in range(150))
        secret = fresh_secret(base)
        since = self.server.report_count()
        tool = self.typing_under_way(secret, since)
        signalled = time.monotonic()
        tool.send_signal(signal.SIGTERM)
        try:
            status = tool.wait(10)
        except subprocess.TimeoutExpired:
            tool.kill()
            status = tool.wait(10)
        took = time.monotonic() - signalled
        value = self.page_state().get("values", {}).get("password") or ""
        self.result("typing: SIGTERM mid-typing stops the keys and gives the keycodes back",
                    status == 1 and took < 2.0 and self.lent_record() == [] and len(value) < len(secret),
                    f"status {status}, ended after {took:.2f} s, record {'gone' if self.lent_record() == [] else 'left'}, "
                    f"field holds {len(value)} of {len(secret)} characters")
        # Chromium ends when a client leaves while its keys are still being turned into text; it
        # shows once the page is focused again.
        try:
            self.focus("password")
            answering, detail = True, "the page took the focus command"
        except SetupError as error:
            answering, detail = False, str(error)
        self.result("typing: Chromium still runs after the stopped typing", answering, detail)

    def stale_keycodes_given_back(self) -> None:
        """A typing killed with SIGKILL leaves its lent keycodes and their record behind; the next
        typing gives them back."""
        self.focus("password")
        base = "".join(secrets.choice("€Ωöäü✓ßçñ") + secrets.choice(string.ascii_letters) for _ in range(150))
        since = self.server.report_count()
        tool = self.typing_under_way(fresh_secret(base), since)
        # Stopped first, then killed: Chromium 156 itself ends when the client whose keys it is still
        # turning into text leaves (the tool waits for its keys at every other end, but nothing can
        # at a SIGKILL), which is not what this checks.
        tool.send_signal(signal.SIGSTOP)
        time.sleep(1)
        tool.kill()
        tool.wait(10)
        # The keys already sent reach the page first (a second without a new report).
        quiet = [self.server.report_count(), time.monotonic()]

        def settled() -> bool:
            if self.server.report_count() != quiet[0]:
                quiet[:] = [self.server.report_count(), time.monotonic()]
            return time.monotonic() - quiet[1] >= 1.0

        wait_for(settled, STEP_SECONDS, "the page to have received the killed typing's keys", interval=0.1)
        record = self.lent_record()
        lent = {record[i]: record[i + 1] for i in range(2, 2 + 2 * record[1], 2)} if len(record) >= 2 and record[0] == tool.pid else {}
        before = self.keymap_symbols()
        self.result("typing: SIGKILL leaves the lent keycodes on record",
                    bool(lent) and all(code in before for code in lent),
                    f"record of pid {'the killed tool' if record[:1] == [tool.pid] else record[:1]}, {len(lent)} keycodes, "
                    f"{sum(code in before for code in lent)} of them mapped")
        secret = fresh_secret("after-the-kill-")
        self.focus("password")
        since = self.server.report_count()
        outcome, _ = self.deliver(secret, [ORIGIN], self.window)
        typed, detail = self.wait_value("password", secret, since) if getattr(outcome, "typed", False) else (False, "refused")
        after = self.keymap_symbols()
        self.result("typing: the next typing gives the dead one's keycodes back",
                    typed and self.lent_record() == [] and bool(lent) and not any(code in after for code in lent),
                    f"{detail}; {sum(code in after for code in lent)} of {len(lent)} keycodes still mapped, "
                    f"record {'gone' if self.lent_record() == [] else 'left'}")

    def trust_and_visibility(self) -> None:
        self.result("trust check", self.tool.trust_check() is True)
        pid = self.environment.browser_pid
        pids = {p for _, p in self.environment.browser_windows()}
        visibility = self.tool.window_visibility(pid)
        # A Mac's Chrome keeps a placeholder window off screen besides the browser window.
        counts = ((visibility.on_screen, visibility.excluding_placeholder) == (1, 1) if IS_MAC
                  else (visibility.all, visibility.on_screen, visibility.excluding_placeholder) == (1, 1, 1))
        self.result("visibility: Chromium's one window is on screen",
                    pid in pids and counts,
                    f"all {visibility.all}, onScreen {visibility.on_screen}, "
                    f"excludingPlaceholder {visibility.excluding_placeholder}")
        own = self.tool.window_visibility(os.getpid())
        self.result("visibility: a process without windows has none",
                    (own.all, own.on_screen) == (0, 0), f"all {own.all}, onScreen {own.on_screen}")

    def stop_during_delivery(self) -> None:
        """SIGTERM while a delivery waits for its secret (after the interim line): the tool ends with
        status 1 and nothing more on its output, nothing reaches the page, and Chrome's page switch
        is as it was before the delivery, whatever the tool had turned on for it."""
        self.ensure_page("login")
        self.focus("password")
        before = self.page_state().get("values", {})
        switch_before = self.environment.page_switch()
        since = self.server.report_count()
        request = json.dumps({"profileName": PROFILE, "allowedOrigins": [ORIGIN], "windowNumber": self.window})
        tool = subprocess.Popen([os.path.abspath(self.tool_path)], env=self.env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        assert tool.stdin is not None and tool.stdout is not None and tool.stderr is not None
        interim = b""
        switch_during: Optional[Dict[str, Any]] = None
        try:
            tool.stdin.write(len(request).to_bytes(4, "big") + request.encode())
            tool.stdin.flush()
            deadline = time.monotonic() + 30
            while not interim.endswith(b"\n") and time.monotonic() < deadline:
                if not select.select([tool.stdout], [], [], max(0.0, deadline - time.monotonic()))[0]:
                    break
                chunk = os.read(tool.stdout.fileno(), 1)
                if not chunk:
                    break
                interim += chunk
            switch_during = self.environment.page_switch()
            stopped = time.monotonic()
            tool.send_signal(signal.SIGTERM)
            status = tool.wait(15)
            elapsed = time.monotonic() - stopped
            rest = tool.stdout.read()
            errors = tool.stderr.read()
        finally:
            if tool.poll() is None:
                tool.kill()
                tool.wait(5)
            tool.stdin.close()
            tool.stdout.close()
            tool.stderr.close()
        try:
            accepted = json.loads(interim.decode("utf-8")) == {"ok": True}
        except ValueError:
            accepted = False
        self.result("stop: SIGTERM during a delivery ends it with status 1 and no further line",
                    accepted and status == 1 and rest == b"" and errors == b"" and elapsed < 5.0,
                    f"interim line {'accepted' if accepted else 'missing or not accepted'}, status {status}, "
                    f"{len(rest)} more bytes out, {len(errors)} bytes on standard error, ended after {elapsed:.2f} s")
        after = self.page_state().get("values", {})
        reports = self.server.reports_since(since)
        self.result("stop: nothing reached the page", after == before and not reports,
                    f"field reports: {len(reports)}, fields unchanged: {'yes' if after == before else 'no'}")
        if switch_before is None:  # no page switch on this platform
            return
        switch_after = self.environment.page_switch()
        self.result("stop: Chrome's page switch is back as it was",
                    switch_back(switch_before, switch_after),
                    f"before {json.dumps(switch_before)}, during {json.dumps(switch_during)}, "
                    f"after {json.dumps(switch_after)}"
                    + ("" if switch_on(switch_during) else " (the tool had not turned it on)"))

    def demo(self) -> None:
        """One delivery as an agent makes it, by hand: the request frame, the interim line, the
        secret frame, the final line; then what the page's password field received."""
        self.tool_ready()
        self.count()
        self.ensure_page("login")
        self.focus("password")
        secret = "correct horse battery staple"
        request = json.dumps({"profileName": PROFILE, "allowedOrigins": [ORIGIN], "windowNumber": self.window})
        frame = lambda payload: len(payload).to_bytes(4, "big") + payload  # noqa: E731
        since = self.server.report_count()
        log(f"request: {request}")
        tool = subprocess.Popen([os.path.abspath(self.tool_path)], env=self.env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE)
        assert tool.stdin is not None and tool.stdout is not None
        tool.stdin.write(frame(request.encode()))
        tool.stdin.flush()
        log(f"tool: {tool.stdout.readline().decode().strip()}")
        tool.stdin.write(frame(secret.encode()))
        tool.stdin.close()
        log(f"tool: {tool.stdout.readline().decode().strip()}  (exit status {tool.wait(timeout=30)})")
        received, detail = self.wait_value("password", secret, since)
        self.result(f"the page's password field received the secret sent ({secret!r})", received, detail)

    def address_bar(self) -> None:
        language = self.environment.language
        expected = ADDRESS_BAR_NAMES.get(language)
        if expected is None:
            return
        names: List[str] = []

        def named() -> bool:
            names[:] = self.environment.a11y.names_outside_pages(self.environment.chromium_application, ROLE_ENTRY)
            return expected in names

        try:
            found = bool(wait_for(named, STEP_SECONDS, "the address bar's name", interval=0.5))
        except SetupError:
            found = False
        self.result(f"setup: the address bar is named in the UI language {language}", found,
                    f"entries outside the page: {names}")

    def benchmark(self) -> None:
        """A short run of the live benchmark (the build's bench/linux) against this Chromium, with
        the login page's password field focused; it passes when every benchmark ran."""
        self.ensure_page("login")
        self.focus("password")
        result = subprocess.run([os.path.abspath(self.bench), "--benchmark_min_time=0.01",
                                 "--benchmark_repetitions=1"], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        output = result.stdout.decode("utf-8", "replace")
        errors = [line.strip() for line in output.splitlines() if "ERROR OCCURRED" in line]
        for line in output.splitlines():
            if line.startswith("BM_"):  # names, times and round trips: nothing typed shows
                log("  " + line)
        self.result(f"benchmark: {os.path.basename(self.bench)} runs against this Chromium",
                    result.returncode == 0 and not errors,
                    f"exit status {result.returncode}" + (f", {errors[0]}" if errors else ""))

    def run_all(self) -> None:
        started = time.monotonic()
        self.group("address bar", self.address_bar)
        self.tool_ready()
        log(f"setup: the tool counts the window after {time.monotonic() - started:.1f} s")
        self.group("count", self.count)
        if self.window is None:
            self.result("window number", False, "no window number from the count mode: the checks that need it are skipped")
            return
        bodies = {"delivery": self.delivery, "refusals": self.refusals, "stop": self.stop_during_delivery,
                  "key": self.key_capture, "clipboard": self.clipboard,
                  "trust and visibility": self.trust_and_visibility, "typing guards": self.typing_guards}
        for name in GROUPS:
            # The typing's guards are those of the X11 typing; a Mac writes the value instead.
            if (self.only is None or name in self.only) and not (IS_MAC and name == "typing guards"):
                self.group(name, bodies[name])
        if self.bench:
            self.group("benchmark", self.benchmark)


COMMANDS_HELP = ("commands on standard input: focus search|username|password, navigate login|console, "
                 "show-key, state, help")


def page_command(server: PageServer, line: str) -> str:
    """One command typed at a --setup-only or --keep environment; the answer shows no field's text,
    only lengths."""
    words = line.split()
    if words[:1] == ["focus"] and len(words) == 2 and words[1] in FIELD_LABELS:
        if "error" in server.command("focus", field=words[1]):
            return f"this page has no {words[1]} field"
    elif words[:1] == ["navigate"] and len(words) == 2 and words[1] in ("login", "console"):
        loads = server.load_count()
        server.command("navigate", url=f"{ORIGIN}/{words[1]}.html")
        server.wait_load(words[1], loads, STEP_SECONDS)
    elif words == ["show-key"]:
        key = random_key()
        server.command("show_key", key=key)
        return f"the page shows a new key ({len(key)} characters)"
    elif words not in (["state"], []):
        return COMMANDS_HELP
    state = server.command("state")
    lengths = {name: len(value) for name, value in state.get("values", {}).items()}
    return (f"page {state.get('page')}, focused field {state.get('active')}, document focused "
            f"{state.get('hasFocus')}, field lengths {json.dumps(lengths)}")


def wait_until_stopped(environment: Environment) -> None:
    """Waits for SIGINT, SIGTERM or SIGHUP; meanwhile takes page commands on standard input."""
    stop = threading.Event()
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: stop.set())
    log(COMMANDS_HELP)
    reading = True
    pending = b""
    while not stop.is_set():
        if not reading:
            stop.wait(1)
            continue
        try:
            ready = select.select([sys.stdin.fileno()], [], [], 0.5)[0]
            chunk = os.read(sys.stdin.fileno(), 4096) if ready else None
        except (OSError, ValueError):
            chunk = b""
        if chunk is None:
            continue
        if not chunk:  # end of input (started in the background): only a signal ends the wait
            reading = False
        pending += chunk
        while b"\n" in pending or (not reading and pending):
            line, _, pending = pending.partition(b"\n")
            try:
                log(page_command(environment.server, line.decode("utf-8", "replace")))
            except SetupError as error:
                log(f"command failed: {error}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", help="the chrome-private-input executable to test")
    parser.add_argument("--window-manager", choices=("openbox", "none"), default="openbox")
    parser.add_argument("--chromium", "--chrome", dest="chromium",
                        default=MAC_CHROME if IS_MAC else shutil.which("chromium") or "chromium",
                        help="the browser's executable (macOS: the one inside Google Chrome.app)")
    parser.add_argument("--keep", action="store_true", default=os.environ.get("LIVE_KEEP") == "1",
                        help="leave the environment running after the checks until stopped")
    parser.add_argument("--demo", action="store_true",
                        help="instead of the checks, one delivery by hand, showing the tool's lines and what the page received")
    parser.add_argument("--lang", default="en-US",
                        help="Chromium's UI language (its --lang; other than en-US needs Debian's chromium-l10n)")
    parser.add_argument("--only", type=lambda text: [word.strip() for word in text.split(",")],
                        help="only these groups of checks after the count, comma-separated: " + ", ".join(GROUPS))
    parser.add_argument("--bench", help="after the checks, a short run of this live benchmark (linux_live_bench)")
    parser.add_argument("--setup-only", action="store_true",
                        help="start everything, print the environment and wait until stopped")
    parser.add_argument("--grant-accessibility", metavar="EXECUTABLE",
                        help="macOS, as root: write an Accessibility grant for the executable's path into the "
                             "system privacy database (writable only with System Integrity Protection off), then end")
    parser.add_argument("--tcc-database", default=TCC_DATABASE, help=argparse.SUPPRESS)
    parser.add_argument("--network", choices=("private", "shared"),
                        default="private" if os.geteuid() == 0 and not IS_MAC else "shared",
                        help="private (the default for root): run in a network namespace of its own, so that "
                             "port 443 and Chromium's traffic stay inside it; shared: the machine's loopback")
    arguments = parser.parse_args()
    if arguments.grant_accessibility:
        executable = os.path.realpath(arguments.grant_accessibility)
        try:
            grant_accessibility(arguments.tcc_database, executable, designated_requirement(executable))
        except Exception as error:  # SetupError, OSError, sqlite3.Error
            log(f"FAIL grant: {type(error).__name__}: {error}")
            return 1
        log(f"granted Accessibility to {executable} in {arguments.tcc_database}")
        return 0
    if arguments.network == "private" and IS_MAC:
        parser.error("--network private needs Linux network namespaces")
    if arguments.network == "private" and os.environ.get("LIVE_CHROMIUM_NETNS") != "1":
        # The same command again in a new network namespace (unshare keeps the process id); where
        # namespaces are not allowed (a container without the capability), the machine's loopback.
        try:
            allowed = subprocess.run(["unshare", "--net", "true"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, timeout=10).returncode == 0
        except (OSError, subprocess.SubprocessError):
            allowed = False
        if allowed:
            os.environ["LIVE_CHROMIUM_NETNS"] = "1"
            sys.stdout.flush()
            os.execvp("unshare", ["unshare", "--net", "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
        log("setup: no network namespace of its own here (unshare --net is not allowed): "
            "the machine's loopback, where port 443 must be free")
    if os.environ.get("LIVE_CHROMIUM_NETNS") == "1":
        try:
            result = subprocess.run(["ip", "link", "set", "lo", "up"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            problem = result.stdout.decode().strip() if result.returncode != 0 else ""
        except OSError as error:
            problem = f"ip: {error.strerror} (package iproute2)"
        if problem:
            log("FAIL setup: cannot bring up the loopback of the private network namespace: " + problem)
            log("0 passed, 1 failed")
            return 1
    unknown = [name for name in arguments.only or [] if name not in GROUPS]
    if unknown:
        parser.error(f"--only: no group {', '.join(unknown)} (groups: {', '.join(GROUPS)})")
    if not arguments.setup_only and not arguments.tool:
        parser.error("--tool is required unless --setup-only is given")
    if arguments.tool and not os.access(arguments.tool, os.X_OK):
        log(f"FAIL setup: the tool {arguments.tool} does not exist or is not executable")
        log("0 passed, 1 failed")
        return 1

    # Stop signals end the run through the cleanup below.
    def interrupt(number: int, _frame: Any) -> None:
        raise KeyboardInterrupt(signal.Signals(number).name)

    # (SIGINT too: a shell that starts the driver in the background has it ignored.)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, interrupt)

    environment = MacEnvironment(arguments.chromium) if IS_MAC else Environment(arguments.window_manager,
                                                                                 arguments.chromium, arguments.lang)
    try:
        try:
            environment.start()
        except (SetupError, OSError, subprocess.SubprocessError) as error:
            log(f"FAIL setup: {error}")
            log("0 passed, 1 failed")
            return 1
        where = "the Mac's desktop" if IS_MAC else f"{arguments.window_manager} window manager"
        log(f"setup: {where}, ready in {environment.timings['setup']:.1f} s "
            f"(" + ", ".join(f"{k} {v:.1f} s" for k, v in environment.timings.items() if k != "setup") + ")")
        if arguments.setup_only:
            log(environment.assignments())
            wait_until_stopped(environment)
            return 0
        checks = Checks(environment, arguments.tool, arguments.only, arguments.bench)
        started = time.monotonic()
        try:
            checks.demo() if arguments.demo else checks.run_all()
        except Exception as error:
            checks.result("setup", False, f"{type(error).__name__}: {error}")
        log(f"checks took {time.monotonic() - started:.1f} s")
        log(f"{checks.passed} passed, {checks.failed} failed")
        if arguments.keep:
            log(environment.assignments())
            wait_until_stopped(environment)
        return 0 if checks.failed == 0 and checks.passed > 0 else 1
    except KeyboardInterrupt as interruption:
        log(f"interrupted{f' by {interruption}' if str(interruption) else ''}")
        return 130
    finally:
        environment.stop()


if __name__ == "__main__":
    sys.exit(main())
