"""Every mode against the simulated Chrome and the bundled scenarios: the success and each kind of
refusal, with what the exception tells."""

import json
import time
import unittest

from chrome_private_input import Refusal, Tool, ToolError

from support import HARNESS, HarnessTest, scenario

ACCOUNTS = ["https://accounts.example.com"]
CONSOLE = ["https://console.example.dev"]
SECRET = b"correct horse battery staple"


class Modes(HarnessTest):
    def tool(self, name_or_path, **options):
        path = name_or_path if name_or_path.startswith("/") else scenario(name_or_path)
        return Tool.simulated(HARNESS, path, journal=self.journal_path(), **options)

    def writes(self):
        return [line for line in self.journal() if line.get("op") == "set" and line.get("attribute") == "AXValue"]

    def test_count_windows(self):
        count = self.tool("chrome-profiles").count_windows("Work")
        self.assertEqual((count.count, count.windows, count.window_numbers, count.tab_counts),
                         (2, 5, [4101, 4102], [4, 3]))
        self.assertEqual((count.front_kind, count.front_avatar), ("dialog", None))

    def test_count_refusals(self):
        for name, tool, reason in [
            ("untrusted", self.tool(self.patched("realistic-chrome", trusted=False)), "accessibility_unavailable"),
            ("65 windows", self.tool("chrome-many-windows"), "chrome_window_unavailable"),
        ]:
            with self.subTest(name), self.assertRaises(Refusal) as caught:
                tool.count_windows("Work")
            self.assertEqual(caught.exception.reason, reason)
            self.assertEqual(caught.exception.mode, "count")

    def test_deliver(self):
        secret = bytearray(SECRET)
        result = self.tool("realistic-chrome").deliver("Work", ACCOUNTS, secret, window_number=4101)
        self.assertTrue(result.typed)
        self.assertIsNone(result.page_switch)
        self.assertEqual(secret, bytearray(len(SECRET)))  # wiped once sent
        self.assertEqual([w["value"] for w in self.writes()], [SECRET.decode()])

    def test_secure_field_only_refuses_a_plain_text_field(self):
        # Focus sits in the page's e-mail field, a plain text field.
        events = [{"when": {"call": "AXIsProcessTrusted", "count": 1}, "do": [
            {"setAttribute": {"element": "w1-password", "attribute": "AXFocused", "value": False}},
            {"setAttribute": {"element": "w1-email", "attribute": "AXFocused", "value": True}}]}]
        tool = self.tool(self.patched("realistic-chrome", events=events))
        secret = bytearray(SECRET)
        with self.assertRaises(Refusal) as caught:
            tool.deliver("Work", ACCOUNTS, secret, window_number=4101, secure_field_only=True)
        self.assertEqual((caught.exception.reason, caught.exception.secret_sent), ("focused_field_not_supported", False))
        self.assertEqual(self.writes(), [])
        self.assertEqual(secret, bytearray(len(SECRET)))
        self.assertTrue(tool.deliver("Work", ACCOUNTS, SECRET, window_number=4101).typed)
        self.assertEqual([w["element"] for w in self.writes()], ["w1-email"])

    def test_deliver_refusals_explain_themselves_and_never_send_the_secret(self):
        table = [
            ("two windows of one profile", "chrome-profiles", "Work", ["https://mail.example.com"], None,
             "selected_chrome_profile_not_confirmed", "windowCheck", "has 2 windows"),
            ("window of another profile", "chrome-profiles", "Work", ["https://mail.example.com"], 4103,
             "selected_chrome_profile_not_confirmed", "windowCheck", "another profile"),
            ("stale window number", "chrome-profiles", "Work", ["https://mail.example.com"], 4999,
             "selected_chrome_profile_not_confirmed", "windowCheck", "No Chrome window has the number 4999"),
            ("misspelled profile", "realistic-chrome", "work", ACCOUNTS, None,
             "selected_chrome_profile_not_confirmed", "windowCheck", "shows the profile 'work'"),
            ("page on another site", "realistic-chrome", "Work", ["https://login.example.com"], 4101,
             "origin_not_allowed", "originCheck", "other sites"),
            ("focus not in a field", "developer-console-before", "Work", CONSOLE, None,
             "focused_field_not_supported", None, "click into the field"),
        ]
        for name, scenario_name, profile, origins, number, reason, check, words in table:
            with self.subTest(name):
                secret = bytearray(SECRET)
                with self.assertRaises(Refusal) as caught:
                    self.tool(scenario_name).deliver(profile, origins, secret, window_number=number)
                refusal = caught.exception
                self.assertEqual(refusal.reason, reason)
                self.assertFalse(refusal.secret_sent)
                if check:
                    self.assertIn(check, refusal.checks)
                self.assertIn(words, refusal.diagnosis)
                self.assertNotIn(SECRET.decode(), str(refusal) + repr(refusal.checks))
                self.assertEqual(self.writes(), [])

    def test_a_secret_function_is_called_only_once_the_target_is_confirmed(self):
        asked = []
        source = lambda: asked.append(1) or bytearray(SECRET)  # noqa: E731
        with self.assertRaises(Refusal):
            self.tool("chrome-profiles").deliver("Work", ["https://mail.example.com"], source)
        self.assertEqual(asked, [])
        self.tool("realistic-chrome").deliver("Work", ACCOUNTS, source, window_number=4101)
        self.assertEqual(asked, [1])

    def test_deliver_refused_after_the_secret_was_sent(self):
        # Focus moves to another field of the page as soon as the interim line has been written.
        events = [{"when": {"call": "NSMutableString.initWithBytes"}, "do": [
            {"setAttribute": {"element": "w1-password", "attribute": "AXFocused", "value": False}},
            {"setAttribute": {"element": "w1-email", "attribute": "AXFocused", "value": True}}]}]
        tool = self.tool(self.patched("realistic-chrome", events=events))
        with self.assertRaises(Refusal) as caught:
            tool.deliver("Work", ACCOUNTS, SECRET, window_number=4101)
        self.assertEqual(caught.exception.reason, "focus_changed")
        self.assertTrue(caught.exception.secret_sent)
        self.assertTrue(caught.exception.retry)

    def test_a_tool_stopped_at_the_timeout_puts_the_page_switch_back(self):
        # The page is gone, so the tool switches Chrome's page accessibility on and waits for it;
        # the client gives up first and must stop the tool in a way that lets it switch back.
        events = [{"when": {"call": "AXIsProcessTrusted", "count": 1}, "do": [{"remove": "w1-page"}]}]
        tool = self.tool(self.patched("realistic-chrome", events=events, realTime=True), timeout=0.6)
        with self.assertRaisesRegex(ToolError, "no answer within"):
            tool.deliver("Work", ACCOUNTS, SECRET, window_number=4101)
        switches = [line["value"] for line in self.journal() if line.get("attribute") == "AXManualAccessibility"]
        self.assertEqual(switches, [True, False])
        self.assertEqual(self.writes(), [])

    def test_key_baseline_then_capture(self):
        baseline = self.tool("developer-console-before").key_baseline("Work", CONSOLE)
        self.assertEqual(len(baseline), 2)
        captured = self.tool("developer-console-after").key_capture("Work", CONSOLE, baseline)
        self.assertTrue(captured.key.startswith("sk_live_"))
        self.assertNotIn(captured.key, repr(captured))

    def test_key_refusals(self):
        baseline = self.tool("developer-console-before").key_baseline("Work", CONSOLE)
        for name, base, reason, words in [
            ("nothing new", baseline, "page_key_not_found", "already in the baseline"),
            ("two new keys, none focused", [], "page_key_ambiguous", "none of them is focused"),
        ]:
            with self.subTest(name), self.assertRaises(Refusal) as caught:
                self.tool("developer-console-before").key_capture("Work", CONSOLE, base)
            self.assertEqual(caught.exception.reason, reason)
            self.assertIn("keyCheck", caught.exception.checks)
            self.assertIn(words, caught.exception.diagnosis)
        with self.assertRaises(Refusal) as caught:
            self.tool("developer-console-before").key_baseline("Work", ["https://news.example.org"])
        self.assertEqual(caught.exception.reason, "origin_not_allowed")

    def test_clipboard_hold_in_virtual_time(self):
        hold = self.tool("clipboard-desktop").copy_to_clipboard(SECRET)
        self.assertTrue(hold.wait(10))
        ops = [line["op"] for line in self.journal() if line["op"] != "sleep"]
        self.assertEqual(ops[-3:], ["pasteboardWrite", "pasteboardClear", "exit"])

    def test_clipboard_hold_in_real_time_can_be_cancelled(self):
        hold = self.tool(self.patched("clipboard-desktop", realTime=True)).copy_to_clipboard(SECRET)
        started = time.monotonic()
        self.assertFalse(hold.wait(0.3))  # the hold really lasts 20 seconds
        self.assertTrue(hold.running)
        self.assertGreater(hold.remaining(), 15)
        hold.cancel()
        self.assertLess(time.monotonic() - started, 5)
        self.assertTrue(hold.wait(0))
        self.assertFalse(hold.running)
        ops = [line["op"] for line in self.journal() if line["op"] != "sleep"]
        self.assertEqual(ops[-2:], ["pasteboardWrite", "pasteboardClear"])  # taken off, then ended by SIGTERM

    def test_clipboard_refusals(self):
        for name, tool, deadline, words in [
            ("deadline passed", self.tool("clipboard-desktop"), 1764999999999, "deadline had passed"),
            ("pasteboard refuses", self.tool(self.patched("clipboard-desktop", pasteboard={"failWrite": True})),
             None, "refused the item"),
        ]:
            with self.subTest(name), self.assertRaises(ToolError) as caught:
                tool.copy_to_clipboard(SECRET, deadline_ms=deadline)
            self.assertIn(words, str(caught.exception))

    def test_status_modes(self):
        self.assertTrue(self.tool("realistic-chrome").trust_check())
        self.assertFalse(self.tool(self.patched("realistic-chrome", trusted=False)).trust_check())
        visibility = self.tool("agent-browser-desktop").window_visibility(4242)
        self.assertEqual((visibility.all, visibility.on_screen, visibility.excluding_placeholder), (3, 2, 2))

    def test_harness_refusal_is_reported(self):
        with self.assertRaisesRegex(ToolError, "chrome-private-input-sim: ") as caught:
            self.tool("/nonexistent/scenario.json").trust_check()
        self.assertEqual(caught.exception.status, 70)


