#!/usr/bin/env python3
"""Signals and a file size limit while pvx2abnf writes a large grammar over an old one.

Usage: file_signals.py --binary PATH --scratch FOLDER

1. Every signal whose default action ends the process, sent while the temporary grows: the run
   ends with it, the old grammar stays, no temporary is left. SIGPIPE and SIGXFSZ, which
   pvx2abnf ignores, let the run write the complete grammar.
2. A file size limit of 1 MB: status 1, "Unable to write output file", the old grammar stays.
3. SIGTERM at random moments of whole runs (reading, writing on two threads, the rename): the
   output is the old grammar or the complete new one, and no temporary is left.
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

OLD = b"the old grammar\n"
NAMES = ["SIGHUP", "SIGINT", "SIGQUIT", "SIGTERM", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGXCPU",
         "SIGVTALRM", "SIGPROF", "SIGIO", "SIGPWR", "SIGSTKFLT", "SIGPIPE", "SIGXFSZ"]
SIGNALS = [getattr(signal, n) for n in NAMES if hasattr(signal, n)]
SIGNALS += [signal.SIGRTMIN, signal.SIGRTMIN + 5, signal.SIGRTMAX]


def defaults(file_size=None):
    def set_up():
        # No core files; every signal sent has its default action, also where
        # this test was started with some ignored (a background job's SIGINT).
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for sig in SIGNALS:
            signal.signal(sig, signal.SIG_DFL)
        if file_size:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))
    return set_up


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--scratch", required=True)
    args = ap.parse_args()
    folder = os.path.abspath(args.scratch)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    generator = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                             "gen_schema.py")
    subprocess.run([sys.executable, generator, "--out", folder, "-n", "50000", "--formats", "pvx"],
                   check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(folder, "out.abnf")
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")

    def start(set_up=defaults()):
        with open(out, "wb") as f:
            f.write(OLD)
        return subprocess.Popen([os.path.abspath(args.binary), "main.pvx", "out.abnf"],
                                cwd=folder, env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, preexec_fn=set_up)

    def output():
        with open(out, "rb") as f:
            return f.read()

    def temporaries():
        left = [n for n in os.listdir(folder) if n.startswith(".out.abnf.")]
        for name in left:
            os.remove(os.path.join(folder, name))
        return left

    def writing(proc):
        """Waits until the temporary holds a megabyte; false if the run ends first."""
        while proc.poll() is None:
            for name in [n for n in os.listdir(folder) if n.startswith(".out.abnf.")]:
                try:
                    if os.path.getsize(os.path.join(folder, name)) >= 1 << 20:
                        return True
                except OSError:
                    pass
            time.sleep(0.0005)
        return False

    proc = start()
    proc.communicate()
    complete = output()
    problems = [] if proc.returncode == 0 else ["the undisturbed run failed"]

    for sig in SIGNALS:
        proc = start()
        sent = writing(proc)
        if sent:
            proc.send_signal(sig)
        proc.communicate()
        ignored = sig in (signal.SIGPIPE, signal.SIGXFSZ)
        expected = (0, complete) if ignored else (-sig, OLD)
        if not sent or (proc.returncode, output()) != expected:
            problems.append("signal %d: status %d, %d bytes" % (sig, proc.returncode,
                                                               len(output())))
        if temporaries():
            problems.append("signal %d: a temporary was left behind" % sig)

    proc = start(defaults(file_size=1 << 20))
    stdout, _ = proc.communicate()
    if (proc.returncode != 1 or b"error: Unable to write output file: out.abnf\n" not in stdout
            or output() != OLD or temporaries()):
        problems.append("file size limit: status %d, %d bytes" % (proc.returncode, len(output())))

    begin = time.monotonic()
    start().communicate()
    duration = time.monotonic() - begin
    rng = random.Random(7)
    for round_ in range(40):
        proc = start()
        time.sleep(rng.uniform(0, duration * 1.1))
        proc.send_signal(signal.SIGTERM)
        proc.communicate()
        if output() not in (OLD, complete) or temporaries():
            problems.append("SIGTERM in round %d: %d bytes, or a temporary left behind" %
                            (round_, len(output())))

    for p in problems:
        print("FAILED: " + p)
    print("%d signals, a file size limit and 40 random SIGTERMs: %s" %
          (len(SIGNALS), "FAILED" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
