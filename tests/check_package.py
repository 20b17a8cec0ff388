#!/usr/bin/env python3
"""Makes the release package from the built files and checks the zip.

Runs CPack with the build's configuration into a directory of its own, then
checks that the zip holds exactly the files named on the command line, that
SHA256SUMS lists every other file once with its right SHA-256 in the format
of `sha256sum`, and that the text files have Windows line endings only.

Usage: check_package.py --cpack CPACK --config CPackConfig.cmake --dir DIR
                        --zip NAME.zip FILE...
"""

import argparse
import hashlib
import re
import shutil
import subprocess
import sys
import zipfile

SUM_LINE = re.compile(r"([0-9a-f]{64})  (\S.*)")
TEXT_FILES = ("LICENSE", ".txt")


def problems_in(archive, expected):
    """Everything wrong with the zip, as a list of messages."""
    problems = []
    names = [info.filename for info in archive.infolist() if not info.is_dir()]
    if sorted(names) != sorted(expected):
        problems.append(f"entries {sorted(names)}, wanted {sorted(expected)}")
    if "SHA256SUMS" not in names:
        return problems + ["no SHA256SUMS"]

    listed = {}
    for number, line in enumerate(archive.read("SHA256SUMS").decode().split("\n"), 1):
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
        if name.endswith(TEXT_FILES):
            data = archive.read(name)
            if data.count(b"\n") != data.count(b"\r\n") or not data.endswith(b"\r\n"):
                problems.append(f"{name}: not all lines end in CR LF")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--zip", required=True)
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
    with zipfile.ZipFile(f"{args.dir}/{args.zip}") as archive:
        problems = problems_in(archive, args.files)
        for info in archive.infolist():
            print(f"{info.file_size:10d}  {info.filename}")
    for problem in problems:
        print(f"{args.zip}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
