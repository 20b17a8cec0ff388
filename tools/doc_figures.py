#!/usr/bin/env python3
"""Writes the figures of a run into a Markdown page, with when and on what.

The page holds the figures between two HTML comments that this tool writes
and finds again:

  <!-- figures NAME: written by SCRIPT, do not edit -->
  ...
  <!-- end of figures NAME -->

and the tool replaces what lies between them with a table of the runs (their
last lines, or why one did not run) and a line saying when, at which commit
and on what machine they were measured. A page without the markers, or with
them twice, fails the run and stays as it was.

Usage:
  python3 tools/doc_figures.py --page docs/RELIABILITY.md --name soak \
      --by scripts/soak.sh --row "RUN" "LAST LINE" [--not-run "RUN" "WHY"]... [--wine]
"""

import argparse
import datetime
import os
import platform
import re
import subprocess
import sys
import textwrap


class PageError(Exception):
    pass


def output_of(command):
    """The first line a command prints, or None when it cannot run."""
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True, check=False, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    lines = done.stdout.strip().splitlines()
    return lines[0] if done.returncode == 0 and lines else None


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def debian_version():
    try:
        with open("/etc/debian_version", encoding="utf-8") as f:
            return "Debian " + f.read().strip()
    except OSError:
        return None


def commit_of(page):
    """The checked-out commit, marked -dirty when files other than the page
    being written differ from it: an earlier block of the same run has
    already rewritten that page, which says nothing of the code measured."""
    commit = output_of(["git", "describe", "--always"])
    if not commit:
        return "an unknown commit"
    changed = output_of(["git", "status", "--porcelain", "--untracked-files=no",
                         "--", ".", f":(exclude){page}"])
    return commit + "-dirty" if changed else commit


def machine_line(wine, page):
    """When, at which commit and on what the figures were measured."""
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    commit = commit_of(page)
    parts = [f"{cpu_model()}, {os.cpu_count()} cores",
             f"Linux {platform.release()} ({platform.machine()})"]
    distribution = debian_version()
    if distribution:
        parts.append(distribution)
    if wine:
        version = output_of(["/usr/lib/wine/wine64", "--version"]) or output_of(["wine", "--version"])
        parts.append(version or "Wine of unknown version")
    load = " ".join(f"{value:.2f}" for value in os.getloadavg())
    return (f"Measured {now} at commit `{commit}` on {'; '.join(parts)}; "
            f"load average at the end {load}.")


def cell(text):
    """A table cell: one line (a Windows program's last line ends in a carriage
    return), its bars escaped."""
    return " ".join(text.split()).replace("|", "\\|")


def block(rows, not_run, wine, page):
    lines = ["| Run | Last line |", "|---|---|"]
    lines += [f"| {cell(run)} | `{cell(last)}` |" for run, last in rows]
    lines += [f"| {cell(run)} | not run: {cell(why)} |" for run, why in not_run]
    return lines + [""] + textwrap.wrap(machine_line(wine, page), width=80, break_on_hyphens=False)


def rewrite(page, name, by, lines):
    with open(page, encoding="utf-8") as f:
        text = f.read()
    start = re.compile(rf"^<!-- figures {re.escape(name)}:.*-->$", re.MULTILINE)
    end = f"<!-- end of figures {name} -->"
    starts = list(start.finditer(text))
    if len(starts) != 1 or text.count(end) != 1 or text.index(end) < starts[0].end():
        raise PageError(f"{page}: wanted one pair of the markers '<!-- figures {name}: ... -->' "
                        f"and '{end}'")
    opening = f"<!-- figures {name}: written by {by}, do not edit -->"
    new = (text[:starts[0].start()] + opening + "\n" + "\n".join(lines) + "\n"
           + text[text.index(end):])
    with open(page, "w", encoding="utf-8") as f:
        f.write(new)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--page", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--by", required=True)
    parser.add_argument("--row", nargs=2, action="append", default=[], metavar=("RUN", "LINE"))
    parser.add_argument("--not-run", nargs=2, action="append", default=[],
                        metavar=("RUN", "WHY"))
    parser.add_argument("--wine", action="store_true", help="name the Wine version too")
    args = parser.parse_args()
    try:
        if not args.row:
            raise PageError("no figures given (--row)")
        rewrite(args.page, args.name, args.by, block(args.row, args.not_run, args.wine, args.page))
    except (PageError, OSError) as error:
        print(f"doc_figures.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
