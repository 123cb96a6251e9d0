#!/usr/bin/env python3
"""tools/run-docs on small fake documents: what passes, and each fault it must
report with the file and line of the block."""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

RUNNER = Path(__file__).resolve().parents[2] / "tools" / "run-docs"
F = "```"

# (name, document, passes, what the runner must print)
CASES = [
    ("a block marked neither run nor shown", f"Text.\n\n{F}vb\nWScript.Echo 1\n{F}\n", False,
     ["fake.md:3: a ```vb block marked neither 'run' nor 'shown'"]),
    ("a block with no language", f"{F}\nls\n{F}\n", False, ["fake.md:1: a ```(no language) block"]),
    ("a run block without output", f"{F}sh run\necho hi\n{F}\n", False,
     ["fake.md:1: a run block without a ```text output block"]),
    ("a language that cannot run", f"{F}cpp run\nint x;\n{F}\n{F}text output\n{F}\n", False,
     ["fake.md:1: cannot run a ```cpp block"]),
    ("other output", f"{F}sh run\necho hi\n{F}\n{F}text output\nbye\n{F}\n", False,
     ["fake.md:1: the ```sh run block failed: its output differs", "    bye", "    hi"]),
    ("a non-zero exit", f"{F}sh run\necho hi\nfalse\necho never\n{F}\n{F}text output\nhi\n{F}\n", False,
     ["fake.md:1: the ```sh run block failed: exit code 1\n"]),
    ("placeholders within and across lines",
     f"{F}sh run\nprintf 'a\\nx 1 y\\nb\\nb2\\nc  \\r\\n\\n'\n{F}\n{F}text output\na\nx … y\n…\nc\n{F}\n", True,
     ["ok  fake.md:1 (sh)", "1 passed, 0 failed"]),
    ("a placeholder does not hide a missing line",
     f"{F}sh run\nprintf 'a\\nb\\n'\n{F}\n{F}text output\na\n…\nc\n{F}\n", False, ["its output differs"]),
    ("shown and plain text blocks are not run",
     f"{F}python shown\nimport nothing\n{F}\n{F}text\nplain\n{F}\n", True, ["1 blocks shown only; 0 passed, 0 failed"]),
    ("a block in a list item", f"- Step:\n\n  {F}sh run\n  echo '  hi'\n  {F}\n\n  {F}text output\n    hi\n  {F}\n", True,
     ["1 passed, 0 failed"]),
    ("an sh block has the build's folders", f"{F}sh run\necho \"$TARN_SDK\"\n{F}\n{F}text output\n…/x64/sdk\n{F}\n",
     True, ["1 passed, 0 failed"]),
    ("a VBScript block runs", f"{F}vb run\nWScript.Echo 6 * 7\n{F}\n{F}text output\n42\n{F}\n", True,
     ["ok  fake.md:1 (vb)"]),
    ("a VBScript runtime error", f"Prose.\n{F}vb run\nWScript.Echo \"before\"\nSet o = CreateObject(\"TarnDriver.NoSuchClass\")\n"
     f"WScript.Echo \"after\"\n{F}\n{F}text output\nbefore\nafter\n{F}\n", False,
     ["fake.md:2: the ```vb run block failed"]),
    ("a JScript block runs", f"{F}js run\nWScript.Echo([1, 2].join(\",\"));\n{F}\n{F}text output\n1,2\n{F}\n", True,
     ["ok  fake.md:1 (js)"]),
]


class RunDocsTest(unittest.TestCase):
    def test_cases(self):
        for name, document, passes, expected in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                fake = Path(root) / "fake.md"
                fake.write_text(document, encoding="utf-8")
                done = subprocess.run([sys.executable, str(RUNNER), "--root", root, str(fake)],
                                      capture_output=True, text=True, env=os.environ, timeout=300)
                printed = done.stdout + done.stderr
                self.assertEqual(done.returncode == 0, passes, printed)
                for text in expected:
                    self.assertIn(text, printed)


if __name__ == "__main__":
    unittest.main(verbosity=2)
