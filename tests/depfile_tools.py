#!/usr/bin/env python3
"""Real make and Ninja builds of a grammar whose sources have awkward names.

Usage: depfile_tools.py --binary PATH --tool make|ninja --scratch FOLDER

The names hold what make or Ninja read specially (blanks, '#', '$', ':', backslashes, brackets,
non-ASCII bytes ...). The build must do nothing when nothing changed, make the grammar again
when any one source or directive file changed, and go on when a listed directive file is
deleted. Prints "SKIPPED: ..." when the tool is missing.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

LIBRARIES = ["lib #1 $x.pvx", "c:drive.pvx", ":lead colon.pvx", "#hash.pvx", " lead blank.pvx",
             "back\\slash.pvx", "back\\ blank.pvx", "dollars$$.pvx", "paren(s).pvx",
             "open[bracket.pvx", "{brace,comma}!+@.pvx", "caf\u00e9.pvx", "sub dir/lib.pvx"]
WITH_DIRECTIVES = ["lib #1 $x.pvx", "c:drive.pvx"]


def check(tool, binary, folder, deps):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "sub dir"))
    files = {"in.pvx": "pavex module shop;\nstruct Order { int<1..9> id; };\n",
             "args": "in.pvx\n" + "".join("+\n%s\n" % n for n in LIBRARIES)}
    for i, name in enumerate(LIBRARIES):
        files[name] = "pavex module lib%d;\nbool Flag%d;\n" % (i, i)
    for name in WITH_DIRECTIVES:
        files[name + "cfg"] = "# nothing to set\n"
    if tool == "make":
        files["Makefile"] = ("grammar.abnf: args\n\t'%s' --exit-code --depfile=$@.d @args $@\n"
                             ".DELETE_ON_ERROR:\n-include grammar.abnf.d\n" % binary)
    else:
        files["build.ninja"] = ("rule pvx\n  command = '%s' --exit-code --depfile=$out.d @args $out\n"
                                "  depfile = $out.d\n%sbuild grammar.abnf: pvx args\n" %
                                (binary.replace("$", "$$"), "  deps = gcc\n" if deps else ""))
    for name, text in files.items():
        with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
            f.write(text)

    def build(*extra):
        proc = subprocess.run([tool] + list(extra), cwd=folder, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=120)
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def up_to_date():
        code, out = build("-q") if tool == "make" else build("-n")
        if code not in (0, 1) or (tool == "ninja" and code != 0):
            raise AssertionError("%s cannot tell what to do:\n%s" % (tool, out))
        return code == 0 if tool == "make" else "no work to do" in out

    def age_all():
        # Everything a minute old, so that a change made now is newer.
        t = time.time() - 60
        for root, _, names in os.walk(folder):
            for name in names:
                os.utime(os.path.join(root, name), (t, t))

    problems = []
    code, out = build()
    if code != 0:
        return ["the first build failed:\n" + out]
    age_all()
    if not up_to_date():
        return ["a build with nothing changed is not up to date"]
    for name in ["in.pvx"] + LIBRARIES + [n + "cfg" for n in WITH_DIRECTIVES]:
        os.utime(os.path.join(folder, name))
        if up_to_date():
            problems.append("a change of %r is not seen" % name)
        code, out = build()
        age_all()
        if code != 0 or not up_to_date():
            problems.append("after a change of %r the build fails or stays out of date" % name)
    # A directive file that goes away: make goes on through its empty rule.
    for name in WITH_DIRECTIVES:
        os.remove(os.path.join(folder, name + "cfg"))
        code, out = build()
        age_all()
        if code != 0 or not up_to_date():
            problems.append("after %rcfg was deleted the build fails or stays out of date:\n%s" %
                            (name, out))
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
    failed = False
    # Ninja reads a dependency file each time, or keeps it in its log (deps = gcc, as CMake asks).
    for deps in [False] if args.tool == "make" else [False, True]:
        folder = os.path.join(os.path.abspath(args.scratch), "deps" if deps else "depfile")
        try:
            problems = check(args.tool, os.path.abspath(args.binary), folder, deps)
        except AssertionError as e:
            problems = [str(e)]
        for p in problems:
            print("FAILED: " + p)
        failed = failed or bool(problems)
    print("%s: %s" % (args.tool, "FAILED" if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
