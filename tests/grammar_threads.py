#!/usr/bin/env python3
"""The default grammar is the same byte for byte on one thread and on two.

Usage: grammar_threads.py --binary PATH --scratch FOLDER

Generated schemas of each benchmark shape (bench/gen_schema.py), large enough to be written in
many batches, are translated with --threads=1 and --threads=2; the grammars and the console must
be the same.
"""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
GEN = os.path.join(HERE, "..", "bench", "gen_schema.py")
SHAPES = [("random", ["-n", "20000"]), ("chain", ["-n", "5000"]), ("dag", ["-n", "12"]),
          ("deepdag", ["-n", "3000"]), ("modules", ["-n", "20000", "--modules", "9"])]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--scratch", required=True)
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    failures = 0
    for shape, size in SHAPES:
        schema = os.path.join(folder, shape)
        subprocess.run([sys.executable, GEN, "--out", schema, "--shape", shape, "--formats", "pvx"]
                       + size, check=True, stdout=subprocess.DEVNULL)
        libraries = sorted(f for f in os.listdir(schema) if f.endswith(".pvx") and f != "main.pvx")
        command = ["main.pvx"]
        for lib in libraries:
            command += ["+", lib]
        results = []
        for threads in ("1", "2"):
            out = "out-%s.abnf" % threads
            run = subprocess.run([binary, "--threads=" + threads] + command + [out],
                                 cwd=schema, env=env, stdout=subprocess.PIPE)
            with open(os.path.join(schema, out), "rb") as f:
                results.append((run.returncode, run.stdout, f.read()))
        same = results[0] == results[1]
        print("%-10s %9d bytes  %s" % (shape, len(results[0][2]), "same" if same else "DIFFERENT"))
        failures += 0 if same else 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
