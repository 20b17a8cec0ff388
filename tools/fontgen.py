#!/usr/bin/env python3
"""Builds the plug-in's two glyph tables from their picture files.

Reads text/fonts/small.txt (Font8x5) and text/fonts/large.txt (Font8x12),
checks them strictly and writes one C++ source file that defines both tables.
The font sheets under docs/ are drawn from the built tables by tools/fontsheet.cpp.

Picture file format:
  ; comment line (also allowed between glyphs); blank lines separate glyphs
  65 A                      <- header: decimal code 0..255, then a short name
  ......                    <- one line per pixel row, top first: '#' lit, '.' dark
  .###..

Small font glyphs are 8 rows x 6 columns drawn as they appear on the panel:
column 0 is the blank spacing column and row 7 the blank bottom row. Large font
glyphs are 12 rows x 8 columns; the leftmost column is bit 7 of the row byte,
which never reaches the panel (it shows bits 6..0).

Usage:
  python3 tools/fontgen.py --small text/fonts/small.txt --large text/fonts/large.txt \
      --out font_tables.cpp [--names glyph-names.js]
--names also writes the glyph names as a script, for the panel page (web/).
Exits non-zero with a file:line message at the first error found.
"""

import argparse
import json
import os
import re
import sys


class FontError(Exception):
    """A problem in a picture file, reported as file:line: message."""

    def __init__(self, path, line, message):
        super().__init__(f"{path}:{line}: {message}" if line else f"{path}: {message}")


class FontKind:
    """Geometry and repertoire rules of one of the two fonts."""

    def __init__(self, rows, cols, blank_codes):
        self.rows = rows
        self.cols = cols
        self.blank_codes = frozenset(blank_codes)


# Small font: 0, 32, 214 and 244..255 are blank; every other code names a
# character and must draw something.
SMALL = FontKind(8, 6, [0, 32, 214] + list(range(244, 256)))
# Large font: 0, the space and 255 are blank; everything else is drawn.
LARGE = FontKind(12, 8, [0, 32, 255])

HEADER_RE = re.compile(r"^(\d+)\s+(\S.*?)\s*$")
ROW_RE = re.compile(r"^[#.]+$")
# Names end up in C++ line comments: printable ASCII only, and no backslash,
# which would splice the next source line into the comment.
NAME_RE = re.compile(r"^[\x20-\x5b\x5d-\x7e]+$")


class Glyph:
    def __init__(self, code, name, line):
        self.code = code
        self.name = name
        self.line = line
        self.rows = []  # list of (line number, text)


def parse(path, kind):
    """Returns 256 glyphs indexed by code, each a list of rows of 0/1 ints."""
    try:
        with open(path, encoding="ascii") as f:
            lines = f.read().split("\n")
    except UnicodeDecodeError as e:
        raise FontError(path, 1, f"not plain ASCII ({e.reason})") from e
    except OSError as e:
        raise FontError(path, None, e.strerror) from e

    glyphs = {}
    current = None

    def finish(glyph):
        if len(glyph.rows) != kind.rows:
            raise FontError(
                path,
                glyph.line,
                f"glyph {glyph.code} ({glyph.name}) has {len(glyph.rows)} rows, "
                f"expected {kind.rows}",
            )

    for number, text in enumerate(lines, start=1):
        text = text.rstrip("\r")
        if text.startswith(";"):
            continue
        if not text.strip():
            if current is not None:
                finish(current)
                current = None
            continue
        if ROW_RE.match(text):
            if current is None:
                raise FontError(path, number, "pixel row outside a glyph (missing header line?)")
            if len(current.rows) == kind.rows:
                raise FontError(
                    path,
                    number,
                    f"glyph {current.code} ({current.name}) has more than {kind.rows} rows",
                )
            if len(text) != kind.cols:
                raise FontError(
                    path,
                    number,
                    f"glyph {current.code} row {len(current.rows)} has {len(text)} columns, "
                    f"expected {kind.cols}",
                )
            current.rows.append((number, text))
            continue
        header = HEADER_RE.match(text)
        if not header:
            if current is not None and set(text) - set("#."):
                raise FontError(
                    path, number, f"glyph {current.code}: only '#' and '.' may draw pixels"
                )
            raise FontError(path, number, f"expected a header line '<code> <name>', got {text!r}")
        if current is not None:
            finish(current)
        code = int(header.group(1))
        name = header.group(2)
        if code > 255:
            raise FontError(path, number, f"code {code} is out of range 0..255")
        if not NAME_RE.match(name):
            raise FontError(path, number, f"name {name!r} must be printable ASCII without '\\'")
        if code in glyphs:
            raise FontError(
                path, number, f"code {code} defined twice (first at line {glyphs[code].line})"
            )
        current = Glyph(code, name, number)
        glyphs[code] = current
    if current is not None:
        finish(current)

    missing = [c for c in range(256) if c not in glyphs]
    if missing:
        shown = ", ".join(str(c) for c in missing[:10]) + (" ..." if len(missing) > 10 else "")
        raise FontError(path, len(lines), f"{len(missing)} codes have no glyph: {shown}")

    for code in range(256):
        check_glyph(path, kind, glyphs[code])
    return [glyphs[c] for c in range(256)]


