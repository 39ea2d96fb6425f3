#!/usr/bin/env python3
"""An editor jumps to each error: Vim, headless and with its default
errorformat, reads the gcc form of a run over a file of three modules with
leading text, and its cursor stands on the line and column of each error in
turn (:cfirst, :cnext).

Usage: editor_vim.py --binary PATH --scratch FOLDER
"""
import argparse
import os
import shutil
import subprocess
import sys

SOURCE = """Weather station messages.

The translator skips this text: the definitions begin after the marker.

pavex*/
pavex module w.units;

struct Celsius {
    int<-90..60> degrees [1..];
};
endmodule;

pavex module w.station;
import w.units as u;

struct Station {
    ascii<1..20> name as nm [?];
    u::Celsius now;
};
endmodule;

pavex module w.report;

struct Report {
    int count;
};
"""

# What each error concerns: the line as it stands and the text the column
# points at, in the order of the run.
EXPECTED = [
    ("    int<-90..60> degrees [1..];", "];"),
    ("    ascii<1..20> name as nm [?];", "[?]"),
    ("    int count;", "count"),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--scratch", required=True)
    args = parser.parse_args()
    vim = shutil.which("vim")
    if vim is None:
        print("SKIPPED: vim is not installed")
        return 0
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(os.path.join(folder, "weather.pvx"), "w") as f:
        f.write(SOURCE)
    lines = SOURCE.split("\n")
    expected = [(lines.index(text) + 1, text.index(target) + 1) for text, target in EXPECTED]
    failures = 0
    # Only the diagnostics (-q), walked with :cfirst and :cnext; and the
    # whole console, banner and summary included, where :cfile itself
    # jumps to the first error (Vim's :cfirst would select the banner's
    # line, which names no file).
    for options, first in ((["-q"], "cfirst"), ([], None)):
        run = subprocess.run([os.path.abspath(args.binary), "--error-format=gcc"] + options +
                             ["weather.pvx", "weather.abnf"], cwd=folder, capture_output=True)
        with open(os.path.join(folder, "errors.txt"), "wb") as f:
            f.write(run.stdout)
        got = cursor_lines(vim, folder, first, len(expected))
        if run.returncode != 1 or got != expected:
            print("status %d, diagnostics:\n%s" % (run.returncode, run.stdout.decode()))
            print("expected cursor positions %s, got %s" % (expected, got))
            failures += 1
        else:
            print("ok %s: the cursor stood at %s" % (" ".join(options) or "(banner)", got))
    return 1 if failures else 0


def cursor_lines(vim, folder, first, count):
    """Vim reads errors.txt; each jump writes the cursor's line and column."""
    cursor_file = os.path.join(folder, "cursor.txt")
    if os.path.exists(cursor_file):
        os.remove(cursor_file)
    record = "call writefile([line('.') . ':' . col('.')], 'cursor.txt', 'a')"
    commands = ["set nomore", "cfile errors.txt"]
    if first:
        commands.append(first)
    commands.append(record)
    for _ in range(count - 1):
        commands += ["silent! cnext", record]
    commands.append("qall!")
    with open(os.path.join(folder, "jumps.vim"), "w") as f:
        f.write("\n".join(commands) + "\n")
    subprocess.run([vim, "-Nu", "NONE", "-i", "NONE", "-es", "-S", "jumps.vim"], cwd=folder,
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    got = []
    if os.path.exists(cursor_file):
        with open(cursor_file) as f:
            got = [tuple(int(n) for n in line.split(":")) for line in f.read().split()]
    return got


if __name__ == "__main__":
    sys.exit(main())
