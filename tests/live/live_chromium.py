#!/usr/bin/env python3
"""The Linux executable against a real Chromium, end to end.

Starts a private desktop (Xvfb on a free display, its own session bus with the accessibility bus
switched on, optionally openbox), an https server on 127.0.0.1:443 with a throwaway certificate for
localhost, and Chromium with a fresh profile named "Work" on https://localhost/login.html. The pages
report every change of their fields to the server and take commands from it (focus a field, show a
new API key, navigate), acknowledging each, so every step waits for an event instead of a time.
Then it runs the tool's modes through the Python client and checks what the page received.

Usage:
    live_chromium.py --tool PATH --window-manager {openbox,none} [--keep]
    live_chromium.py --setup-only --window-manager {openbox,none}

--setup-only starts everything, prints DISPLAY=... DBUS_SESSION_BUS_ADDRESS=... CHROMIUM_PID=...
as shell assignments and waits until it is stopped (Ctrl-C, SIGTERM). --keep (or LIVE_KEEP=1)
leaves the environment running after the checks, prints the same assignments and waits likewise.
Everything started is stopped at the end, also on failure and on Ctrl-C.

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
import socket
import ssl
import string
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
PROFILE = "Work"
ORIGIN = "https://localhost"
STARTUP_SECONDS = 90.0
STEP_SECONDS = 15.0

# Accessibility roles (AT-SPI numbering).
ROLE_FRAME = 23
ROLE_PUSH_BUTTON = 43
ROLE_DOCUMENT_WEB = 95


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
  input.addEventListener('input', () => post('/report', {page: page, field: input.name, value: input.value}));
}
function perform(command) {
  if (command.op === 'focus') {
    const input = document.querySelector('input[name="' + command.field + '"]');
    input.focus();
    if (command.select) input.select();
  } else if (command.op === 'fill') {
    const input = document.querySelector('input[name="' + command.field + '"]');
    input.value = command.value;
    post('/report', {page: page, field: input.name, value: input.value});
  } else if (command.op === 'show_key') {
    const item = document.createElement('li');
    item.id = 'new-key';
    item.textContent = 'New secret key: ' + command.key;
    document.getElementById('keys').appendChild(item);
  } else if (command.op === 'navigate') {
    setTimeout(() => { location.href = command.url; }, 0);
  }
  return state();
}
async function poll() {
  for (;;) {
    try {
      const response = await fetch('/command?page=' + page, {cache: 'no-store'});
      const command = await response.json();
      if (command.id) {
        let result;
        try { result = perform(command); } catch (error) { result = {error: String(error)}; }
        await post('/ack', {id: command.id, result: result});
      }
    } catch (error) {
      await new Promise(resolve => setTimeout(resolve, 200));
    }
  }
}
window.addEventListener('focus', () => post('/event', {page: page, event: 'focus', state: state()}));
post('/loaded', state()).then(poll);
"""

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

SEARCH_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Search</title></head>
<body data-page="search">
<h1>Search the help pages</h1>
<form onsubmit="return false">
<p><label>Search <input type="search" name="query" autofocus></label></p>
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
        self.commands: List[Dict[str, Any]] = []  # commands not yet fetched
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
                pages = {"/login.html": LOGIN_PAGE, "/search.html": SEARCH_PAGE,
                         "/console.html": CONSOLE_PAGE.replace("{old_key}", server.old_key)}
                if path in pages:
                    self.send(200, pages[path].encode(), "text/html; charset=utf-8")
                elif path == "/page.js":
                    self.send(200, PAGE_SCRIPT.encode(), "text/javascript; charset=utf-8")
                elif path == "/command":
                    command = server.next_command(timeout=5.0)
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

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
        self.httpd.daemon_threads = True
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
            self.condition.notify_all()

    def next_command(self, timeout: float) -> Optional[Dict[str, Any]]:
        with self.condition:
            self.condition.wait_for(lambda: self.commands or self.stopped, timeout)
            return self.commands.pop(0) if self.commands else None

    def command(self, op: str, timeout: float = STEP_SECONDS, **arguments: Any) -> Dict[str, Any]:
        """Queues a command for the page and waits for its acknowledgement (the page's state)."""
        with self.condition:
            number = self.next_id
            self.next_id += 1
            self.commands.append(dict(arguments, id=number, op=op))
            self.condition.notify_all()
            if not self.condition.wait_for(lambda: number in self.acks, timeout):
                # Take it back so that a late page does not act on it.
                self.commands = [c for c in self.commands if c["id"] != number]
                raise SetupError(f"the page did not acknowledge the command {op!r} within {timeout:.0f} s")
            result = self.acks.pop(number)
            return result if isinstance(result, dict) else {}

    def report_count(self) -> int:
        with self.condition:
            return len(self.reports)

    def reports_since(self, index: int) -> List[Dict[str, Any]]:
        with self.condition:
            return list(self.reports[index:])

    def last_value(self, page: str, field: str) -> Optional[str]:
        with self.condition:
            for report in reversed(self.reports):
                if report.get("page") == page and report.get("field") == field:
                    return report.get("value")
        return None

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


# -- the accessibility bus, read with busctl --------------------------------------------------------

