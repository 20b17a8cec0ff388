#!/usr/bin/env python3
"""What release_texts.py makes of the Markdown it meets, and what it refuses.

The package test checks the README.txt of the real README.md; these cases
cover the conversions and failures that README.md does not show today.
Run: python3 tools/release_texts_test.py
"""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_texts  # noqa: E402


def convert(body, sections=("S",), replacements=()):
    with tempfile.NamedTemporaryFile("w", suffix=".md", delete=False) as f:
        f.write("# Title\n\nIntro.\n\n" + body)
    try:
        return release_texts.readme_text(f.name, "T 1.0", list(sections), replacements)
    finally:
        os.unlink(f.name)


class Converts(unittest.TestCase):
    CASES = [
        # (what, Markdown of section S, lines that must be in the text)
        ("code spans lose their backticks; paths get backslashes",
         "## S\n\nCopy `virtual-panel/sg_vfd.dll`, keep `off,audio` and `a / b`.\n",
         ["Copy virtual-panel\\sg_vfd.dll, keep off,audio and a / b."]),
        ("links keep their text, pictures go, emphasis goes",
         "## S\n\nSee [the page](x.md) ![a picture](p.png) and **this**.\n",
         ["See the page and this."]),
        ("md-only parts go, the text around them joins",
         "## S\n\nOne\n<!-- md-only -->\nOn Linux, run this.\n<!-- /md-only -->\ntwo.\n",
         ["One two."]),
        ("a narrow table keeps its columns and wraps the last",
         "## S\n\n| Key | Meaning |\n|---|---|\n| `a` | " + "word " * 20 + "|\n",
         ["  Key  Meaning", "  ---  " + "-" * 71, "  a    " + ("word " * 14).strip(),
          "       " + ("word " * 6).strip()]),
        ("a table with a wide first column becomes a list of rows",
         "## S\n\n| Message | Do |\n|---|---|\n| `" + "long " * 17 + "` | fix it |\n",
         ["  " + ("long " * 15).strip(), "  long long", "      fix it"]),
        ("sizes are not broken, list items hang, nested items indent",
         "## S\n\n1. " + "x" * 70 + " 16 x 2\n   - inner item\n",
         ["1. " + "x" * 70, "   16 x 2", "   - inner item"]),
        ("code blocks are indented, also inside list items",
         "## S\n\n- run:\n\n  ```\n  set A=0\n  ```\n",
         ["- run:", "", "      set A=0"]),
    ]

    def test_cases(self):
        for what, body, wanted in self.CASES:
            with self.subTest(what):
                text = convert(body)
                start = text.index("S") + 3  # after the heading, its rule and a blank
                for line in wanted:
                    self.assertIn(line, text[start:], f"{what}:\n" + "\n".join(text))

    def test_replacements_apply_and_must_match(self):
        self.assertIn("Get P-1.0.zip.", convert("## S\n\nGet P-V.zip.\n",
                                                replacements=[("P-V.zip", "P-1.0.zip")]))
        with self.assertRaisesRegex(release_texts.ReadmeError, "nothing to replace"):
            convert("## S\n\nGet it.\n", replacements=[("P-V.zip", "P-1.0.zip")])


class Refuses(unittest.TestCase):
    CASES = [
        ("a missing section", "## Other\n\nx\n", "no section headed"),
        ("a section named twice", "## S\n\nx\n\n## S\n\ny\n", "appears 2 times"),
        ("an md-only part left open", "## S\n\n<!-- md-only -->\nx\n", "not closed"),
        ("an end without a start", "## S\n\nx\n<!-- /md-only -->\n", "without"),
        ("another comment", "## S\n\n<!-- note -->\nx\n", "a comment other than"),
        ("a line too long to wrap", "## S\n\n`" + "x" * 80 + "`\n", "more than 78"),
        ("a code line too long", "## S\n\n```\n" + "y" * 75 + "\n```\n", "more than 78"),
    ]

    def test_cases(self):
        for what, body, message in self.CASES:
            with self.subTest(what):
                with self.assertRaisesRegex(release_texts.ReadmeError, message):
                    convert(body)


class Copies(unittest.TestCase):
    def test_crlf_and_a_byte_order_mark_only_where_not_ascii(self):
        for lines, start in [(["Copyright \u00a9 2000", "x"], b"\xef\xbb\xbfCopyright \xc2\xa9"),
                             (["plain", "x"], b"plain\r\n")]:
            with tempfile.TemporaryDirectory() as directory:
                path = os.path.join(directory, "out.txt")
                release_texts.write_crlf(path, lines)
                with open(path, "rb") as f:
                    data = f.read()
                self.assertTrue(data.startswith(start), data)
                self.assertTrue(data.endswith(b"x\r\n"), data)
                self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))

    def test_a_line_too_wide_for_notepad_fails(self):
        release_texts.too_long("f", ["x" * 78])
        with self.assertRaisesRegex(release_texts.ReadmeError, "f line 2 is 79 characters long"):
            release_texts.too_long("f", ["ok", "y" * 79])


if __name__ == "__main__":
    unittest.main()
