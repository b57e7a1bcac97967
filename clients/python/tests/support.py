"""Paths to the simulated harness and scenarios, and patched scenario files for the tests."""

import json
import os
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
HARNESS = os.environ.get(
    "CPI_SIM", os.path.join(ROOT, "build", "default", "main", "platform", "simulated", "chrome-private-input-sim"))
SCENARIOS = os.path.join(ROOT, "tests", "scenarios")
FAKE_TOOL = os.path.join(ROOT, "clients", "fake-tool.py")


def scenario(name):
    return os.path.join(SCENARIOS, name + ".json")


class HarnessTest(unittest.TestCase):
    """Gives each test a temporary folder, patched scenarios and journals."""

    @classmethod
    def setUpClass(cls):
        if not os.access(HARNESS, os.X_OK):
            raise unittest.SkipTest(f"build the harness first: {HARNESS}") if os.environ.get("CPI_ALLOW_SKIP") else \
                AssertionError(f"the simulated harness is missing: {HARNESS} (scripts/test-clients.sh builds it)")

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def patched(self, name, **patch):
        with open(scenario(name), encoding="utf-8") as source:
            document = json.load(source)
        document.update(patch)
        path = os.path.join(self.folder.name, f"{name}-patched.json")
        with open(path, "w", encoding="utf-8") as target:
            json.dump(document, target)
        return path

    def journal_path(self):
        return os.path.join(self.folder.name, "journal.jsonl")

    def journal(self):
        with open(self.journal_path(), encoding="utf-8") as lines:
            return [json.loads(line) for line in lines if line.strip()]

    @staticmethod
    def fake_tool(behaviour, path=None):
        """The command line of the fake tool both clients' tests share (clients/fake-tool.py),
        doing one of its behaviours."""
        return [sys.executable, FAKE_TOOL, behaviour] + ([path] if path is not None else [])
