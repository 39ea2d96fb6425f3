#!/usr/bin/env python3
"""pvx2abnf under a limit of its address space (ulimit -v).

Usage: memory_limit.py --binary PATH --scratch FOLDER [--sanitized]

1. A small schema is translated under a limit of 64 MB, and under every
   limit from 16 MB up, as without a limit.
2. A large schema under limits from 64 MB up either gives the complete
   grammar or fails cleanly: "FATAL error: Unable to allocate memory" as
   the last line, status 1, the old grammar untouched and no temporary.
   At 64 MB it fails; once it fits, a larger limit does not make it fail.
A sanitized build reserves far more address space than any such limit
allows; it prints "SKIPPED: ...".
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OLD = b"the old grammar\n"
MB = 1 << 20
FATAL = b"FATAL error: Unable to allocate memory\n"


def limited_to(megabytes):
    def set_limit():
        resource.setrlimit(resource.RLIMIT_AS, (megabytes * MB, megabytes * MB))
    return set_limit


def run(binary, folder, source, limit=None):
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    return subprocess.run([binary, source, "out.abnf"], cwd=folder, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                          preexec_fn=limited_to(limit) if limit else None)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--sanitized", action="store_true")
    args = ap.parse_args()
    if args.sanitized:
        print("SKIPPED: a sanitized build cannot run under an address space limit")
        return 0
    binary = os.path.abspath(args.binary)
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    out = os.path.join(folder, "out.abnf")
    problems = []

    # 1. A schema of two lines.
    with open(os.path.join(folder, "small.pvx"), "w") as f:
        f.write("pavex module m;\nstruct A { bool b; int<0..9> n [*]; };\n")
    free = run(binary, folder, "small.pvx")
    if free.returncode != 0:
        print("FAILED: the small schema fails without a limit")
        return 1
    small = read(out)
    for limit in [64] + list(range(16, 160, 8)):
        if os.path.exists(out):
            os.remove(out)
        r = run(binary, folder, "small.pvx", limit)
        if r.returncode != 0 or r.stdout != free.stdout or read(out) != small:
            problems.append("small schema under %d MB: status %d, %r" %
                            (limit, r.returncode, r.stdout[-120:]))
    print("small schema under 16 to 152 MB: %s" % ("ok" if not problems else "FAILED"))

    # 2. A large schema (11 MB of source, a grammar of 30 MB).
    subprocess.run([sys.executable, os.path.join(HERE, "..", "bench", "gen_schema.py"), "--out",
                    folder, "-n", "50000", "--formats", "pvx"], check=True,
                   stdout=subprocess.DEVNULL)
    if run(binary, folder, "main.pvx").returncode != 0:
        print("FAILED: the large schema fails without a limit")
        return 1
    complete = read(out)
    outcomes = []
    for limit in range(64, 160, 8):
        with open(out, "wb") as f:
            f.write(OLD)
        r = run(binary, folder, "main.pvx", limit)
        left = [n for n in os.listdir(folder) if n.startswith(".out.abnf.")]
        result = read(out)
        if r.returncode == 0 and result == complete:
            outcomes.append("%d: written" % limit)
        elif r.returncode == 1 and r.stdout.endswith(FATAL) and result == OLD:
            outcomes.append("%d: out of memory" % limit)
        else:
            problems.append("large schema under %d MB: status %d, %d bytes written, output %r" %
                            (limit, r.returncode, len(result), r.stdout[-120:]))
        if r.stderr:
            problems.append("large schema under %d MB: standard error %r" % (limit, r.stderr))
        if left:
            problems.append("large schema under %d MB: temporaries left behind: %s" %
                            (limit, left))
    if not outcomes or outcomes[0] != "64: out of memory":
        problems.append("the large schema did not run out of memory under 64 MB")
    # More room never makes a run fail that fitted in less (some way above
    # the least limit it needs, where chance no longer decides).
    written = [int(o.split(":")[0]) for o in outcomes if o.endswith("written")]
    if written:
        for o in outcomes:
            limit = int(o.split(":")[0])
            if o.endswith("out of memory") and limit >= written[0] + 16:
                problems.append("the large schema ran out of memory under %d MB, but not under "
                                "%d MB" % (limit, written[0]))
    print("large schema: " + ", ".join(outcomes))

    for p in problems:
        print("FAILED: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
