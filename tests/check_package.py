#!/usr/bin/env python3
"""Makes the release package from the built files and checks the zip.

Runs CPack with the build's configuration into a directory of its own, then
checks:
- that the zip holds exactly the files named on the command line;
- that SHA256SUMS lists every other file once with its right SHA-256 in the
  format of `sha256sum`;
- that every text file (all but the DLLs and pictures, SHA256SUMS too) reads
  in older Notepad: Windows line endings only, plain ASCII or UTF-8 with its
  byte-order mark, and lines of at most 78 characters, but for SHA256SUMS,
  whose lines, a checksum of 64 digits and a path, are as long as the format
  of `sha256sum -c` makes them;
- that README.txt is plain ASCII with no Markdown syntax, the real version, no
  Linux paths or commands, and every fixed text of the plug-in (display name,
  messages) taken from the plug-in's source;
- that the pictures are PNG files;
- that each DLL's version resource, read back from the file with windres,
  has the project's version, the copyright line, its own file name and the
  description given, for the DLLs in the zip (--dll) and for built DLLs
  outside it (--built-dll).

Usage: check_package.py --cpack CPACK --config CPackConfig.cmake --dir DIR
                        --zip NAME.zip --version VERSION --texts texts.cpp
                        --windres WINDRES --copyright TEXT
                        [--dll ENTRY DESCRIPTION]... [--built-dll PATH DESCRIPTION]...
                        FILE...
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import zipfile

SUM_LINE = re.compile(r"([0-9a-f]{64})  (\S.*)")
NOT_TEXT = (".dll", ".png")
TEXT_WIDTH = 78
BOM = b"\xef\xbb\xbf"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# What must not be in README.txt, with what it is.
MARKDOWN = [
    (re.compile(r"`"), "a backtick"),
    (re.compile(r"\]\(|!\["), "a Markdown link or picture"),
    (re.compile(r"<!--|-->"), "an HTML comment"),
    (re.compile(r"\*\*|__\w"), "Markdown emphasis"),
    (re.compile(r"^\s*#{1,6} "), "a Markdown heading"),
    (re.compile(r"^\s*\||\|\s*:?-{3}"), "a Markdown table"),
]
LINUX = [
    (re.compile(r"(?<![\w\\:.])/(?:usr|etc|dev|home|tmp|proc|opt|var|bin|lib|work)\b"),
     "an absolute Linux path"),
    (re.compile(r"~/|\$HOME\b"), "a path in a Linux home directory"),
    (re.compile(r"\b(?:build|scripts|cmake|tools|tests|emulator|docs)/"), "a path in the source tree"),
    (re.compile(r"[\w.-]/[\w.-]+\.(?:dll|DLL|txt|so|exe|sh|md|zip|png)\b"),
     "a file path with forward slashes"),
    (re.compile(r"\w\.so\b|\bsha256sum\b|\bsudo\b|\bapt(?:-get)?\b|\bwine\s"),
     "a Linux file or command"),
    (re.compile(r"VESTRIX_LIBRARY_DIR|VESTRIX_PANEL_DEVICE"), "a variable of the Linux build"),
]
FIXED_TEXT = re.compile(r"const char (DLLProjectName|kMessage\w+)\[\] =\s*((?:\"[^\"]*\"\s*)+);")


def fixed_texts(source):
    """The plug-in's display name and messages, from its source."""
    with open(source, encoding="utf-8") as f:
        code = f.read()
    texts = {}
    for name, literals in FIXED_TEXT.findall(code):
        texts[name] = "".join(re.findall(r"\"([^\"]*)\"", literals))
    return texts


def text_problems(name, data):
    """What in a text file of the package older Notepad would show wrongly, or
    too wide for its window (SHA256SUMS aside, which programs read)."""
    problems = []
    if data.count(b"\n") != data.count(b"\r\n") or not data.endswith(b"\r\n"):
        problems.append(f"{name}: not all lines end in CR LF")
    try:
        text = data[len(BOM):].decode("utf-8") if data.startswith(BOM) else data.decode("ascii")
    except UnicodeDecodeError:
        problems.append(f"{name}: neither plain ASCII nor UTF-8 with a byte-order mark")
        text = data.decode("utf-8", errors="replace")
    for number, line in enumerate(text.split("\r\n"), 1):
        if len(line) > TEXT_WIDTH and name != "SHA256SUMS":
            problems.append(f"{name}:{number}: {len(line)} characters, more than {TEXT_WIDTH}")
    return problems


