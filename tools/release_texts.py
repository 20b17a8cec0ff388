#!/usr/bin/env python3
"""Writes the text files of the release package, with Windows line endings.

README.txt is the Windows user's part of README.md, as plain text for Notepad:
the introduction before the first section, then the sections named with
--section, each with its subsections, in the order given. A section that is
missing or named twice in README.md fails the run, so that renaming a heading
cannot quietly drop it from the package.

The Markdown becomes plain text: headings underlined, paragraphs and list
items wrapped at 78 columns, tables drawn with spaces and dashes (or, when
their first column is too wide for that, as a list of rows), code blocks
indented, links reduced to their text, pictures left out, and the backticks of
code spans dropped; a file path in a code span gets Windows' backslashes.
Every --replace OLD NEW is applied to the text first, for placeholders such as
the package's file name. Text for README.md only, such as what a developer
on Linux does, lies between two HTML comments, which Markdown does not show:

  <!-- md-only -->
  text for README.md only
  <!-- /md-only -->

README.txt takes no other HTML comment. The run fails when a line of
README.txt would be longer than 78 characters or when a marker is left open.

Every --copy SOURCE DEST is copied as it is, with Windows line endings, under
the same rule of 78 columns; a file that is not plain ASCII gets UTF-8's
byte-order mark, without which older Notepad reads UTF-8 as its ANSI code page
(a copyright sign as two other characters).

Usage:
  python3 tools/release_texts.py --readme README.md --out-readme README.txt \
      --title "Vestrix 1.0.0" --section "Installing the plug-in" \
      --replace Vestrix-VERSION-win32.zip Vestrix-1.0.0-win32.zip \
      --copy LICENSE out/LICENSE
Exits non-zero with a message at the first error found.
"""

import argparse
import os
import re
import sys
import textwrap

WIDTH = 78
HEADING = re.compile(r"^(#{1,6}) +(.+?) *#*$")
FENCE = re.compile(r"^( *)(```|~~~)")
PICTURE = re.compile(r"!\[[^\]]*\]\([^)]*\)")
LINK = re.compile(r"\[([^\]]+)\]\([^)]*\)")
CODE_SPAN = re.compile(r"`([^`]+)`")
EMPHASIS = re.compile(r"(\*\*|__)(.+?)\1|(?<![\w*])\*(?!\s)(.+?)(?<!\s)\*(?![\w*])")
LIST_ITEM = re.compile(r"^(?:[-*+]|\d+\.) +")
# A file path in a code span: no blanks, a slash, not a web address.
PATH = re.compile(r"^[\w.~-]+(?:/[\w.*-]+)+/?$")
# "16 x 2" stays on one line.
SIZE = re.compile(r"(\d+) x (\d+)")
NO_BREAK = "\u00a0"

MD_ONLY = "<!-- md-only -->"
MD_ONLY_END = "<!-- /md-only -->"


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


def for_text(lines, where):
    """The lines as README.txt takes them, without the md-only parts."""
    out = []
    opened = None  # the line number where the md-only part now open began
    for number, line in enumerate(lines, where):
        stripped = line.strip()
        if stripped == MD_ONLY:
            if opened is not None:
                raise ReadmeError(f"line {number}: {MD_ONLY} inside the one of line {opened}")
            opened = number
        elif stripped == MD_ONLY_END:
            if opened is None:
                raise ReadmeError(f"line {number}: {MD_ONLY_END} without {MD_ONLY}")
            opened = None
        elif stripped.startswith("<!--"):
            raise ReadmeError(f"line {number}: a comment other than {MD_ONLY} and {MD_ONLY_END}")
        elif opened is None:
            out.append(line)
    if opened is not None:
        raise ReadmeError(f"line {opened}: {MD_ONLY} is not closed by {MD_ONLY_END}")
    return out


def inline(text):
    """Markdown inline syntax as plain text."""
    text = PICTURE.sub("", text)
    text = LINK.sub(r"\1", text)
    parts = CODE_SPAN.split(text)
    # The odd parts are the code spans; emphasis is undone outside them only.
    for index, part in enumerate(parts):
        if index % 2:
            parts[index] = part.replace("/", "\\") if PATH.match(part) else part
        else:
            parts[index] = EMPHASIS.sub(lambda m: m.group(2) or m.group(3), part)
    return "".join(parts)


def wrap(text, first, rest, width=WIDTH):
    """Wraps text at `width` with the given prefixes; "N x N" is not broken."""
    text = SIZE.sub(lambda m: f"{m.group(1)}{NO_BREAK}x{NO_BREAK}{m.group(2)}", text)
    lines = textwrap.wrap(text, width=width, initial_indent=first, subsequent_indent=rest,
                          break_long_words=False, break_on_hyphens=False)
    return [line.replace(NO_BREAK, " ") for line in lines]


def table_rows(lines):
    """The cells of each table row, without the row of dashes."""
    rows = []
    for line in lines:
        cells = [inline(cell.strip()) for cell in line.strip().strip("|").split("|")]
        if all(re.fullmatch(r":?-+:?", cell) for cell in cells if cell):
            continue
        rows.append(cells)
    return rows


