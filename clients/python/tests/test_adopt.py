"""What a new user of the client meets first: the Target shape the TypeScript client takes, origin
suggestions shared with it (clients/origin-cases.json), the reason codes as a literal type read
from the shared table, and explanations in this client's own names."""

import json
import os
import typing
import unittest

from chrome_private_input import REASONS, ReasonCode, Target, Tool, UsageError, diagnose, suggest_origin
from support import HARNESS, HarnessTest, scenario

CLIENTS = os.path.join(os.path.dirname(__file__), "..", "..")
ACCOUNTS = ["https://accounts.example.com"]
SECRET = "correct horse battery staple"


class Origins(unittest.TestCase):
    def test_shared_cases(self):
        with open(os.path.join(CLIENTS, "origin-cases.json"), encoding="utf-8") as source:
            cases = json.load(source)
        tool = Tool(["/nonexistent"])
        for case in cases:
            with self.subTest(case["written"]):
                self.assertEqual(suggest_origin(case["written"]), case["suggestion"])
                with self.assertRaises(UsageError) as caught:
                    tool.key_baseline("Work", [case["written"]])
                message = str(caught.exception)
                if case["suggestion"]:
                    self.assertIn(f'write "{case["suggestion"]}"', message)
                self.assertEqual('"xn--" form' in message, case["internationalised"] and bool(case["suggestion"]))


class Names(unittest.TestCase):
    def test_reason_codes_are_the_shared_tables(self):
        with open(os.path.join(CLIENTS, "reasons.json"), encoding="utf-8") as source:
            shared = json.load(source)
        self.assertEqual(set(typing.get_args(ReasonCode)), set(shared["reasons"]))
        self.assertEqual(set(REASONS), set(shared["reasons"]))

    def test_explanations_use_this_clients_names(self):
        self.assertTrue(REASONS["accessibility_unavailable"].advice.endswith("check with trust_check"))
        text = diagnose("selected_chrome_profile_not_confirmed", {"windowCheck": {"windows": 5, "avatarWindows": 2}},
                        {"profileName": "Work"})
        self.assertIn("name one with window_number (count_windows lists their numbers)", text)
        self.assertNotIn("windowNumber", text)


class TargetShape(HarnessTest):
    def tool(self):
        return Tool.simulated(HARNESS, scenario("realistic-chrome"), journal=self.journal_path())

    def test_every_form_reaches_the_same_window(self):
        forms = [
            ("Target", lambda t: t.deliver(Target(profile_name="Work", allowed_origins=ACCOUNTS, window_number=4101), SECRET)),
            ("TypeScript mapping", lambda t: t.deliver({"profileName": "Work", "allowedOrigins": ACCOUNTS,
                                                        "windowNumber": 4101, "secureFieldOnly": True}, SECRET)),
            ("keywords only, as before", lambda t: t.deliver(profile_name="Work", allowed_origins=ACCOUNTS,
                                                             secret=SECRET, window_number=4101)),
            ("positional, as before", lambda t: t.deliver("Work", ACCOUNTS, SECRET, window_number=4101)),
        ]
        for name, call in forms:
            with self.subTest(name):
                self.assertTrue(call(self.tool()).typed)
                self.assertEqual([line["value"] for line in self.journal()
                                  if line.get("op") == "set" and line.get("attribute") == "AXValue"][-1], SECRET)

    def test_misuses(self):
        tool = self.tool()
        target = Target(profile_name="Work", allowed_origins=ACCOUNTS, window_number=4101)
        cases = [
            ("window contradicting the target", lambda: tool.deliver(target, SECRET, window_number=4102), "contradicts"),
            ("unknown mapping key", lambda: tool.key_baseline({"profileName": "Work", "allowedOrigins": ACCOUNTS,
                                                               "windownumber": 1}), "unknown target key 'windownumber'"),
            ("mapping without origins", lambda: tool.key_baseline({"profileName": "Work"}), "needs profileName"),
            ("origins beside a Target", lambda: tool.key_baseline(target, allowed_origins=ACCOUNTS), "part of the Target"),
            ("no secret", lambda: tool.deliver(target), "a target and a secret"),
            ("target and profile_name", lambda: tool.key_baseline(target, profile_name="Work"), "both"),
            ("secret twice", lambda: tool.deliver(target, SECRET, secret=SECRET), "twice"),
            ("capture without baseline", lambda: tool.key_capture(target), "baseline"),
        ]
        for name, call, message in cases:
            with self.subTest(name), self.assertRaisesRegex(UsageError, message):
                call()

    def test_a_bytearray_is_wiped_after_a_misuse(self):
        secret = bytearray(SECRET.encode())
        with self.assertRaises(UsageError):
            self.tool().deliver({"profileName": "Work"}, secret)
        self.assertEqual(secret, bytearray(len(secret)))


if __name__ == "__main__":
    unittest.main()