def readme_problems(data, version, texts):
    """Everything in README.txt that a Windows user in Notepad should not meet."""
    problems = []
    if any(byte >= 0x80 for byte in data):
        problems.append("README.txt: not plain ASCII")
    text = data.decode("ascii", errors="replace").replace("\r\n", "\n")
    lines = text.split("\n")
    for number, line in enumerate(lines, 1):
        where = f"README.txt:{number}"
        for pattern, what in MARKDOWN + LINUX:
            if pattern.search(line):
                problems.append(f"{where}: {what}: {line.strip()!r}")
    if lines[0] != f"Vestrix {version}":
        problems.append(f"README.txt: the first line is {lines[0]!r}, not 'Vestrix {version}'")
    if f"Vestrix-{version}-win32.zip" not in text or "VERSION" in text:
        problems.append(f"README.txt: the package is not named Vestrix-{version}-win32.zip")
    flowing = " ".join(text.split())
    if not texts:
        problems.append("no fixed texts found in the plug-in's source")
    for name, fixed in sorted(texts.items()):
        if " ".join(fixed.split()) not in flowing:
            problems.append(f"README.txt: lacks {name}, {fixed.strip()!r}")
    return problems


def version_info(windres, path):
    """The string values of the file's version resource, as windres reads them."""
    made = subprocess.run([windres, "-i", path, "-O", "rc"], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, check=False)
    values = dict(re.findall(r'VALUE "(\w+)", "((?:[^"]|"")*)"', made.stdout))
    return {key: value.replace('""', '"') for key, value in values.items()}


def version_problems(windres, path, name, description, version, copyright_line):
    """What is wrong with the version resource of the DLL at `path`."""
    values = version_info(windres, path)
    if not values:
        return [f"{name}: no version resource"]
    wanted = {
        "FileDescription": description,
        "FileVersion": version,
        "ProductVersion": version,
        "LegalCopyright": copyright_line,
        "OriginalFilename": os.path.basename(name),
        "ProductName": "Vestrix",
    }
    return [f"{name}: {key} is {values.get(key)!r}, wanted {value!r}"
            for key, value in wanted.items() if values.get(key) != value]


def problems_in(archive, expected):
    """Everything wrong with the entries, checksums and line endings of the zip."""
    problems = []
    names = [info.filename for info in archive.infolist() if not info.is_dir()]
    if sorted(names) != sorted(expected):
        problems.append(f"entries {sorted(names)}, wanted {sorted(expected)}")
    if "SHA256SUMS" not in names:
        return problems + ["no SHA256SUMS"]

    listed = {}
    for number, line in enumerate(archive.read("SHA256SUMS").decode().split("\r\n"), 1):
        if not line:
            continue
        match = SUM_LINE.fullmatch(line)
        if not match:
            problems.append(f"SHA256SUMS:{number}: not a sha256sum line: {line!r}")
        elif match.group(2) in listed:
            problems.append(f"SHA256SUMS:{number}: {match.group(2)} listed twice")
        else:
            listed[match.group(2)] = match.group(1)
    summed = sorted(name for name in names if name != "SHA256SUMS")
    if sorted(listed) != summed:
        problems.append(f"SHA256SUMS lists {sorted(listed)}, the zip holds {summed}")
    for name, digest in listed.items():
        if name in names and hashlib.sha256(archive.read(name)).hexdigest() != digest:
            problems.append(f"SHA256SUMS: wrong checksum for {name}")

    for name in names:
        data = archive.read(name)
        if name.lower().endswith(".png") and not data.startswith(PNG_SIGNATURE):
            problems.append(f"{name}: not a PNG file")
        elif not name.lower().endswith(NOT_TEXT):
            problems += text_problems(name, data)
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--texts", required=True)
    parser.add_argument("--windres", required=True)
    parser.add_argument("--copyright", required=True)
    parser.add_argument("--dll", nargs=2, action="append", default=[],
                        metavar=("ENTRY", "DESCRIPTION"))
    parser.add_argument("--built-dll", nargs=2, action="append", default=[],
                        metavar=("PATH", "DESCRIPTION"))
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    shutil.rmtree(args.dir, ignore_errors=True)
    made = subprocess.run([args.cpack, "--config", args.config, "-B", args.dir],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          check=False)
    print(made.stdout, end="")
    if made.returncode != 0:
        print(f"cpack failed with status {made.returncode}")
        return 1
    unpacked = os.path.join(args.dir, "unpacked")
    with zipfile.ZipFile(f"{args.dir}/{args.zip}") as archive:
        problems = problems_in(archive, args.files)
        for info in archive.infolist():
            print(f"{info.file_size:10d}  {info.filename}")
        names = archive.namelist()
        if "README.txt" in names:
            problems += readme_problems(archive.read("README.txt"), args.version,
                                        fixed_texts(args.texts))
        archive.extractall(unpacked)
    for entry, description in args.dll:
        if entry not in names:
            problems.append(f"{entry}: not in the zip")
            continue
        problems += version_problems(args.windres, os.path.join(unpacked, entry), entry,
                                     description, args.version, args.copyright)
    for path, description in args.built_dll:
        problems += version_problems(args.windres, path, path, description, args.version,
                                     args.copyright)
    for problem in problems:
        print(f"{args.zip}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
