"""An agent's four flows against the simulated Chrome, and one mistake explained.

    python3 clients/python/examples/four_flows.py     (after scripts/demo.sh has built the harness)

With a real Mac, replace chrome(...) by Tool(["chrome-private-input"])."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from chrome_private_input import Refusal, Tool  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
SIM = os.environ.get("CPI_SIM", os.path.join(ROOT, "build/default/main/platform/simulated/chrome-private-input-sim"))


def chrome(scenario):
    return Tool.simulated(SIM, os.path.join(ROOT, "tests", "scenarios", scenario + ".json"))


# 1. Count the profile's windows (their numbers can pin a delivery to one window).
count = chrome("chrome-profiles").count_windows("Work")
print(f"count: {count.count} windows of Work, numbers {count.window_numbers}, tabs {count.tab_counts}")

# 2. Deliver a password into the focused field; the bytearray is wiped once it has been sent.
secret = bytearray(b"correct horse battery staple")
chrome("realistic-chrome").deliver("Work", ["https://accounts.example.com"], secret, window_number=4101)
print("deliver: typed")

# 3. Take a baseline before the console issues a new key, capture the new key after.
console = ["https://console.example.dev"]
baseline = chrome("developer-console-before").key_baseline("Work", console)
captured = chrome("developer-console-after").key_capture("Work", console, baseline)
print(f"capture: a new key with fingerprint {captured.fingerprint[:16]}…")  # never print captured.key

# 4. Hand a secret to the person through the clipboard for 20 seconds.
hold = chrome("clipboard-desktop").copy_to_clipboard(b"correct horse battery staple")
hold.wait()  # or hold.cancel() to take it off early
print("clipboard: held and cleared")

# A mistake: the profile has two windows and the request names none.
try:
    chrome("chrome-profiles").deliver("Work", ["https://mail.example.com"], b"correct horse battery staple")
except Refusal as refusal:
    print(f"refused: {refusal.reason}: {refusal.diagnosis}")
