#!/usr/bin/env python3
"""Time the compatibility check against a translation of the same schema.

For each size a random schema is generated (bench/gen_schema.py, the benchmark's random shape)
and an edited copy made of it: every 5000th integer range `int<0..N>` narrowed to `int<0..100>`,
so the number of breaks grows with the schema. Then, interleaved N times, the translation of the
schema, the comparison of the copy with it (`--compat=backward --old=schema`) and the same
comparison on one thread and the schema compared with itself (no change, no witness) run one after
another; the minimum wall time of each is printed, with the comparison over the translation and,
between sizes, the time per definition against the smallest size's (1.00: linear): a schema that
no longer fits the caches costs more per definition in every run. The witnesses' bytes are
counted too (one more run, with --witness-dir): each is a whole message of its definition, checked
under both versions, and a larger random schema's definitions reach deeper.

    python3 bench/compat_speed.py [--binary build-release/pvx2abnf] [-n 7] [--sizes 10000,100000]
"""

import argparse
import contextlib
import io
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_schema  # noqa: E402

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
EPOCH = "1700000000"
RANGE = re.compile(r"int<0\.\.\d+>")


def edited_copy(text):
    """The text with every 5000th `int<0..N>` narrowed to `int<0..100>`, and the count."""
    count = 0
    edited = 0

    def narrow(match):
        nonlocal count, edited
        count += 1
        if count % 5000 == 0 and match.group(0) != "int<0..100>":
            edited += 1
            return "int<0..100>"
        return match.group(0)

    return RANGE.sub(narrow, text), edited


def wall(command, expect):
    """Wall seconds of one run; fails on an unexpected exit status."""
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    start = time.perf_counter()
    proc = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env,
                          check=False)
    seconds = time.perf_counter() - start
    if proc.returncode != expect:
        sys.exit("%s ended with %d (expected %d): %s" %
                 (" ".join(command), proc.returncode, expect, proc.stderr.decode()[-500:]))
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=os.path.join(BENCH_DIR, "..", "build-release",
                                                         "pvx2abnf"))
    parser.add_argument("-n", type=int, default=7, help="runs of each, interleaved")
    parser.add_argument("--sizes", default="10000,100000")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]

    rows = []
    with tempfile.TemporaryDirectory(prefix="compat-speed.") as scratch:
        for n in sizes:
            folder = os.path.join(scratch, "n%d" % n)
            with contextlib.redirect_stdout(io.StringIO()):
                gen_schema.main(["--out", folder, "-n", str(n), "-f", "8", "--seed", "1",
                                 "--share", "0.25", "--formats", "pvx"])
            old = os.path.join(folder, "main.pvx")
            with open(old, encoding="utf-8") as f:
                text, edits = edited_copy(f.read())
            new = os.path.join(folder, "edited.pvx")
            with open(new, "w", encoding="utf-8") as f:
                f.write(text)
            grammar = os.path.join(folder, "main.abnf")
            runs = {
                "translation": ([args.binary, old, grammar], 0),
                "compare": ([args.binary, "--compat=backward", "--old=" + old, new],
                            1 if edits else 0),
                "compare, one thread": ([args.binary, "--threads=1", "--compat=backward",
                                         "--old=" + old, new], 1 if edits else 0),
                "with itself": ([args.binary, "--compat=backward", "--old=" + old, old], 0),
            }
            best = {name: float("inf") for name in runs}
            for _ in range(args.n):
                for name, (command, expect) in runs.items():
                    best[name] = min(best[name], wall(command, expect))
            # The witnesses' bytes, which their checks under both versions read.
            witnesses = os.path.join(folder, "witnesses")
            os.mkdir(witnesses)
            wall(runs["compare"][0][:1] + ["--witness-dir=" + witnesses] + runs["compare"][0][1:],
                 1 if edits else 0)
            best["witness bytes"] = sum(os.path.getsize(os.path.join(witnesses, f))
                                        for f in os.listdir(witnesses))
            rows.append((n, edits, best))

    print("| definitions | ranges narrowed | witness bytes | translation | compare | ratio "
          "| compare, one thread | ratio | with itself | per definition against %s: "
          "translation, compare, with itself |" % "{:,}".format(sizes[0]))
    print("|---|---|---|---|---|---|---|---|---|---|")
    first_n, _, first = rows[0]
    for n, edits, best in rows:
        t = best["translation"]
        c = best["compare"]
        c1 = best["compare, one thread"]
        same = best["with itself"]
        print("| {:,} | {} | {:,} | {:.3f} s | {:.3f} s | {:.2f}x | {:.3f} s | {:.2f}x | {:.3f} s "
              "| {:.2f}, {:.2f}, {:.2f} |".format(
                  n, edits, best["witness bytes"], t, c, c / t, c1, c1 / t, same,
                  (t / n) / (first["translation"] / first_n),
                  (c / n) / (first["compare"] / first_n),
                  (same / n) / (first["with itself"] / first_n)))

if __name__ == "__main__":
    main()
