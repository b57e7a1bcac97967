"""The live driver's own decisions that run without a browser: the Accessibility grant it writes
into a privacy database of each shape, and its reading of Chrome's page switch after a stop."""

import os
import sqlite3
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_chromium as live  # noqa: E402

# The access table in the shapes the runner images' own grants fill: 13 values up to macOS 13,
# four more (pid, pid_version, boot_uuid, last_reminded) from macOS 14, and the older table with
# "allowed" and "prompt_count".
COLUMNS_13 = """service TEXT NOT NULL, client TEXT NOT NULL, client_type INTEGER NOT NULL,
    auth_value INTEGER NOT NULL, auth_reason INTEGER NOT NULL, auth_version INTEGER NOT NULL,
    csreq BLOB, policy_id INTEGER, indirect_object_identifier_type INTEGER,
    indirect_object_identifier TEXT NOT NULL DEFAULT 'UNUSED', indirect_object_code_identity BLOB,
    flags INTEGER, last_modified INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER))"""
KEY = "PRIMARY KEY (service, client, client_type, indirect_object_identifier)"
SCHEMAS = {
    "macOS 13": f"CREATE TABLE access ({COLUMNS_13}, {KEY})",
    "macOS 14": f"""CREATE TABLE access ({COLUMNS_13}, pid INTEGER, pid_version INTEGER,
        boot_uuid TEXT NOT NULL DEFAULT 'UNUSED',
        last_reminded INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER)), {KEY})""",
    "before macOS 11": """CREATE TABLE access (service TEXT NOT NULL, client TEXT NOT NULL,
        client_type INTEGER NOT NULL, allowed INTEGER NOT NULL, prompt_count INTEGER NOT NULL,
        csreq BLOB, policy_id INTEGER, indirect_object_identifier_type INTEGER,
        indirect_object_identifier TEXT, indirect_object_code_identity BLOB, flags INTEGER,
        last_modified INTEGER NOT NULL DEFAULT (CAST(strftime('%s','now') AS INTEGER)),
        PRIMARY KEY (service, client, client_type, indirect_object_identifier))""",
}
TOOL = "/Users/runner/work/repo/build/release/main/platform/macos/chrome-private-input"


class GrantTest(unittest.TestCase):
    def database(self, schema: str, other_grant: bool = True) -> str:
        directory = tempfile.mkdtemp()
        self.addCleanup(lambda: __import__("shutil").rmtree(directory))
        path = os.path.join(directory, "TCC.db")
        with sqlite3.connect(path) as connection:
            connection.execute(schema)
            # Someone else's grant, which the tool's must leave alone.
            other_grant and connection.execute("INSERT INTO access (service, client, client_type, "
                               + ("allowed, prompt_count" if "allowed" in schema else
                                  "auth_value, auth_reason, auth_version")
                               + ") VALUES ('kTCCServiceAccessibility', '/bin/bash', 1, 1, 1"
                               + ("" if "allowed" in schema else ", 1") + ")")
        return path

    def rows(self, path: str):
        with sqlite3.connect(path) as connection:
            connection.row_factory = sqlite3.Row
            return [dict(row) for row in connection.execute("SELECT * FROM access ORDER BY rowid")]

    def test_each_shape_gets_one_allowing_path_grant_with_its_requirement(self):
        for name, schema in SCHEMAS.items():
            with self.subTest(name):
                path = self.database(schema)
                live.grant_accessibility(path, TOOL, b"\xfa\xde\x0c\x00")
                live.grant_accessibility(path, TOOL, b"\xfa\xde\x0c\x01")  # a rebuild: replaced
                rows = self.rows(path)
                self.assertEqual(sorted(row["client"] for row in rows), sorted(["/bin/bash", TOOL]))
                grant = next(row for row in rows if row["client"] == TOOL)
                self.assertEqual((grant["service"], grant["client_type"]), ("kTCCServiceAccessibility", 1))
                self.assertEqual(grant.get("auth_value", grant.get("allowed")), 2 if "auth_value" in grant else 1)
                self.assertEqual(grant["csreq"], b"\xfa\xde\x0c\x01")
                self.assertEqual(grant["indirect_object_identifier"], "UNUSED")
                if "boot_uuid" in grant:
                    self.assertEqual(grant["boot_uuid"], "UNUSED")
                    self.assertGreater(grant["last_reminded"], 0)

    def test_a_table_it_does_not_know_is_left_unchanged(self):
        cases = {
            "a required column without a default": SCHEMAS["macOS 14"].replace(
                "pid INTEGER,", "pid INTEGER, session_token TEXT NOT NULL,"),
            "no column that allows": SCHEMAS["macOS 13"].replace("auth_value INTEGER NOT NULL,", ""),
        }
        for name, schema in cases.items():
            with self.subTest(name):
                path = self.database(schema, other_grant=False)
                with self.assertRaises(live.SetupError):
                    live.grant_accessibility(path, TOOL, None)
                self.assertEqual(self.rows(path), [])


class RequirementTest(unittest.TestCase):
    def test_the_designated_requirement_is_found_whether_stated_or_derived(self):
        cases = [
            ("ad hoc, derived", 'Executable=/x/tool\n# designated => cdhash H"8d6f01"\n', 'cdhash H"8d6f01"'),
            ("certificate, stated", 'Executable=/x/tool\ndesignated => identifier "local.chrome-private-input" '
             'and certificate root = H"ab12"\n',
             'identifier "local.chrome-private-input" and certificate root = H"ab12"'),
            ("unsigned", "/x/tool: code object is not signed at all\n", None),
        ]
        for name, shown, expected in cases:
            with self.subTest(name):
                self.assertEqual(live.designated_requirement_text(shown), expected)


class SwitchTest(unittest.TestCase):
    def test_switch_back_compares_what_was_readable_both_times(self):
        off = {"AXManualAccessibility": False, "AXEnhancedUserInterface": False}
        unsupported = {"error": -25205}
        cases = [
            ("off before and after", off, off, True),
            ("left on", off, dict(off, AXManualAccessibility=True), False),
            ("numbers as booleans", {"AXManualAccessibility": 0}, {"AXManualAccessibility": 0}, True),
            ("on before, off after", {"AXManualAccessibility": 1}, {"AXManualAccessibility": 0}, False),
            ("one readable, same value", {"AXManualAccessibility": False, "AXEnhancedUserInterface": unsupported},
             {"AXManualAccessibility": False, "AXEnhancedUserInterface": unsupported}, True),
            ("nothing readable", {"AXManualAccessibility": unsupported}, {"AXManualAccessibility": unsupported}, False),
            ("different attributes readable", {"AXManualAccessibility": False},
             {"AXEnhancedUserInterface": False}, False),
            ("no reading at all", None, None, False),
        ]
        for name, before, after, expected in cases:
            with self.subTest(name):
                self.assertIs(live.switch_back(before, after), expected)


if __name__ == "__main__":
    unittest.main()
