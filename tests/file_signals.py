#!/usr/bin/env python3
"""Signals and limits while pvx2abnf writes a large grammar over an old one.

Usage: file_signals.py --binary PATH --scratch FOLDER [--definitions N]

1. Every signal whose default action ends the process, sent while the
   temporary grows: the run ends with that signal, the old grammar stays and
   no temporary is left. SIGPIPE and SIGXFSZ, which pvx2abnf ignores, let the
   run finish with the complete grammar.
2. A file size limit (ulimit -f) below the grammar's size: status 1, "Unable
   to write output file", the old grammar stays, no temporary.
3. SIGTERM at random moments of whole runs (reading, writing on two threads,
   the rename): every time the output is the old grammar or the complete new
   one, and no temporary is left.
"""
import argparse
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OLD = b"the old grammar\n"


def temporaries(folder):
    return [n for n in os.listdir(folder) if n.startswith(".out.abnf.")]


def no_core():
    # SIGQUIT, SIGXCPU and SIGXFSZ dump core by default.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    # Every signal sent has its default action, also where this test was
    # started with some ignored (SIGINT and SIGQUIT of a background job).
    for sig in signals_to_send():
        signal.signal(sig, signal.SIG_DFL)


class Case:
    def __init__(self, binary, folder, env):
        self.binary = binary
        self.folder = folder
        self.env = env
        self.out = os.path.join(folder, "out.abnf")

    def start(self, preexec=no_core):
        with open(self.out, "wb") as f:
            f.write(OLD)
        return subprocess.Popen([self.binary, "main.pvx", "out.abnf"], cwd=self.folder,
                                env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                preexec_fn=preexec)

    def wait_for_writing(self, proc, least=1 << 20):
        """Waits until the temporary holds `least` bytes; false if the run ended first."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and proc.poll() is None:
            for name in temporaries(self.folder):
                try:
                    if os.path.getsize(os.path.join(self.folder, name)) >= least:
                        return True
                except OSError:
                    pass
            time.sleep(0.0005)
        return False

    def output(self):
        with open(self.out, "rb") as f:
            return f.read()


def signals_to_send():
    names = ["SIGHUP", "SIGINT", "SIGQUIT", "SIGTERM", "SIGUSR1", "SIGUSR2", "SIGALRM",
             "SIGXCPU", "SIGVTALRM", "SIGPROF", "SIGIO", "SIGPWR", "SIGSTKFLT", "SIGPIPE",
             "SIGXFSZ"]
    sigs = [getattr(signal, n) for n in names if hasattr(signal, n)]
    if hasattr(signal, "SIGRTMIN"):
        sigs += [signal.SIGRTMIN, signal.SIGRTMIN + 5, signal.SIGRTMAX]
    return sigs


def name_of(sig):
    try:
        return signal.Signals(sig).name
    except ValueError:
        return "SIGRTMIN+%d" % (sig - signal.SIGRTMIN)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--scratch", required=True)
    ap.add_argument("--definitions", type=int, default=50000)
    ap.add_argument("--rounds", type=int, default=40)
    args = ap.parse_args()
    binary = os.path.abspath(args.binary)
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run([sys.executable, os.path.join(HERE, "..", "bench", "gen_schema.py"), "--out",
                    folder, "-n", str(args.definitions), "--formats", "pvx"], check=True,
                   stdout=subprocess.DEVNULL)
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    case = Case(binary, folder, env)
    problems = []

    # The complete grammar, from an undisturbed run.
    proc = case.start()
    proc.communicate()
    if proc.returncode != 0:
        print("FAILED: the undisturbed run ended with %d" % proc.returncode)
        return 1
    complete = case.output()

    # 1. Each signal while the temporary grows.
    for sig in signals_to_send():
        before = len(problems)
        proc = case.start()
        writing = case.wait_for_writing(proc)
        if writing:
            proc.send_signal(sig)
        proc.communicate()
        name = name_of(sig)
        left = temporaries(folder)
        ignored = sig in (signal.SIGPIPE, signal.SIGXFSZ)
        if not writing:
            problems.append("%s: the run ended before it wrote a megabyte" % name)
        elif ignored and (proc.returncode != 0 or case.output() != complete):
            problems.append("%s: ignored, yet the run ended with %d" % (name, proc.returncode))
        elif not ignored and proc.returncode != -sig:
            problems.append("%s: the run ended with %d, not the signal" % (name, proc.returncode))
        elif not ignored and case.output() != OLD:
            problems.append("%s: the old grammar is gone" % name)
        if left:
            problems.append("%s: temporaries left behind: %s" % (name, left))
        for t in left:
            os.remove(os.path.join(folder, t))
        print("%-12s %s" % (name, "ok" if len(problems) == before else "FAILED"))

    # 2. A file size limit of a megabyte.
    def limited():
        no_core()
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

    before = len(problems)
    proc = case.start(limited)
    stdout, _ = proc.communicate()
    if proc.returncode != 1 or b"error: Unable to write output file: out.abnf\n" not in stdout:
        problems.append("file size limit: status %d, output %r" % (proc.returncode, stdout[-200:]))
    if case.output() != OLD:
        problems.append("file size limit: the old grammar is gone")
    if temporaries(folder):
        problems.append("file size limit: temporaries left behind")
    print("%-12s %s" % ("ulimit -f", "ok" if len(problems) == before else "FAILED"))

    # 3. SIGTERM at random moments of the whole run.
    proc = case.start()
    begin = time.monotonic()
    proc.communicate()
    duration = time.monotonic() - begin
    rng = random.Random(7)
    outcomes = {"old": 0, "new": 0}
    for round_ in range(args.rounds):
        proc = case.start()
        time.sleep(rng.uniform(0, duration * 1.1))
        proc.send_signal(signal.SIGTERM)
        proc.communicate()
        result = case.output()
        left = temporaries(folder)
        if result == OLD:
            outcomes["old"] += 1
        elif result == complete:
            outcomes["new"] += 1
        else:
            problems.append("round %d: the output is neither the old nor the complete grammar "
                            "(%d bytes)" % (round_, len(result)))
        if left:
            problems.append("round %d: temporaries left behind: %s" % (round_, left))
            for t in left:
                os.remove(os.path.join(folder, t))
    print("SIGTERM at random moments: %d old, %d new" % (outcomes["old"], outcomes["new"]))

    for p in problems:
        print("FAILED: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