class AccessibilityBus:
    def __init__(self, address: str, env: Dict[str, str]) -> None:
        self.address = address
        self.env = env

    def call(self, destination: str, path: str, interface: str, method: str, *arguments: str) -> Any:
        result = run(["busctl", f"--address={self.address}", "--json=short", "--timeout=5", "call",
                      destination, path, interface, method, *arguments], self.env)
        if result.returncode != 0:
            return None
        try:
            return json.loads(result.stdout)["data"]
        except (ValueError, KeyError):
            return None

    def children(self, node: Tuple[str, str]) -> List[Tuple[str, str]]:
        data = self.call(node[0], node[1], "org.a11y.atspi.Accessible", "GetChildren")
        return [tuple(child) for child in data[0]] if data else []

    def name(self, node: Tuple[str, str]) -> Optional[str]:
        data = self.call(node[0], node[1], "org.freedesktop.DBus.Properties", "Get", "ss",
                         "org.a11y.atspi.Accessible", "Name")
        return data[0]["data"] if data else None

    def role(self, node: Tuple[str, str]) -> Optional[int]:
        data = self.call(node[0], node[1], "org.a11y.atspi.Accessible", "GetRole")
        return data[0] if data else None

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
        names: List[str] = []
        queue = list(self.children(application))
        visited = 0
        while queue and visited < limit:
            node = queue.pop(0)
            visited += 1
            role = self.role(node)
            if role == ROLE_DOCUMENT_WEB:
                continue
            if role == ROLE_PUSH_BUTTON:
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

    def __init__(self, window_manager: str, chromium: str) -> None:
        self.window_manager = window_manager
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
            self.chromium_command, "--no-sandbox", "--force-renderer-accessibility",
            "--ignore-certificate-errors", f"--user-data-dir={user_data}", "--no-first-run",
            "--no-default-browser-check", "--password-store=basic", "--disable-gpu",
            "--disable-dev-shm-usage", "--lang=en-US", "--window-position=0,0", "--window-size=1200,900",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-default-apps", "--disable-breakpad", "--no-service-autorun",
            "--disable-search-engine-choice-screen", "--hide-crash-restore-bubble", "--test-type",
            "--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication,"
            "InProductHelp,SigninInterceptBubbleV2,ChromeWhatsNewUI,PrivacySandboxSettings4",
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

    # using

    def assignments(self) -> str:
        return (f"DISPLAY={self.env['DISPLAY']} DBUS_SESSION_BUS_ADDRESS={self.env['DBUS_SESSION_BUS_ADDRESS']} "
                f"CHROMIUM_PID={self.chromium.pid if self.chromium else ''}")

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


def wait_until_stopped() -> None:
    stop = threading.Event()
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: stop.set())
    while not stop.wait(3600):
        pass


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", help="the chrome-private-input executable to test")
    parser.add_argument("--window-manager", choices=("openbox", "none"), default="openbox")
    parser.add_argument("--chromium", default=shutil.which("chromium") or "chromium")
    parser.add_argument("--keep", action="store_true", default=os.environ.get("LIVE_KEEP") == "1",
                        help="leave the environment running after the checks until stopped")
    parser.add_argument("--setup-only", action="store_true",
                        help="start everything, print the environment and wait until stopped")
    parser.add_argument("--network", choices=("private", "shared"),
                        default="private" if os.geteuid() == 0 else "shared",
                        help="private (the default for root): run in a network namespace of its own, so that "
                             "port 443 and Chromium's traffic stay inside it; shared: the machine's loopback")
    arguments = parser.parse_args()
    if arguments.network == "private" and os.environ.get("LIVE_CHROMIUM_NETNS") != "1":
        # The same command again in a new network namespace (unshare keeps the process id).
        os.environ["LIVE_CHROMIUM_NETNS"] = "1"
        sys.stdout.flush()
        try:
            os.execvp("unshare", ["unshare", "--net", "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
        except OSError as error:
            log(f"FAIL setup: cannot start a private network namespace (unshare: {error.strerror}); "
                "use --network shared")
            log("0 passed, 1 failed")
            return 1
    if os.environ.get("LIVE_CHROMIUM_NETNS") == "1":
        result = subprocess.run(["ip", "link", "set", "lo", "up"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            log("FAIL setup: cannot bring up the loopback of the private network namespace: "
                + result.stdout.decode().strip())
            log("0 passed, 1 failed")
            return 1
    if not arguments.setup_only and not arguments.tool:
        parser.error("--tool is required unless --setup-only is given")
    if arguments.tool and not os.access(arguments.tool, os.X_OK):
        log(f"FAIL setup: the tool {arguments.tool} does not exist or is not executable")
        log("0 passed, 1 failed")
        return 1

    # Stop signals end the run through the cleanup below.
    def interrupt(number: int, _frame: Any) -> None:
        raise KeyboardInterrupt(f"signal {number}")

    signal.signal(signal.SIGTERM, interrupt)
    signal.signal(signal.SIGHUP, interrupt)

    environment = Environment(arguments.window_manager, arguments.chromium)
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
            wait_until_stopped()
            return 0
        return 0
    except KeyboardInterrupt:
        log("interrupted")
        return 130
    finally:
        environment.stop()


if __name__ == "__main__":
    sys.exit(main())
