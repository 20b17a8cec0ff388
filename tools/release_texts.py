#!/usr/bin/env python3
"""Writes the text files of the release package, with Windows line endings.

README.txt is the user's part of README.md: the introduction before the first
section, then the sections named with --section, each with its subsections, in
the order given. A section that is missing or named twice in README.md fails
the run, so that renaming a heading cannot quietly drop it from the package.
A section that an earlier one already holds as a subsection is not repeated.
The Markdown is kept as it reads in plain text, except that headings are
underlined, code fences become indented blocks, links keep their text only and
pictures are left out.

Every --copy SOURCE DEST is copied as it is, with Windows line endings.

Usage:
  python3 tools/release_texts.py --readme README.md --out-readme README.txt \
      --title "Vestrix 1.0.0" --section "Installing the plug-in" \
      --section "The virtual panel" --copy LICENSE out/LICENSE
Exits non-zero with a message at the first error found.
"""

import argparse
import os
import re
import sys

HEADING = re.compile(r"^(#{1,6}) +(.+?) *#*$")
FENCE = re.compile(r"^ *(```|~~~)")
PICTURE = re.compile(r"!\[[^\]]*\]\([^)]*\)", re.DOTALL)
LINK = re.compile(r"\[([^\]]+)\]\([^)]*\)")


class ReadmeError(Exception):
    pass


def headings(lines):
    """(line index, level, title) of every heading outside code blocks."""
    found = []
    in_fence = False
    for index, line in enumerate(lines):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        match = None if in_fence else HEADING.match(line)
        if match:
            found.append((index, len(match.group(1)), match.group(2)))
    return found


def section_ranges(lines):
    """title -> list of (first line, end line) of the section with its subsections."""
    marks = headings(lines)
    ranges = {}
    for position, (start, level, title) in enumerate(marks):
        end = len(lines)
        for later, later_level, _ in marks[position + 1:]:
            if later_level <= level:
                end = later
                break
        ranges.setdefault(title, []).append((start, end))
    return ranges, marks


def to_text(markdown_lines):
    """Markdown lines as plain text lines."""
    text = PICTURE.sub("", "\n".join(markdown_lines))
    text = LINK.sub(r"\1", text)
    out = []
    in_fence = False
    for line in text.split("\n"):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        if in_fence:
            out.append("    " + line if line else "")
            continue
        match = HEADING.match(line)
        if match:
            title = match.group(2)
            underline = "=" if len(match.group(1)) <= 2 else "-"
            out.extend([title, underline * len(title)])
            continue
        out.append(line)
    # No runs of blank lines where a picture was taken out.
    squeezed = []
    for line in out:
        if line.strip() or (squeezed and squeezed[-1].strip()):
            squeezed.append(line.rstrip())
    while squeezed and not squeezed[-1]:
        squeezed.pop()
    return squeezed


def readme_text(readme, title, wanted):
    """The README.txt lines; wanted is the list of section titles to take."""
    with open(readme, encoding="utf-8") as f:
        lines = f.read().splitlines()
    ranges, marks = section_ranges(lines)
    if not marks or marks[0][1] != 1:
        raise ReadmeError(f"{readme}: no title heading on top")
    intro_end = marks[1][0] if len(marks) > 1 else len(lines)
    out = [title, "=" * len(title), ""] + to_text(lines[marks[0][0] + 1:intro_end])
    taken = []
    for name in wanted:
        found = ranges.get(name, [])
        if len(found) > 1:
            raise ReadmeError(f"{readme}: the heading \"{name}\" appears {len(found)} times")
        if not found:
            raise ReadmeError(f"{readme}: no section headed \"{name}\"")
        start, end = found[0]
        if any(first <= start and end <= last for first, last in taken):
            continue
        taken.append((start, end))
        out += ["", ""] + to_text(lines[start:end])
    return out


def write_crlf(path, lines):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--readme", required=True)
    parser.add_argument("--out-readme", required=True)
    parser.add_argument("--title", required=True)
    parser.add_argument("--section", action="append", default=[], dest="sections")
    parser.add_argument("--copy", nargs=2, action="append", default=[],
                        metavar=("SOURCE", "DEST"))
    args = parser.parse_args()
    try:
        write_crlf(args.out_readme, readme_text(args.readme, args.title, args.sections))
        for source, dest in args.copy:
            with open(source, encoding="utf-8") as f:
                write_crlf(dest, f.read().splitlines())
    except (ReadmeError, OSError) as error:
        print(f"release_texts.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
