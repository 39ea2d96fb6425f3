#!/usr/bin/env python3
"""pvx2abnf under a limit of its address space (ulimit -v).

Usage: memory_limit.py --binary PATH --scratch FOLDER [--sanitized]

1. A small schema is translated under every limit from 16 MB to 152 MB as without a limit.
2. A large schema under limits from 64 MB up gives the complete grammar or fails cleanly: "FATAL
   error: Unable to allocate memory" last, status 1, the old grammar untouched, no temporary. At
   64 MB it fails; once it fits, a limit 16 MB larger or more does not make it fail.
A sanitized build cannot run under such a limit: it prints "SKIPPED: ...".
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys

OLD = b"the old grammar\n"
FATAL = b"FATAL error: Unable to allocate memory\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--sanitized", action="store_true")
    args = ap.parse_args()
    if args.sanitized:
        print("SKIPPED: a sanitized build cannot run under an address space limit")
        return 0
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    out = os.path.join(folder, "out.abnf")

    def run(source, megabytes=None):
        with open(out, "wb") as f:
            f.write(OLD)
        limit = (megabytes << 20, megabytes << 20) if megabytes else None
        proc = subprocess.run(
            [os.path.abspath(args.binary), source, "out.abnf"], cwd=folder,
            env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"), stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, timeout=120,
            preexec_fn=(lambda: resource.setrlimit(resource.RLIMIT_AS, limit)) if limit else None)
        left = [n for n in os.listdir(folder) if n.startswith(".out.abnf.")]
        with open(out, "rb") as f:
            return proc.returncode, proc.stdout, proc.stderr, f.read(), left

    problems = []
    with open(os.path.join(folder, "small.pvx"), "w") as f:
        f.write("pavex module m;\nstruct A { bool b; int<0..9> n [*]; };\n")
    free = run("small.pvx")
    for megabytes in range(16, 160, 8):
        if run("small.pvx", megabytes) != free:
            problems.append("the small schema under %d MB runs otherwise" % megabytes)

    generator = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                             "gen_schema.py")
    subprocess.run([sys.executable, generator, "--out", folder, "-n", "50000", "--formats", "pvx"],
                   check=True, stdout=subprocess.DEVNULL)
    complete = run("main.pvx")[3]
    written = []
    for megabytes in range(64, 160, 8):
        status, stdout, stderr, result, left = run("main.pvx", megabytes)
        if status == 0 and result == complete and not left:
            written.append(megabytes)
        elif not (status == 1 and stdout.endswith(FATAL) and result == OLD and not left):
            problems.append("the large schema under %d MB: status %d, %d bytes, %s, %r" %
                            (megabytes, status, len(result), left, stdout[-100:]))
        if stderr:
            problems.append("the large schema under %d MB: standard error %r" % (megabytes, stderr))
        if status != 0 and written and megabytes >= written[0] + 16:
            problems.append("the large schema fits in %d MB but not in %d MB" %
                            (written[0], megabytes))
    if 64 in written:
        problems.append("the large schema did not run out of memory under 64 MB")

    for p in problems:
        print("FAILED: " + p)
    print("large schema written under %s MB: %s" % (written, "FAILED" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
