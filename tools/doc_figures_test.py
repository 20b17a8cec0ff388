#!/usr/bin/env python3
"""doc_figures.py replaces only what lies between its markers, and leaves a
page without one pair of them as it was.
Run: python3 tools/doc_figures_test.py
"""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "doc_figures.py")
START = "<!-- figures soak: written by scripts/soak.sh, do not edit -->"
END = "<!-- end of figures soak -->"


def run(page_text):
    """The tool's status and the page after it ran."""
    with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as f:
        f.write(page_text)
    try:
        done = subprocess.run([sys.executable, TOOL, "--page", f.name, "--name", "soak",
                               "--by", "scripts/soak.sh", "--row", "`a run`", "soak: 1 | 2\r\n",
                               "--not-run", "another", "why not"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        with open(f.name, encoding="utf-8") as page:
            return done.returncode, page.read()
    finally:
        os.unlink(f.name)


class Figures(unittest.TestCase):
    def test_replaces_the_old_figures_only(self):
        status, page = run(f"Before.\n\n{START}\n| old | row |\n{END}\n\nAfter.\n")
        self.assertEqual(status, 0)
        self.assertTrue(page.startswith(f"Before.\n\n{START}\n| Run | Last line |\n"), page)
        self.assertIn("| `a run` | `soak: 1 \\| 2` |\n| another | not run: why not |\n", page)
        self.assertRegex(page, r"\nMeasured \d{4}-\d\d-\d\d \d\d:\d\d UTC at commit `[^`]+` on ")
        self.assertNotIn("old", page)
        self.assertTrue(page.endswith(f"\n{END}\n\nAfter.\n"), page)

    def test_refuses_a_page_without_one_pair_of_markers(self):
        for text in ["No markers.\n", f"{START}\n", f"{END}\n{START}\n",
                     f"{START}\n{END}\n{START}\n{END}\n"]:
            with self.subTest(text):
                status, page = run(text)
                self.assertEqual(status, 1)
                self.assertEqual(page, text)

    def test_a_rewritten_page_alone_does_not_mark_the_commit_dirty(self):
        with tempfile.TemporaryDirectory() as repo:
            def git(*args):
                subprocess.run(["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@t",
                                *args], check=True, stdout=subprocess.DEVNULL)
            page = os.path.join(repo, "page.md")
            code = os.path.join(repo, "code.c")
            for name, text in ((page, f"{START}\n{END}\n"), (code, "int x;\n")):
                with open(name, "w", encoding="utf-8") as f:
                    f.write(text)
            git("init", "-q")
            git("add", ".")
            git("commit", "-q", "-m", "first")
            for label, edit, dirty in (("page only", page, False), ("code too", code, True)):
                with self.subTest(label):
                    with open(edit, "a", encoding="utf-8") as f:
                        f.write("\n")
                    subprocess.run([sys.executable, TOOL, "--page", "page.md", "--name", "soak",
                                    "--by", "scripts/soak.sh", "--row", "`a run`", "soak: 1"],
                                   cwd=repo, check=True)
                    with open(page, encoding="utf-8") as f:
                        text = f.read()
                    self.assertEqual("-dirty`" in text, dirty, text)


if __name__ == "__main__":
    unittest.main()