# A caller started from a script in the background inherits SIGINT ignored (as a shell leaves it for
# background jobs), and then nothing is forwarded: the callers of these tests take it as Python's
# own default, as a program run from a terminal has it.
INTERRUPTIBLE = "import signal; signal.signal(signal.SIGINT, signal.default_int_handler); "


class Exchange(HarnessTest):
    """The order of the delivery handshake, seen from a fake tool."""

    def test_secret_only_after_interim_line_and_input_kept_open(self):
        log = f"{self.folder.name}/log.json"
        result = Tool(self.fake_tool("handshake", log)).deliver("Work", ACCOUNTS, SECRET, window_number=4101)
        self.assertTrue(result.typed)
        with open(log, encoding="utf-8") as source:
            seen = json.load(source)
        self.assertEqual(seen, {"early": False, "open": True, "length": len(SECRET),
                                "request": {"profileName": "Work", "allowedOrigins": ACCOUNTS, "windowNumber": 4101}})

    def test_silent_exit_after_interim_line(self):
        script = self.fake_tool("silent")
        with self.assertRaisesRegex(ToolError, "no line .*the secret frame") as caught:
            Tool(script).deliver("Work", ACCOUNTS, SECRET)
        self.assertEqual((caught.exception.status, caught.exception.stage), (1, "final"))

    def test_timeout(self):
        with self.assertRaisesRegex(ToolError, "no answer within"):
            Tool(self.fake_tool("mute"), timeout=0.5).count_windows("Work")

    def test_a_stopped_tool_gets_longer_than_its_own_stop_time(self):
        # The tool may take up to 2 seconds to put back what it changed; this one takes 3.
        marker = f"{self.folder.name}/restored"
        with self.assertRaisesRegex(ToolError, "no answer within"):
            Tool(self.fake_tool("slow-stop", marker), timeout=5.0).count_windows("Work")
        with open(marker, encoding="utf-8") as source:
            self.assertEqual(source.read(), "restored")

    def test_a_caller_stopped_by_a_signal_stops_its_tool_first(self):
        import signal
        import subprocess
        import sys

        from support import ROOT

        for name in ("SIGTERM", "SIGINT"):
            with self.subTest(name):
                number = getattr(signal, name)
                marker = f"{self.folder.name}/{name}"
                started = marker + ".started"
                script = self.fake_tool("stop-mark", marker)
                caller = subprocess.Popen(
                    [sys.executable, "-c", f"{INTERRUPTIBLE}from chrome_private_input import Tool; "
                                           f"Tool({script!r}).count_windows('Work')"],
                    env={"PYTHONPATH": f"{ROOT}/clients/python", "PATH": "/usr/bin:/bin"},
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + 20
                while not __import__("os").path.exists(started) and time.monotonic() < deadline:
                    time.sleep(0.05)
                caller.send_signal(number)
                self.assertEqual(caller.wait(20), -number)  # then it ends as the signal asks
                with open(marker, encoding="utf-8") as source:
                    self.assertEqual(source.read(), "SIGTERM")  # the tool was asked to stop, not left running

    def test_a_signal_while_the_tool_starts_still_stops_it(self):
        # The signal arrives after the tool has started but before the library knows of it.
        import signal
        import subprocess
        import sys

        from support import ROOT

        marker = f"{self.folder.name}/during-start"
        script = self.fake_tool("stop-mark", marker)
        caller_code = (
            INTERRUPTIBLE + "import os, signal, subprocess, time\n"
            "from chrome_private_input import Tool\n"
            "class Signalled(subprocess.Popen):\n"
            "    def __init__(self, *arguments, **options):\n"
            "        super().__init__(*arguments, **options)\n"
            f"        while not os.path.exists({marker + '.started'!r}): time.sleep(0.01)\n"
            "        os.kill(os.getpid(), signal.SIGINT)\n"
            "subprocess.Popen = Signalled\n"
            f"Tool({script!r}).count_windows('Work')\n")
        caller = subprocess.Popen([sys.executable, "-c", caller_code],
                                  env={"PYTHONPATH": f"{ROOT}/clients/python", "PATH": "/usr/bin:/bin"},
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(caller.wait(20), -signal.SIGINT)
        with open(marker, encoding="utf-8") as source:
            self.assertEqual(source.read(), "SIGTERM")

    def test_real_hold_handle(self):
        hold = Tool(self.fake_tool("hold")).copy_to_clipboard(SECRET)
        self.assertFalse(hold.wait(0.2))
        self.assertGreater(hold.remaining(), 19)
        with hold:
            pass  # leaving the block cancels
        self.assertFalse(hold.running)



class Example(HarnessTest):
    def test_the_four_flows_example_runs(self):
        import subprocess
        import sys

        from support import ROOT

        example = f"{ROOT}/clients/python/examples/four_flows.py"
        done = subprocess.run([sys.executable, example], capture_output=True, text=True, timeout=60,
                              env={**__import__("os").environ, "CPI_SIM": HARNESS})
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("count: 2 windows of Work, numbers [4101, 4102]", done.stdout)
        self.assertIn("has 2 windows among Chrome's 5: name one with window_number", done.stdout)
        self.assertNotIn("sk_live_", done.stdout)
        self.assertNotIn(SECRET.decode(), done.stdout)

    def test_the_readme_delivery_runs_as_written(self):
        import itertools
        import os
        import re
        import subprocess
        import sys
        import textwrap

        from support import ROOT

        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as source:
            readme = source.read()
        # The indented block after the paragraph that introduces it, up to the next paragraph.
        lines = re.split(r"Saved as\s+`deliver\.py`", readme, 1)[1].split("\n\n", 1)[1].splitlines()
        block = list(itertools.takewhile(lambda line: line.startswith("    ") or not line, lines))
        code = textwrap.dedent("\n".join(block)).replace("build/default/main/platform/simulated/chrome-private-input-sim", HARNESS)
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60, cwd=ROOT,
                              env={**os.environ, "PYTHONPATH": os.path.join(ROOT, "clients", "python")})
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "typed\n", ""))


if __name__ == "__main__":
    unittest.main()
