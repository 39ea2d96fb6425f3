#!/usr/bin/env python3
"""Compare two pvx2abnf binaries (A and B) on one schema.

The two run interleaved, A then B, N times each, writing their grammars into a scratch folder;
for each the minimum and the median wall time over the N runs are printed, with the peak
resident memory and the median count of page faults, and then the ratio B/A of the minima
(below 1: B is faster). The spread of each (median over minimum, less one) tells how noisy the
machine was: a ratio closer to 1 than the spread is no difference. The two grammars must be byte
for byte the same, or the comparison fails.

With --callgrind each binary also runs once under `valgrind --tool=callgrind`, and the
instructions it executed are printed with their ratio: a count that the load of the machine
does not change (it does not see the cache misses, page faults or waits that the wall time
holds, so both figures are needed).

    python3 bench/ab.py A B schema/main.pvx [-n 11] [--callgrind] [-- extra pvx2abnf options]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

EPOCH = "1700000000"


def run_once(binary, schema, output, extra):
    """Wall seconds, CPU seconds (user and system, all threads), peak RSS (KiB) and page faults
    of one run; raises on failure."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    start = time.perf_counter()
    proc = subprocess.Popen([binary, *extra, schema, output], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise RuntimeError("%s failed with status %d: %s" % (binary, code, err.strip()))
    return (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
            usage.ru_minflt + usage.ru_majflt)


def instructions(binary, schema, output, extra):
    """Instructions executed under callgrind (all threads together)."""
    with tempfile.NamedTemporaryFile(prefix="callgrind.", delete=False) as f:
        profile = f.name
    try:
        env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
        proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + profile,
                               binary, *extra, schema, output],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env,
                              check=False)
        err = proc.stderr.decode(errors="replace")
        found = re.search(r"Collected\s*:\s*(\d+)", err)
        if proc.returncode != 0 or found is None:
            raise RuntimeError("callgrind of %s failed: %s" % (binary, err.strip()[-500:]))
        return int(found.group(1))
    finally:
        os.unlink(profile)


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def spread(times):
    return statistics.median(times) / min(times) - 1


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("a", help="binary A (the reference)")
    parser.add_argument("b", help="binary B")
    parser.add_argument("schema", help="the .pvx file both translate")
    parser.add_argument("-n", "--runs", type=int, default=11, help="runs of each (default 11)")
    parser.add_argument("--callgrind", action="store_true",
                        help="also count instructions under valgrind's callgrind")
    parser.add_argument("--warmup", type=int, default=1, help="unmeasured runs of each first")
    argv = list(sys.argv[1:] if argv is None else argv)
    # What follows `--` goes to both binaries as it stands.
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    args = parser.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    args.extra = extra
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    scratch = tempfile.mkdtemp(prefix="ab.")
    try:
        outputs = {k: os.path.join(scratch, k + ".abnf") for k in "ab"}
        binaries = {"a": os.path.abspath(args.a), "b": os.path.abspath(args.b)}
        walls = {"a": [], "b": []}
        cpus = {"a": [], "b": []}
        rss = {"a": 0, "b": 0}
        faults = {"a": [], "b": []}
        for i in range(args.warmup + args.runs):
            for k in "ab":
                wall, cpu, kib, flt = run_once(binaries[k], args.schema, outputs[k], args.extra)
                if i >= args.warmup:
                    walls[k].append(wall)
                    cpus[k].append(cpu)
                    rss[k] = max(rss[k], kib)
                    faults[k].append(flt)
        if not same_file(outputs["a"], outputs["b"]):
            print("error: the grammars of A and B differ", file=sys.stderr)
            return 1

        print("schema %s, %d interleaved runs each%s" %
              (args.schema, args.runs, (" with " + " ".join(args.extra)) if args.extra else ""))
        for k in "ab":
            print("%s  min %8.4f s  median %8.4f s  spread %5.1f%%  cpu min %8.4f s  "
                  "peak %7.1f MiB  faults %7d  %s"
                  % (k.upper(), min(walls[k]), statistics.median(walls[k]),
                     100 * spread(walls[k]), min(cpus[k]), rss[k] / 1024,
                     statistics.median(faults[k]), args.a if k == "a" else args.b))
        ratio = min(walls["b"]) / min(walls["a"])
        print("wall B/A %.3f (min of %d; noise about %.1f%%)  cpu B/A %.3f (noise about %.1f%%)" %
              (ratio, args.runs, 100 * max(spread(walls["a"]), spread(walls["b"])),
               min(cpus["b"]) / min(cpus["a"]), 100 * max(spread(cpus["a"]), spread(cpus["b"]))))
        if args.callgrind:
            counts = {k: instructions(binaries[k], args.schema, outputs[k], args.extra)
                      for k in "ab"}
            print("instructions A %d  B %d  B/A %.4f" %
                  (counts["a"], counts["b"], counts["b"] / counts["a"]))
        return 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
