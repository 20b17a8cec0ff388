#!/usr/bin/env python3
"""Writes the character table of the release package, CHARACTERS.txt.

For each screen size, which character every code from 0 to 255 shows on the
panel, beside the character Windows shows for it, as plain ASCII text of at
most 78 columns, for Notepad. Nothing in it is typed by hand:
- the glyph names come from the font pictures, text/fonts/small.txt and
  large.txt, read with tools/fontgen.py;
- what a host's write makes of each code (the code it stores, or the end of the
  text), which code shows each custom character, and whether one-line mode
  takes custom characters come from the plug-in's own code, listed by
  `vestrix_fontsheet codes`;
- the Windows characters come from Python's code page 1252 and their Unicode
  names.

Usage:
  python3 tools/chartable.py --small text/fonts/small.txt --large text/fonts/large.txt \
      --tool build/native/vestrix_fontsheet write|check docs/characters.txt
`check` fails while the file differs from what the fonts and code make now.
"""

import argparse
import os
import re
import subprocess
import sys
import textwrap
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fontgen  # noqa: E402

WIDTH = 78
CODE_PAGE = "cp1252"
# The font sheets under the names the release package gives them.
SHEETS = {"16 x 2": "characters-16x2.png", "16 x 1": "characters-16x1.png"}
NEVER = "*"
# Unicode names too long for a column, shortened the way the fonts name them.
SHORTER = [
    (r"^(single )?left-pointing (double )?angle quotation mark$", r"\1left guillemet"),
    (r"^(single )?right-pointing (double )?angle quotation mark$", r"\1right guillemet"),
    (r"^modifier letter circumflex accent$", "circumflex accent"),
    (r"^(.*(?:single|double).*) quotation mark$", r"\1 quote"),
    (r"^vulgar fraction ", ""),
    (r" indicator$", ""),
    (r" above$", ""),
]


class TableError(Exception):
    pass


def windows_name(code):
    """The name of the character Windows shows for the code, or "-" for none."""
    try:
        char = bytes([code]).decode(CODE_PAGE)
    except UnicodeDecodeError:
        return "-"
    name = unicodedata.name(char, "").lower()
    if not name or code < 32:
        return "-"
    letter = re.fullmatch(r"latin (small|capital) (letter|ligature) (.+?)(?: with (.+))?", name)
    if letter:
        case, kind, base, mark = letter.groups()
        if len(base) == 1 or kind == "ligature" or base == "ae":
            base = base.upper() if case == "capital" else base
            base += " ligature" if kind == "ligature" or base.lower() == "ae" else ""
        else:
            base = f"{case} {base}" if base != "sharp s" else base
        name = base + (f" {mark}" if mark else "")
    for pattern, replacement in SHORTER:
        name = re.sub(pattern, replacement, name)
    return name


def plugin_codes(tool):
    """What the plug-in's code makes of the codes: {code: shown code or None},
    {custom index: code}, and whether 16 x 1 takes custom characters."""
    listed = subprocess.run([tool, "codes"], stdout=subprocess.PIPE, text=True, check=True).stdout
    shows, custom, one_line = {}, {}, None
    for line in listed.splitlines():
        words = line.split()
        if words[:1] == ["code"] and words[2] == "ends":
            shows[int(words[1])] = None
        elif words[:1] == ["code"] and words[2] == "shows":
            shows[int(words[1])] = int(words[3])
        elif words[:2] == ["custom", "16x1"]:
            one_line = words[2] == "stored"
        elif words[:1] == ["custom"]:
            custom[int(words[1])] = int(words[2])
        else:
            raise TableError(f"{tool} codes: a line it should not print: {line!r}")
    if sorted(shows) != list(range(256)) or sorted(custom) != list(range(1, 9)) or one_line is None:
        raise TableError(f"{tool} codes: an incomplete listing")
    return shows, custom, one_line


def table(names, shows, custom):
    """The rows of one screen size's table: code, what shows, Windows."""
    by_code = {code: index for index, code in custom.items()}
    rows = []
    for code in range(256):
        shown = shows[code]
        if shown is None:
            what = "(ends the text)"
        elif shown != code:
            what = f"{names[shown]} {NEVER}"
        else:
            what = names[code]
            if code in by_code:
                what += f", or custom {by_code[code]}"
        rows.append((f"{code:3d}", f"{code:02X}", what, windows_name(code)))
    return rows


def draw(rows):
    head = ("dec", "hex", "Shows", "Windows (code page 1252)")
    widths = [max(len(row[i]) for row in rows + [head]) for i in range(3)]
    lines = []
    for row in [head] + rows:
        lines.append("  " + "  ".join(cell.ljust(widths[i]) if i < 3 else cell
                                      for i, cell in enumerate(row)).rstrip())
        if row is head:
            lines.append("  " + "  ".join("-" * w for w in widths + [len(head[3])]))
    return lines