def bits(glyph):
    return [[1 if ch == "#" else 0 for ch in text] for _, text in glyph.rows]


def check_glyph(path, kind, glyph):
    pixels = bits(glyph)
    lit = any(any(row) for row in pixels)
    if glyph.code in kind.blank_codes and lit:
        raise FontError(path, glyph.line, f"glyph {glyph.code} must be blank")
    if glyph.code not in kind.blank_codes and not lit:
        raise FontError(path, glyph.line, f"glyph {glyph.code} ({glyph.name}) draws nothing")
    if kind is SMALL:
        for r, (number, text) in enumerate(glyph.rows):
            if text[0] != ".":
                raise FontError(
                    path, number, f"glyph {glyph.code}: column 0 is the spacing column, keep it '.'"
                )
            if r == kind.rows - 1 and "#" in text:
                raise FontError(
                    path, number, f"glyph {glyph.code}: row 7 is the spacing row, keep it blank"
                )


def small_bytes(glyph):
    """Six column bytes, leftmost first; bit r is pixel row r."""
    pixels = bits(glyph)
    out = []
    for c in range(SMALL.cols):
        value = 0
        for r in range(SMALL.rows):
            value |= pixels[r][c] << r
        out.append(value)
    return out


def large_bytes(glyph):
    """Twelve row bytes, top first, bit 7 the leftmost column, then the unused 0."""
    out = []
    for row in bits(glyph):
        value = 0
        for c, bit in enumerate(row):
            value |= bit << (7 - c)
        out.append(value)
    out.append(0)
    return out


def emit_table(declaration, glyphs, to_bytes):
    lines = [declaration + " = {"]
    for glyph in glyphs:
        values = ", ".join(f"0x{b:02x}" for b in to_bytes(glyph))
        lines.append(f"    {values},  // {glyph.code} {glyph.name}")
    lines.append("};")
    return lines


def render_cpp(small, large, small_path, large_path):
    out = [
        f"// Generated from {small_path} and {large_path} by tools/fontgen.py; do not edit.",
        "// Change the glyph pictures in those files instead; the build regenerates this file.",
        "// Where the glyphs come from and under which licences: text/fonts/README.md.",
        "// clang-format off",
        '#include "text/fonts.h"',
        "",
        "namespace text {",
        "",
        "// Writable: custom characters overwrite entries at run time.",
    ]
    out += emit_table("std::uint8_t Font8x5[kFont8x5Size]", small, small_bytes)
    out.append("")
    out += emit_table("const std::uint8_t Font8x12[kFont8x12Size]", large, large_bytes)
    out += ["", "}  // namespace text", "// clang-format on", ""]
    return "\n".join(out)


def render_names(small, large):
    """The glyph names as a script for the panel page's glyph chooser."""
    tables = {"small": [g.name for g in small], "large": [g.name for g in large]}
    return (
        "// Generated from the font picture files by tools/fontgen.py; do not edit.\n"
        f"const GLYPH_NAMES = {json.dumps(tables, separators=(',', ':'))};\n"
    )


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--small", required=True, help="small font picture file")
    parser.add_argument("--large", required=True, help="large font picture file")
    parser.add_argument("--out", help="C++ source file to write")
    parser.add_argument("--names", help="script of the glyph names to write, for the panel page")
    args = parser.parse_args(argv)
    if not args.out and not args.names:
        parser.error("give --out, --names or both")

    try:
        small = parse(args.small, SMALL)
        large = parse(args.large, LARGE)
    except FontError as e:
        print(f"fontgen: {e}", file=sys.stderr)
        return 1

    outputs = []
    if args.out:
        outputs.append(
            (args.out, render_cpp(small, large, display_path(args.small), display_path(args.large)))
        )
    if args.names:
        outputs.append((args.names, render_names(small, large)))
    try:
        for path, text in outputs:
            with open(path, "w", encoding="ascii", newline="\n") as f:
                f.write(text)
    except OSError as e:
        print(f"fontgen: cannot write {e.filename}: {e.strerror}", file=sys.stderr)
        return 1
    return 0


def display_path(path):
    """The path as the header names it: relative to the repository when inside it."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    full = os.path.abspath(path)
    if os.path.commonpath([root, full]) == root:
        return os.path.relpath(full, root).replace(os.sep, "/")
    return path


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
