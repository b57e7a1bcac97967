import unittest

from chrome_private_input import Tool, UsageError, grapheme_count, suggest_origin

TOOL = Tool(["/nonexistent/chrome-private-input"])  # never started: every call below is refused first
ORIGIN = ["https://accounts.example.com"]


class UsageErrors(unittest.TestCase):
    def test_requests_refused_before_the_tool_starts(self):
        table = [
            ("origin with capitals", lambda: TOOL.deliver("Work", ["https://Accounts.example.com"], b"s"),
             'write "https://accounts.example.com"'),
            ("origin with trailing slash", lambda: TOOL.key_baseline("Work", ["https://accounts.example.com/"]),
             'write "https://accounts.example.com"'),
            ("origin with port", lambda: TOOL.deliver("Work", ["https://accounts.example.com:8443"], b"s"),
             "without port"),
            ("http origin", lambda: TOOL.deliver("Work", ["http://accounts.example.com"], b"s"), "exact form"),
            ("bare host", lambda: TOOL.deliver("Work", ["accounts.example.com"], b"s"), "exact form"),
            ("origins as one string", lambda: TOOL.deliver("Work", "https://a.example", b"s"), "list"),
            ("no origins", lambda: TOOL.deliver("Work", [], b"s"), "1 to 16"),
            ("17 origins", lambda: TOOL.deliver("Work", [f"https://h{i}.example" for i in range(17)], b"s"), "1 to 16"),
            ("empty profile", lambda: TOOL.count_windows(""), "empty"),
            ("81 characters", lambda: TOOL.count_windows("x" * 81), "80"),
            ("window number 0", lambda: TOOL.deliver("Work", ORIGIN, b"s", window_number=0), "never matches"),
            ("window number too large", lambda: TOOL.deliver("Work", ORIGIN, b"s", window_number=2 ** 32), "range"),
            ("window number as text", lambda: TOOL.deliver("Work", ORIGIN, b"s", window_number="4101"), "integer"),
            ("window number as boolean", lambda: TOOL.deliver("Work", ORIGIN, b"s", window_number=True), "integer"),
            ("empty secret", lambda: TOOL.deliver("Work", ORIGIN, b""), "empty"),
            ("secret not UTF-8", lambda: TOOL.deliver("Work", ORIGIN, b"\xc0\xaf"), "UTF-8"),
            ("encoded surrogate", lambda: TOOL.deliver("Work", ORIGIN, b"\xed\xa0\x80"), "UTF-8"),
            ("secret too large", lambda: TOOL.deliver("Work", ORIGIN, b"x" * 1048577), "at most 1048576"),
            ("clipboard secret too large", lambda: TOOL.copy_to_clipboard(b"x" * 262145), "at most 262144"),
            ("deadline passed", lambda: TOOL.copy_to_clipboard(b"s", deadline_ms=1000.0), "past"),
            ("deadline NaN", lambda: TOOL.copy_to_clipboard(b"s", deadline_ms=float("nan")), "past"),
            ("deadline infinite", lambda: TOOL.copy_to_clipboard(b"s", deadline_ms=float("inf")), "infinite"),
            ("secure_field_only as text", lambda: TOOL.deliver("Work", ORIGIN, b"s", secure_field_only="yes"),
             "secure_field_only must be"),
            ("upper-case baseline", lambda: TOOL.key_capture("Work", ORIGIN, ["F" * 64]), "fingerprint"),
            ("baseline as one string", lambda: TOOL.key_capture("Work", ORIGIN, "f" * 64), "list"),
            ("pid 1", lambda: TOOL.window_visibility(1), "process identifier"),
            ("request too large", lambda: TOOL.key_baseline("Work", ORIGIN + ["https://" + "a" * 70000]), "at most 65536"),
        ]
        for name, call, words in table:
            with self.subTest(name):
                with self.assertRaises(UsageError) as caught:
                    call()
                self.assertIn(words, str(caught.exception))

    def test_accepted_bounds_get_past_validation(self):
        # These reach the start of the (missing) tool, so validation let them through.
        for name, call in [
            ("80 characters", lambda: TOOL.count_windows("x" * 80)),
            ("80 emoji with skin tones", lambda: TOOL.count_windows("\U0001F44B\U0001F3FD" * 80)),
            ("16 origins", lambda: TOOL.deliver("Work", [f"https://h{i}.example" for i in range(16)], b"s")),
            ("an IPv6 origin", lambda: TOOL.deliver("Work", ["https://[fe80::1]"], b"s")),
            ("largest window number", lambda: TOOL.deliver("Work", ORIGIN, b"s", window_number=2 ** 32 - 1)),
        ]:
            with self.subTest(name), self.assertRaisesRegex(Exception, "cannot start"):
                call()

    def test_a_bytearray_secret_is_wiped_even_when_the_tool_cannot_start(self):
        secret = bytearray(b"correct horse")
        with self.assertRaises(Exception):
            TOOL.deliver("Work", ORIGIN, secret)
        self.assertEqual(secret, bytearray(len(secret)))

    def test_a_bytearray_secret_is_wiped_when_refused_before_the_tool_starts(self):
        for name, call in [
            ("a loose origin", lambda secret: TOOL.deliver("Work", ["https://A.example"], secret)),
            ("window number 0", lambda secret: TOOL.deliver("Work", ORIGIN, secret, window_number=0)),
            ("secure_field_only as text", lambda secret: TOOL.deliver("Work", ORIGIN, secret, secure_field_only=1)),
            ("a clipboard deadline passed", lambda secret: TOOL.copy_to_clipboard(secret, deadline_ms=1000.0)),
            ("a clipboard deadline as text", lambda secret: TOOL.copy_to_clipboard(secret, deadline_ms="1")),
        ]:
            with self.subTest(name):
                secret = bytearray(b"correct horse")
                with self.assertRaises(UsageError):
                    call(secret)
                self.assertEqual(secret, bytearray(len(secret)))

    def test_helpers(self):
        self.assertEqual(grapheme_count("e\u0301\U0001F1E9\U0001F1EA\U0001F468\u200d\U0001F469"), 3)
        self.assertEqual(suggest_origin("HTTPS://Accounts.Example.com:443/login"), "https://accounts.example.com")
        self.assertIsNone(suggest_origin("http://example.com"))


if __name__ == "__main__":
    unittest.main()
