#!/usr/bin/env python3
"""The Linux executable against a real Chromium, end to end.

Starts a private desktop (Xvfb on a free display, its own session bus with the accessibility bus
switched on before Chromium starts, optionally openbox), an https server on 127.0.0.1:443 with a
throwaway certificate for localhost, and Chromium with a fresh profile named "Work" on
https://localhost/login.html. The pages report every change of their fields to the server and take
commands from it (focus a field, show a new API key, navigate), acknowledging each, so every step
waits for an event instead of a time. Then it runs the tool's modes through the Python client
(clients/python) and checks what the page received.

Usage:
    live_chromium.py --tool PATH --window-manager {openbox,none} [--lang LANG] [--only GROUPS]
                     [--bench PATH] [--keep | --demo]
    live_chromium.py --setup-only --window-manager {openbox,none}

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
GROUPS = ("delivery", "refusals", "key", "clipboard", "trust and visibility")


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

            def handle_error(self, request: Any, client_address: Any) -> None:
                # A page that navigates away drops its pending requests: nothing to report.
                if not isinstance(sys.exc_info()[1], (OSError, ssl.SSLError)):
                    super().handle_error(request, client_address)

        self.httpd = Server(("127.0.0.1", 443), Handler)
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
        result = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                      "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                      "-keyout", key, "-out", certificate], self.env, timeout=60)
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
            "--window-position=0,0", "--window-size=1200,900",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-search-engine-choice-screen",
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

    # the groups

    def count(self) -> None:
        answer = self.tool.count_windows(PROFILE)
        windows = chromium_client_windows(self.env)
        chromium_windows = {window for window, pid in windows if pid == self.environment.browser_pid}
        self.window = answer.window_numbers[0] if len(answer.window_numbers) == 1 else None
        self.result("count: one window of Work with one tab",
                    answer.count == 1 and answer.windows == 1 and answer.tab_counts == [1]
                    and len(answer.window_numbers) == 1,
                    f"count {answer.count}, windows {answer.windows}, windowNumbers {answer.window_numbers}, "
                    f"tabCounts {answer.tab_counts}")
        self.result("count: the window number is Chromium's top-level X window",
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
            self.result(name, outcome.typed and asked and ok and others,
                        detail + ("" if others else "; another field changed too"))

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
        command = ["xclip", "-o", "-selection", "clipboard"] + (["-t", target] if target else [])
        result = run(command, self.env, timeout=10)
        return result.stdout if result.returncode == 0 else None

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
            targets = (self.clipboard_read("TARGETS") or b"").decode("utf-8", "replace").split()
            hint = self.clipboard_read("x-kde-passwordManagerHint")
            self.result("clipboard: marked for password managers",
                        "x-kde-passwordManagerHint" in targets and hint == b"secret",
                        f"{len(targets)} targets, hint {'listed' if 'x-kde-passwordManagerHint' in targets else 'missing'}, "
                        f"hint value {'secret' if hint == b'secret' else 'other'}")
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
            owner = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i"], env=self.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
            owner.stdin.write(other)
            owner.stdin.close()
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

    def trust_and_visibility(self) -> None:
        self.result("trust check", self.tool.trust_check() is True)
        pid = self.environment.browser_pid
        pids = {p for _, p in chromium_client_windows(self.env)}
        visibility = self.tool.window_visibility(pid)
        self.result("visibility: Chromium's one window is on screen",
                    pid in pids and (visibility.all, visibility.on_screen, visibility.excluding_placeholder) == (1, 1, 1),
                    f"all {visibility.all}, onScreen {visibility.on_screen}, "
                    f"excludingPlaceholder {visibility.excluding_placeholder}")
        own = self.tool.window_visibility(os.getpid())
        self.result("visibility: a process without windows has none",
                    (own.all, own.on_screen) == (0, 0), f"all {own.all}, onScreen {own.on_screen}")

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
        bodies = {"delivery": self.delivery, "refusals": self.refusals, "key": self.key_capture,
                  "clipboard": self.clipboard, "trust and visibility": self.trust_and_visibility}
        for name in GROUPS:
            if self.only is None or name in self.only:
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
    parser.add_argument("--chromium", default=shutil.which("chromium") or "chromium")
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
    parser.add_argument("--network", choices=("private", "shared"),
                        default="private" if os.geteuid() == 0 else "shared",
                        help="private (the default for root): run in a network namespace of its own, so that "
                             "port 443 and Chromium's traffic stay inside it; shared: the machine's loopback")
    arguments = parser.parse_args()
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

    environment = Environment(arguments.window_manager, arguments.chromium, arguments.lang)
    try:
        try:
            environment.start()
        except (SetupError, OSError, subprocess.SubprocessError) as error:
            log(f"FAIL setup: {error}")
            log("0 passed, 1 failed")
            return 1
        log(f"setup: {arguments.window_manager} window manager, ready in {environment.timings['setup']:.1f} s "
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
