#!/usr/bin/env python3
"""Builds a grammar with GNU make or Ninja from sources with awkward names and
checks that the tool reads the dependency file as pvx2abnf meant it.

Usage: depfile_tools.py --binary PATH --tool make|ninja --scratch FOLDER

Each source name holds characters that make or Ninja treat specially (blanks,
'#', '$', ':', a backslash, brackets, non-ASCII bytes ...). For every one of
them the build must do nothing when nothing changed, make the grammar again
when that file changed, and go on when a directive file listed in the
dependency file is deleted. Prints "SKIPPED: ..." when the tool is missing.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

# Libraries whose names the dependency file must carry through escaping.
LIBRARIES = [
    "lib #1 $x.pvx",
    "c:drive.pvx",
    ":lead colon.pvx",
    "#hash.pvx",
    " lead blank.pvx",
    "back\\slash.pvx",
    "back\\ blank.pvx",
    "dollars$$.pvx",
    "paren(s).pvx",
    "open[bracket.pvx",
    "{brace,comma}!+@.pvx",
    "caf\u00e9.pvx",
    "sub dir/lib.pvx",
]
# Libraries that come with a directive file, deleted in the last step.
WITH_DIRECTIVES = ["lib #1 $x.pvx", "c:drive.pvx"]

MAIN = "pavex module shop;\nstruct Order { int<1..9> id; };\n"


def library(i):
    return "pavex module lib%d;\nbool Flag%d;\n" % (i, i)


class Build:
    def __init__(self, tool, folder, binary, mode):
        self.tool = tool
        self.folder = folder
        self.binary = binary
        self.mode = mode

    def write_build_file(self):
        if self.tool == "make":
            with open(os.path.join(self.folder, "Makefile"), "w") as f:
                f.write("grammar.abnf: args\n"
                        "\t'%s' --exit-code --depfile=$@.d @args $@\n"
                        ".DELETE_ON_ERROR:\n"
                        "-include grammar.abnf.d\n" % self.binary)
        else:
            with open(os.path.join(self.folder, "build.ninja"), "w") as f:
                f.write("rule pvx\n"
                        "  command = '%s' --exit-code --depfile=$out.d @args $out\n"
                        "  depfile = $out.d\n" % self.binary.replace("$", "$$"))
                if self.mode == "deps":
                    f.write("  deps = gcc\n")
                f.write("build grammar.abnf: pvx args\n")

    def run(self, *extra):
        command = [self.tool] + list(extra)
        if self.tool == "ninja":
            command += ["-d", "explain"]
        proc = subprocess.run(command, cwd=self.folder, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def up_to_date(self):
        """Whether the tool sees nothing to do (it runs nothing either way)."""
        if self.tool == "make":
            code, out = self.run("-q")
            if code == 2:
                raise AssertionError("make -q failed:\n" + out)
            return code == 0
        code, out = self.run("-n")
        if code != 0:
            raise AssertionError("ninja -n failed:\n" + out)
        return "no work to do" in out


def check(tool, binary, scratch, mode):
    folder = os.path.join(scratch, "%s-%s" % (tool, mode))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "sub dir"))
    with open(os.path.join(folder, "in.pvx"), "w") as f:
        f.write(MAIN)
    for i, name in enumerate(LIBRARIES):
        with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
            f.write(library(i))
    for name in WITH_DIRECTIVES:
        with open(os.path.join(folder, name + "cfg"), "w", encoding="utf-8") as f:
            f.write("# nothing to set\n")
    with open(os.path.join(folder, "args"), "w", encoding="utf-8") as f:
        f.write("in.pvx\n")
        for name in LIBRARIES:
            f.write("+\n%s\n" % name)
    build = Build(tool, folder, binary, mode)
    build.write_build_file()
    grammar = os.path.join(folder, "grammar.abnf")
    problems = []

    def build_now(step):
        code, out = build.run()
        if code != 0:
            problems.append("%s: the build failed:\n%s" % (step, out))
            return False
        return True

    # Everything is a minute old, so that a change made now is newer.
    def age_all():
        t = time.time() - 60
        for root, _, files in os.walk(folder):
            for name in files:
                os.utime(os.path.join(root, name), (t, t))

    if not build_now("first build"):
        return problems
    age_all()
    if not build.up_to_date():
        problems.append("a build with nothing changed is not up to date:\n" + build.run("-n")[1])
        return problems

    changed = ["in.pvx"] + LIBRARIES + [n + "cfg" for n in WITH_DIRECTIVES]
    for name in changed:
        os.utime(os.path.join(folder, name))  # now: newer than the grammar
        if build.up_to_date():
            problems.append("a change of %r is not seen" % name)
        elif build_now("after a change of %r" % name):
            age_all()
            if not build.up_to_date():
                problems.append("after a change of %r the build stays out of date" % name)
        age_all()

    # A directive file that goes away: the tool goes on and makes the
    # grammar again (make through the empty rule of the dependency file).
    for name in WITH_DIRECTIVES:
        os.remove(os.path.join(folder, name + "cfg"))
        before = os.stat(grammar).st_mtime_ns
        if build_now("after %rcfg was deleted" % name) and os.stat(grammar).st_mtime_ns == before:
            problems.append("the grammar was not made again after %rcfg was deleted" % name)
        age_all()
        if not build.up_to_date():
            problems.append("after %rcfg was deleted the build stays out of date" % name)
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--tool", choices=("make", "ninja"), required=True)
    ap.add_argument("--scratch", required=True)
    args = ap.parse_args()
    if shutil.which(args.tool) is None:
        print("SKIPPED: %s is not installed" % args.tool)
        return 0
    binary = os.path.abspath(args.binary)
    # Ninja reads a dependency file each time (depfile) or keeps it in its
    # log (deps = gcc, as CMake asks for).
    modes = ["depfile"] if args.tool == "make" else ["depfile", "deps"]
    failed = False
    for mode in modes:
        try:
            problems = check(args.tool, binary, args.scratch, mode)
        except AssertionError as e:
            problems = [str(e)]
        for p in problems:
            print("%s (%s): %s" % (args.tool, mode, p))
        failed = failed or bool(problems)
        print("%s (%s): %s" % (args.tool, mode, "FAILED" if problems else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