def draw_table(rows, indent):
    """A table as plain text: columns with a rule under the header when only
    the last column needs wrapping, otherwise one entry per row."""
    margin = " " * (indent + 2)
    columns = max(len(row) for row in rows)
    rows = [row + [""] * (columns - len(row)) for row in rows]
    widths = [max(len(row[i]) for row in rows) for i in range(columns)]
    fixed = sum(widths[:-1]) + 2 * (columns - 1) + len(margin)
    last = WIDTH - fixed
    longest_word = max((len(word) for row in rows for word in row[-1].split()), default=0)
    if columns > 1 and last >= max(20, longest_word):
        last = min(last, widths[-1])
        out = []
        for number, row in enumerate(rows):
            lead = margin + "".join(cell.ljust(widths[i] + 2) for i, cell in enumerate(row[:-1]))
            cell_lines = wrap(row[-1], "", "", last) or [""]
            out.append((lead + cell_lines[0]).rstrip())
            out += [(" " * len(lead) + more).rstrip() for more in cell_lines[1:]]
            if number == 0:
                out.append((margin + "  ".join("-" * w for w in widths[:-1] + [last])).rstrip())
        return out
    # One entry per row: the first cell, then the others beneath it, indented;
    # with more than two columns each says which column it is.
    header, body = rows[0], rows[1:]
    out = []
    for row in body:
        if out:
            out.append("")
        out += wrap(row[0], margin, margin)
        for name, cell in zip(header[1:], row[1:]):
            text = cell if columns == 2 else f"{name}: {cell}"
            out += wrap(text, margin + "    ", margin + "    ")
    return out


def to_text(lines):
    """Markdown lines as plain text lines."""
    out = []
    last = None  # the kind of the block before: "item", "heading" or another

    def space():
        # One blank line between blocks; list items follow one another.
        if out and out[-1] != "":
            out.append("")

    i = 0
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        indent = len(line) - len(line.lstrip(" "))
        if not stripped:
            i += 1
            continue
        if FENCE.match(line):
            i += 1
            code = []
            while i < len(lines) and not FENCE.match(lines[i]):
                inside = lines[i]
                code.append(inside[indent:] if inside[:indent].strip() == "" else inside.lstrip())
                i += 1
            i += 1
            space()
            out += [(" " * (indent + 4) + text).rstrip() for text in code]
            last = "code"
            continue
        heading = HEADING.match(line)
        if heading:
            title = inline(heading.group(2))
            major = len(heading.group(1)) <= 2
            space()
            if out and major:
                out.append("")
            out += [title, ("=" if major else "-") * len(title)]
            last = "heading"
            i += 1
            continue
        if stripped.startswith("|"):
            table = []
            while i < len(lines) and lines[i].strip().startswith("|"):
                table.append(lines[i])
                i += 1
            space()
            out += draw_table(table_rows(table), indent)
            last = "table"
            continue
        item = LIST_ITEM.match(stripped)
        marker = item.group(0) if item else ""
        text = [stripped[len(marker):]]
        i += 1
        # An item or paragraph goes on until a blank line or the next block.
        while i < len(lines):
            following = lines[i].strip()
            if (not following or FENCE.match(lines[i]) or HEADING.match(lines[i])
                    or following.startswith("|") or LIST_ITEM.match(following)):
                break
            text.append(following)
            i += 1
        if not (item and last == "item"):
            space()
        first = " " * indent + marker
        # Blanks collapse, as Markdown shows them, also where a picture went.
        out += wrap(" ".join(inline(" ".join(text)).split()), first, " " * len(first))
        last = "item" if item else "paragraph"
    while out and out[-1] == "":
        out.pop()
    return out


def readme_text(readme, title, wanted, replacements=()):
    """The README.txt lines; wanted is the list of section titles to take."""
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    for old, new in replacements:
        if old not in text:
            raise ReadmeError(f"{readme}: nothing to replace: \"{old}\"")
        text = text.replace(old, new)
    lines = text.splitlines()
    ranges, marks = section_ranges(lines)
    if not marks or marks[0][1] != 1:
        raise ReadmeError(f"{readme}: no title heading on top")
    intro_end = marks[1][0] if len(marks) > 1 else len(lines)
    try:
        intro = for_text(lines[marks[0][0] + 1:intro_end], marks[0][0] + 2)
        out = [title, "=" * len(title), ""] + to_text(intro)
        for name in wanted:
            found = ranges.get(name, [])
            if len(found) > 1:
                raise ReadmeError(f"the heading \"{name}\" appears {len(found)} times")
            if not found:
                raise ReadmeError(f"no section headed \"{name}\"")
            start, end = found[0]
            out += ["", ""] + to_text(for_text(lines[start:end], start + 1))
    except ReadmeError as error:
        raise ReadmeError(f"{readme}: {error}") from None
    too_long("README.txt", out)
    return out


def too_long(name, lines):
    """Fails on the first line wider than the text files may be."""
    for number, line in enumerate(lines, 1):
        if len(line) > WIDTH:
            raise ReadmeError(f"{name} line {number} is {len(line)} characters long, "
                              f"more than {WIDTH}: {line!r}")


def write_crlf(path, lines):
    """Writes the lines with Windows line endings; UTF-8 with a byte-order mark
    unless they are plain ASCII."""
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    text = "\n".join(lines) + "\n"
    encoding = "ascii" if text.isascii() else "utf-8-sig"
    with open(path, "w", encoding=encoding, newline="\r\n") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--readme", required=True)
    parser.add_argument("--out-readme", required=True)
    parser.add_argument("--title", required=True)
    parser.add_argument("--section", action="append", default=[], dest="sections")
    parser.add_argument("--replace", nargs=2, action="append", default=[],
                        metavar=("OLD", "NEW"))
    parser.add_argument("--copy", nargs=2, action="append", default=[],
                        metavar=("SOURCE", "DEST"))
    args = parser.parse_args()
    try:
        write_crlf(args.out_readme,
                   readme_text(args.readme, args.title, args.sections, args.replace))
        for source, dest in args.copy:
            with open(source, encoding="utf-8-sig") as f:
                lines = f.read().splitlines()
            too_long(source, lines)
            write_crlf(dest, lines)
    except (ReadmeError, OSError) as error:
        print(f"release_texts.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
