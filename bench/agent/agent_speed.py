#!/usr/bin/env python3
"""What an agent waits for, side by side against one live Chromium.

Starts the environment of tests/live/live_chromium.py (private display, buses and https pages,
Chromium with a profile "Work", here also with a DevTools port), then times, on the same login page,
password field and secrets:

- chrome-private-input's delivery as an agent runs it: from starting the process to reading its
  final line (request frame, interim line, secret frame, final line), its three inspections and the
  typed write included;
- `xdotool type` of the same secret into the focused field (no checks);
- Playwright's fill() through the DevTools protocol (bench/agent/playwright-agent.mjs), on a held
  connection, and as a fresh script that connects first;

and the same for the count (the profile's windows) and the key baseline (the keys page). Before each
run the field is emptied and focused (not timed); after each, what the page received is checked.
Prints one table of medians and spreads (milliseconds) and the ratios. Needs root for the private
network (as the live test), the build's tool, `xdotool`, and `npm ci` run in bench/agent.

Usage: bench/agent/agent_speed.py --tool build/release/main/platform/linux/chrome-private-input [--runs 20]
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
from typing import Callable, Dict, List, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "live"))
import live_chromium as live  # noqa: E402

PORT = 9222
# 14 characters, one of which (ë) no key of the US keyboard map types; and 64 that all have keys.
SECRETS = {"14 characters": "bench-sëcret-1",
           "64 characters": "Kq7#vR2p!Lm9@xZ4$wN8%tY3^hB6&jD1*fG5(sC0)aE-uI_oP+eW=rT[yU]iO{pA}"}


def frame(payload: bytes) -> bytes:
    return len(payload).to_bytes(4, "big") + payload


def milliseconds(start: float) -> float:
    return (time.perf_counter() - start) * 1000.0


class Bench:
    def __init__(self, environment: live.Environment, tool: str, runs: int) -> None:
        self.environment = environment
        self.tool = os.path.abspath(tool)
        self.runs = runs
        self.checks = live.Checks(environment, tool)
        self.env = environment.env
        self.server = environment.server
        self.rows: List[Tuple[str, str, List[float]]] = []
        self.failures: List[str] = []
        self.since = 0
        endpoint = f"http://127.0.0.1:{PORT}"
        self.node = ["node", os.path.join(HERE, "playwright-agent.mjs"), endpoint]
        self.playwright = subprocess.Popen(self.node, cwd=HERE, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                           env=dict(os.environ, **{"DISPLAY": self.env["DISPLAY"]}))
        self.connect_ms = json.loads(self.playwright.stdout.readline())["connectMs"]

    def ask_playwright(self, command: Dict[str, str]) -> Dict[str, float]:
        self.playwright.stdin.write((json.dumps(command) + "\n").encode())
        self.playwright.stdin.flush()
        return json.loads(self.playwright.stdout.readline())

    def record(self, operation: str, method: str, times: List[float]) -> None:
        self.rows.append((operation, method, times))

    def prepare_field(self) -> None:
        self.checks.ensure_page("login")
        self.server.command("fill", field="password", value="")
        self.checks.focus("password")
        self.since = self.server.report_count()

    def received(self, secret: str, what: str) -> None:
        ok, detail = self.checks.wait_value("password", secret, self.since)
        if not ok:
            self.failures.append(f"{what}: {detail}")

    # one run of each

    def tool_delivery(self, secret: str) -> float:
        request = json.dumps({"profileName": live.PROFILE, "allowedOrigins": [live.ORIGIN],
                              "windowNumber": self.checks.window}).encode()
        start = time.perf_counter()
        process = subprocess.Popen([self.tool], env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        process.stdin.write(frame(request))
        process.stdin.flush()
        interim = process.stdout.readline()
        process.stdin.write(frame(secret.encode()))
        process.stdin.close()
        final = process.stdout.readline()
        elapsed = milliseconds(start)
        process.wait(30)
        if b'"typed":true' not in final:
            self.failures.append(f"tool delivery: {interim.decode().strip()} {final.decode().strip()}")
        return elapsed

    def tool_single(self, mode: str, request: Dict[str, object]) -> float:
        start = time.perf_counter()
        result = subprocess.run([self.tool, mode], env=self.env, input=frame(json.dumps(request).encode()),
                                stdout=subprocess.PIPE, timeout=30)
        elapsed = milliseconds(start)
        if b'"ok":true' not in result.stdout:
            self.failures.append(f"tool {mode}: {result.stdout.decode().strip()}")
        return elapsed

    def tool_start(self) -> float:
        """Process start to its answer to a request frame it refuses at once (a frame of length 0):
        the start, reading the first frame, and the exit, with no Accessibility work."""
        start = time.perf_counter()
        subprocess.run([self.tool], env=self.env, input=b"\0\0\0\0", stdout=subprocess.PIPE, timeout=30)
        return milliseconds(start)

    def xdotool(self, secret: str, delay: str) -> float:
        start = time.perf_counter()
        subprocess.run(["xdotool", "type", "--delay", delay, secret], env=self.env, check=True, timeout=60)
        return milliseconds(start)

    def playwright_fresh(self, command: Dict[str, str]) -> float:
        start = time.perf_counter()
        result = subprocess.run(self.node + ["once"], cwd=HERE, input=(json.dumps(command) + "\n").encode(),
                                stdout=subprocess.PIPE, timeout=60, check=True)
        elapsed = milliseconds(start)
        if len(result.stdout.splitlines()) != 2:
            self.failures.append("playwright once: no answer")
        return elapsed

    def phases(self, secret: str) -> None:
        """One delivery under strace: when the tool read its frames, connected to the buses and the
        X server, wrote its lines, and how long it slept polling the field (strace slows every
        system call, so only the shares are meant)."""
        if shutil.which("strace") is None:
            return
        self.prepare_field()
        trace = os.path.join(self.environment.root, "delivery.trace")
        request = json.dumps({"profileName": live.PROFILE, "allowedOrigins": [live.ORIGIN],
                              "windowNumber": self.checks.window}).encode()
        process = subprocess.Popen(["strace", "-f", "-ttt", "-o", trace, "-e",
                                    "trace=execve,read,write,connect,clock_nanosleep,nanosleep,exit_group",
                                    self.tool], env=self.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        process.stdin.write(frame(request))
        process.stdin.flush()
        process.stdout.readline()
        process.stdin.write(frame(secret.encode()))
        process.stdin.close()
        process.stdout.readline()
        process.wait(30)
        self.received(secret, "tool under strace")
        marks: List[Tuple[float, str]] = []
        slept = 0.0
        sleeps = 0
        with open(trace) as stream:
            for line in stream:
                words = line.split(None, 2)
                if len(words) < 3:
                    continue
                stamp, call = float(words[1]), words[2]
                if call.startswith("execve("):
                    marks.append((stamp, "start"))
                elif call.startswith("read(0,"):
                    marks.append((stamp, "reads a frame"))
                elif call.startswith("connect("):
                    marks.append((stamp, "connects " + ("(bus)" if "bus" in call or "dbus" in call else "(X)" if "X11" in call else "")))
                elif call.startswith("write(1,"):
                    marks.append((stamp, "writes a line"))
                elif call.startswith(("clock_nanosleep(", "nanosleep(")):
                    asked = re.search(r"tv_sec=(\d+), tv_nsec=(\d+)", call)
                    slept += int(asked.group(1)) + int(asked.group(2)) / 1e9 if asked else 0.0
                    sleeps += 1
                elif call.startswith("exit_group("):
                    marks.append((stamp, "exits"))
        os.unlink(trace)
        if not marks:
            return
        start = marks[0][0]
        self.phase_lines = [f"{(stamp - start) * 1000:8.1f} ms  {what}" for stamp, what in marks]
        self.phase_lines.append(f"sleeps: {sleeps}, asking {slept * 1000:.0f} ms in all")

    # the table

    def repeat(self, operation: str, method: str, prepare: Callable[[], None], run: Callable[[], float],
               check: Callable[[], None] = lambda: None, runs: int = 0) -> None:
        times = []
        for _ in range(runs or self.runs):
            prepare()
            times.append(run())
            check()
        self.record(operation, method, times)

    def run_all(self) -> None:
        self.checks.tool_ready()
        self.checks.count()
        for label, secret in SECRETS.items():
            operation = f"delivery, {label}"
            self.repeat(operation, "chrome-private-input", self.prepare_field, lambda: self.tool_delivery(secret),
                        lambda: self.received(secret, "tool"))
            for delay in ("12", "0"):
                self.repeat(operation, f"xdotool type --delay {delay}" + (" (its default)" if delay == "12" else ""),
                            self.prepare_field, lambda: self.xdotool(secret, delay),
                            lambda: self.received(secret, f"xdotool --delay {delay}"))
            self.repeat(operation, "Playwright fill(), connection held", self.prepare_field,
                        lambda: self.ask_playwright({"op": "fill", "secret": secret})["ms"],
                        lambda: self.received(secret, "playwright"))
            self.repeat(operation, "Playwright fill(), fresh script", self.prepare_field,
                        lambda: self.playwright_fresh({"op": "fill", "secret": secret}),
                        lambda: self.received(secret, "playwright fresh"), runs=max(3, self.runs // 4))
        self.repeat("process start to first frame read", "chrome-private-input", lambda: None, self.tool_start)
        self.checks.ensure_page("login")
        self.repeat("count", "chrome-private-input", lambda: None,
                    lambda: self.tool_single("--profile-window-count", {"profileName": live.PROFILE}))
        self.repeat("count", "Playwright, connection held", lambda: None,
                    lambda: self.ask_playwright({"op": "count"})["ms"])
        self.checks.ensure_page("console")
        request = {"profileName": live.PROFILE, "allowedOrigins": [live.ORIGIN], "windowNumber": self.checks.window}
        self.repeat("key baseline", "chrome-private-input", lambda: None,
                    lambda: self.tool_single("--key-baseline", request))
        self.repeat("key baseline", "Playwright page text, connection held", lambda: None,
                    lambda: self.ask_playwright({"op": "keys"})["ms"])
        self.checks.ensure_page("login")
        self.phase_lines: List[str] = []
        self.phases(SECRETS["14 characters"])

    def report(self) -> None:
        print(f"Playwright's connectOverCDP: {self.connect_ms:.0f} ms; {self.runs} runs each")
        print("| Operation | Method | Runs | Median | Min | Max | Ratio to the tool |")
        print("|---|---|---:|---:|---:|---:|---:|")
        tool: Dict[str, float] = {}
        for operation, method, times in self.rows:
            median = statistics.median(times)
            if method == "chrome-private-input":
                tool[operation] = median
            base = tool.get(operation)
            ratio = f"{median / base:.2f}" if base and method != "chrome-private-input" else ""
            print(f"| {operation} | {method} | {len(times)} | {median:.1f} ms | {min(times):.1f} ms | "
                  f"{max(times):.1f} ms | {ratio} |")
        if self.phase_lines:
            print("One delivery of the 14-character secret under strace:")
            print("\n".join(self.phase_lines))
        for failure in self.failures:
            print(f"FAIL {failure}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--window-manager", choices=("openbox", "none"), default="openbox")
    arguments = parser.parse_args()
    if os.geteuid() == 0 and os.environ.get("LIVE_CHROMIUM_NETNS") != "1":
        os.environ["LIVE_CHROMIUM_NETNS"] = "1"
        sys.stdout.flush()
        os.execvp("unshare", ["unshare", "--net", "--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    if os.environ.get("LIVE_CHROMIUM_NETNS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    for program in ("xdotool", "node"):
        if shutil.which(program) is None:
            print(f"{program} is missing", file=sys.stderr)
            return 1
    environment = live.Environment(arguments.window_manager, shutil.which("chromium") or "chromium",
                                   chromium_arguments=[f"--remote-debugging-port={PORT}"])
    try:
        environment.start()
        bench = Bench(environment, arguments.tool, arguments.runs)
        try:
            bench.run_all()
        finally:
            bench.playwright.kill()
        bench.report()
        return 1 if bench.failures else 0
    finally:
        environment.stop()


if __name__ == "__main__":
    sys.exit(main())
