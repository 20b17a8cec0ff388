#!/usr/bin/env python3
"""The host simulator's live view in real terminals of a given width, made by
tmux: the panel must fit the width, and its redraws must leave no parts of
earlier pictures behind, which they do when a line is wider than the terminal
and wraps. Where it cannot fit, hostsim says so and prints the log instead.

Run: python3 terminal_test.py HOSTSIM
Natively only: tmux is a Unix terminal.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HOSTSIM = None

# Text on both lines, a blinking segment and a turning ring, so that the waits
# redraw the panel again and again.
SCRIPT = r"""init 16 2 message
pos 1 1
write "Hello, world"
pos 1 2
write "Caf\x96 21\x85C"
fan blink 7
fan on 51
wait 1500
contrast 200
wait 1000
done
"""


def run_in_terminal(width, options):
    """Runs the script in a terminal `width` columns wide: what the terminal
    shows, wrapped lines joined, and everything hostsim wrote to it."""
    with tempfile.TemporaryDirectory() as tmp:
        sock = os.path.join(tmp, "tmux.sock")
        script = os.path.join(tmp, "script.vxs")
        raw = os.path.join(tmp, "raw")
        with open(script, "w", encoding="ascii") as f:
            f.write(SCRIPT)
        tmux = ["tmux", "-u", "-S", sock]
        command = (f"tmux -S '{sock}' wait-for go; '{HOSTSIM}' {' '.join(options)} '{script}'; "
                   f"echo \"status $?\"; tmux -S '{sock}' wait-for -S done; sleep 600")
        env = dict(os.environ, LC_ALL="C.UTF-8")
        try:
            subprocess.run(tmux + ["new-session", "-d", "-x", str(width), "-y", "60", command],
                           check=True, env=env)
            subprocess.run(tmux + ["pipe-pane", "-o", f"cat >'{raw}'"], check=True)
            subprocess.run(tmux + ["wait-for", "-S", "go"], check=True)
            subprocess.run(tmux + ["wait-for", "done"], check=True, timeout=60)
            screen = subprocess.run(tmux + ["capture-pane", "-p", "-J", "-S", "-"], check=True,
                                    stdout=subprocess.PIPE, text=True).stdout
        finally:
            subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL, check=False)
        with open(raw, encoding="utf-8", errors="replace") as f:
            written = f.read()
    return screen.rstrip("\n").split("\n"), written


def picture_problems(lines, frame_width):
    """Every picture whole and as wide as wanted, and at most one after each
    step's header: a redraw that goes back too few lines leaves more."""
    frames, rows, inside = 0, 0, False
    for line in lines:
        if re.match(r"\[\d+\]", line):
            if frames > 1:
                return f"the step before {line!r} left {frames} pictures"
            frames = 0
        elif line.startswith("┌"):
            frames, rows, inside = frames + 1, 0, True
            if len(line) != frame_width:
                return f"a frame {len(line)} wide, not {frame_width}"
        elif line.startswith("└"):
            if rows != 8:
                return f"a picture of {rows} rows, not 8"
            inside = False
        elif line.startswith("│"):
            if not inside:
                return f"a picture row outside a frame: {line!r}"
            rows += 1
    return None if frames <= 1 else f"the last step left {frames} pictures"


class LiveView(unittest.TestCase):
    def test_the_panel_fits_and_redraws_in_place(self):
        for width, frame in [(120, 98), (80, 50)]:
            with self.subTest(width=width):
                lines, written = run_in_terminal(width, [])
                self.assertIn("status 0", lines)
                for line in lines:
                    self.assertLessEqual(len(line), width, f"wraps: {line!r}")
                self.assertIsNone(picture_problems(lines, frame), "\n".join(lines))
                self.assertRegex(written, r"\x1b\[\d+A", "the panel was never redrawn in place")
                self.assertTrue(any("showing text   contrast 25 of 31 (Lumidor 200-207)" in line
                                    for line in lines), "\n".join(lines))

    def test_too_narrow_a_terminal_gets_a_note_and_the_log(self):
        for width, options, needs in [(50, [], 63), (80, ["--ascii"], 98)]:
            with self.subTest(width=width, options=options):
                lines, _ = run_in_terminal(width, options)
                self.assertIn("status 0", lines)
                self.assertTrue(lines[0].startswith(
                    f"hostsim: the terminal is {width} columns wide and the panel needs {needs}"),
                    lines[0])
                self.assertTrue(any("call iMONVFD_Init" in line for line in lines))
                self.assertFalse([line for line in lines if line[:1] in ("┌", "+")])


if __name__ == "__main__":
    HOSTSIM = sys.argv.pop(1)
    if shutil.which("tmux") is None:
        sys.exit("terminal_test: tmux is not installed (scripts/setup.sh installs it)")
    unittest.main()