def spans(codes):
    """"16 to 31 and 255" for those codes."""
    runs = []
    for code in codes:
        if runs and runs[-1][1] == code - 1:
            runs[-1][1] = code
        else:
            runs.append([code, code])
    texts = [f"{a}" if a == b else f"{a} to {b}" for a, b in runs]
    return texts[0] if len(texts) == 1 else ", ".join(texts[:-1]) + " and " + texts[-1]


def paragraphs(*texts):
    out = []
    for text in texts:
        out += textwrap.wrap(" ".join(text.split()), WIDTH, break_on_hyphens=False) + [""]
    return out


def heading(title, rule):
    return [title, rule * len(title), ""]


def character_table(small_path, large_path, tool):
    fonts = {"16 x 2": [g.name for g in fontgen.parse(small_path, fontgen.SMALL)],
             "16 x 1": [g.name for g in fontgen.parse(large_path, fontgen.LARGE)]}
    shows, custom, one_line = plugin_codes(tool)
    # The example: the character Windows calls e acute, in both fonts.
    windows_e = [c for c in range(256) if windows_name(c) == "e acute"][0]
    font_e = {size: names.index("e acute") for size, names in fonts.items()}
    never = [c for c in range(256) if shows[c] is not None and shows[c] != c]
    never_text = spans(never)
    out = heading("Vestrix: which code shows which character", "=")
    out += paragraphs(
        "Lumidor hands the plug-in its text as Windows characters, one code from 1 "
        "to 255 each, and the panel shows for each code the character that the table "
        "of the screen size chosen in Lumidor gives. The two fonts differ, and both "
        f"differ from Windows above code 127: e acute, code {windows_e} in Windows, "
        f"shows in 16 x 2 as {fonts['16 x 2'][shows[windows_e]]} and in 16 x 1 as "
        f"{fonts['16 x 1'][shows[windows_e]]}. The small font of 16 x 2 has its e acute "
        f"at code {font_e['16 x 2']}, the large font of 16 x 1 at code {font_e['16 x 1']}.",
        "To show a character, find it under Shows in the table of your screen size, "
        "and type its code in Lumidor's text: hold down Alt, type 0 and the code in "
        f"decimal on the numeric keypad, and let go of Alt (Alt+0{font_e['16 x 2']} for "
        f"code {font_e['16 x 2']}). Windows then shows the character that the column "
        "Windows names for that code, and the plug-in should receive the code; this "
        "has not been tried in Lumidor itself. The column is for Windows set to code "
        "page 1252, for Western European languages; with another code page, codes 128 "
        "to 255 stand for other characters in Windows, but show the same on the "
        "panel. Codes 1 to 31 have no character in Windows to type.",
        f"Codes marked {NEVER} never show their own glyph: the plug-in shows a space "
        f"for them ({never_text}). Code 0 ends the text. The font sheets "
        f"{SHEETS['16 x 2']} and {SHEETS['16 x 1']} show every glyph as the panel "
        "draws it, with those codes crossed out.",
        "Custom characters, which Lumidor defines, exist only in 16 x 2: custom "
        "character N shows at the code that the table marks \"or custom N\", in place of the glyph there. "
        + ("" if one_line else "In 16 x 1 those codes show the large font's own glyphs."))
    titles = {"16 x 2": "16 x 2: two lines in the small font",
              "16 x 1": "16 x 1: one line in the large font"}
    for size in ("16 x 2", "16 x 1"):
        out += [""] + heading(titles[size], "-")
        out += draw(table(fonts[size], shows, custom if size == "16 x 2" or one_line else {}))
        out.append("")
    while out[-1] == "":
        out.pop()
    for number, line in enumerate(out, 1):
        if len(line) > WIDTH or not line.isascii():
            raise TableError(f"line {number} is not plain ASCII of at most {WIDTH} columns: "
                             f"{line!r}")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--small", required=True)
    parser.add_argument("--large", required=True)
    parser.add_argument("--tool", required=True, help="the built vestrix_fontsheet")
    parser.add_argument("action", choices=["write", "check"])
    parser.add_argument("file")
    args = parser.parse_args()
    try:
        text = character_table(args.small, args.large, args.tool)
    except (TableError, fontgen.FontError, OSError, subprocess.CalledProcessError) as error:
        print(f"chartable.py: {error}", file=sys.stderr)
        return 1
    if args.action == "write":
        with open(args.file, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        return 0
    try:
        with open(args.file, encoding="ascii", newline="") as f:
            current = f.read() == text
    except (OSError, UnicodeDecodeError):
        current = False
    if not current:
        print(f"chartable.py: {args.file} does not show the current fonts and code; "
              "regenerate it: cmake --build --preset native --target fontsheets", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
