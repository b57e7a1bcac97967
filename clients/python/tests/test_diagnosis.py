"""The diagnosis of every reason and every reading of the check maps, shared with the TypeScript
client through clients/diagnosis-cases.json so that both explain a refusal in the same words."""

import json
import os
import unittest

from chrome_private_input import REASONS, diagnose

CASES = os.path.join(os.path.dirname(__file__), "..", "..", "diagnosis-cases.json")


class Diagnosis(unittest.TestCase):
    def test_shared_cases(self):
        with open(CASES, encoding="utf-8") as source:
            cases = json.load(source)
        self.assertEqual({c["reason"] for c in cases}, set(REASONS))
        for case in cases:
            with self.subTest(case["name"]):
                self.assertEqual(diagnose(case["reason"], case["checks"], case["request"],
                                          after_interim=case["afterInterim"], vocabulary="mcp"),
                                 case["diagnosis"])

    def test_every_sentence_ends_and_no_advice_points_at_a_missing_map(self):
        for reason in REASONS:
            text = diagnose(reason, {})
            self.assertTrue(text.endswith("."), text)
            self.assertNotIn("below", text)


if __name__ == "__main__":
    unittest.main()
