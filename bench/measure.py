#!/usr/bin/env python3
"""Time pvx2abnf against the peer schema compilers on generated schemas and print one table.

For every case the schema is generated (bench/gen_schema.py) into bench/out/<case>/, pvx2abnf's
output is checked against the hash recorded in bench/output_hashes.txt (a case met for the first
time is recorded; a mismatch fails the run), and then pvx2abnf, protoc, flatc and the floor (the
inputs read and a file as large as pvx2abnf's output written) run side by side, one after another
in each repetition. Each figure is the median over the repetitions: wall time, peak resident memory (from
/usr/bin/time -v), microseconds per definition. Normally started through bench/run.sh.
"""

import argparse
import hashlib
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_schema  # noqa: E402

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
EPOCH = "1700000000"
INSTALL_HINT = "apt-get install protobuf-compiler flatbuffers-compiler"


class Case:
    def __init__(self, shape, n, fields=8, share=0.25, seed=1, modules=8):
        self.shape, self.n, self.fields, self.share = shape, n, fields, share
        self.seed, self.modules = seed, modules

    @property
    def key(self):
        key = "%s-n%d-f%d-s%d" % (self.shape, self.n, self.fields, self.seed)
        if self.shape in ("random", "modules"):
            key += "-r%g" % self.share
        if self.shape == "modules":
            key += "-k%d" % self.modules
        return key

    @property
    def label(self):
        if self.shape == "dag":
            return "dag depth %d" % self.n
        if self.shape == "deepdag":
            return "deep dag %d" % self.n
        if self.shape == "modules":
            return "modules %d (%d files)" % (self.n, self.modules + 1)
        return "%s %d" % (self.shape, self.n)


def full_cases():
    return ([Case("random", n) for n in (1000, 10000, 100000, 1000000)] +
            [Case("chain", 100000), Case("dag", 40), Case("deepdag", 100000),
             Case("modules", 100000)])


def quick_cases():
    return ([Case("random", n) for n in (1000, 10000)] +
            [Case("chain", 10000), Case("dag", 40), Case("deepdag", 10000),
             Case("modules", 10000)])


# ---------------------------------------------------------------- running one command


class Run:
    """One measured process: wall seconds, peak RSS in KiB, and a failure text or None."""

    def __init__(self, wall, rss_kib, failure=None):
        self.wall, self.rss_kib, self.failure = wall, rss_kib, failure


def parse_time_report(text):
    """Peak RSS (KiB), exit status and terminating signal from GNU time's -v report."""
    rss, status, sig = None, None, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("Maximum resident set size (kbytes):"):
            rss = int(line.rsplit(":", 1)[1])
        elif line.startswith("Exit status:"):
            status = int(line.rsplit(":", 1)[1])
        elif line.startswith("Command terminated by signal"):
            sig = int(line.rsplit(" ", 1)[1])
    return rss, status, sig


def describe_failure(status, sig):
    if sig:
        try:
            return "crash (%s)" % signal.Signals(sig).name
        except ValueError:
            return "crash (signal %d)" % sig
    if status:
        return "exit %d" % status
    return None


def run_measured(cmd, cwd, stdout_path=os.devnull, timeout=None, env=None, time_bin=None):
    """Run cmd under /usr/bin/time -v (or wait4 when GNU time is missing); never raises for a
    failing command. A run past the timeout is killed with its whole process group."""
    with tempfile.NamedTemporaryFile("r", suffix=".time", delete=False) as tf:
        report_path = tf.name
    full = ([time_bin, "-v", "-o", report_path] if time_bin else []) + list(cmd)
    try:
        with open(stdout_path, "wb") as out:
            start = time.perf_counter()
            proc = subprocess.Popen(full, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, env=env, start_new_session=True)
            try:
                if time_bin:
                    proc.wait(timeout=timeout)
                    usage_rss = None
                else:
                    usage_rss = _wait4(proc, timeout)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                return Run(time.perf_counter() - start, None, "timeout")
            wall = time.perf_counter() - start
        if time_bin:
            with open(report_path, encoding="utf-8", errors="replace") as f:
                rss, status, sig = parse_time_report(f.read())
            if status is None and sig is None and proc.returncode:
                status = proc.returncode
        else:
            rss, status = usage_rss, proc.returncode
            sig = -status if status < 0 else None
            status = status if status > 0 else None
        return Run(wall, rss, describe_failure(status, sig))
    finally:
        os.unlink(report_path)


def _wait4(proc, timeout):
    deadline = None if timeout is None else time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_maxrss
        if deadline is not None and time.monotonic() > deadline:
            raise subprocess.TimeoutExpired(proc.args, timeout)
        time.sleep(0.0005)


def summarize(runs):
    """Median wall time and peak memory of the runs, or the first failure."""
    for r in runs:
        if r.failure:
            return Run(r.wall, r.rss_kib, r.failure)
    rss = [r.rss_kib for r in runs if r.rss_kib is not None]
    return Run(statistics.median(r.wall for r in runs), statistics.median(rss) if rss else None)


# ---------------------------------------------------------------- output hashes


def sha256_of(paths):
    h = hashlib.sha256()
    for p in paths:
        with open(p, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
    return h.hexdigest()


def load_hashes(path):
    table = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                words = line.split()
                if len(words) == 3 and not line.startswith("#"):
                    table[words[0]] = (words[1], words[2])
    return table


HASH_FILE_HEADER = """\
# sha256 of the generated Pavex sources and of pvx2abnf's ABNF output for each benchmark case,
# recorded when the case was first run (SOURCE_DATE_EPOCH=1700000000). Any change to the output
# fails the benchmark: the translator must write byte-identical output. Delete a line only when an
# output change is intended, and say why in the commit.
# case input-sha256 output-sha256
"""


def check_hash(path, key, input_hash, output_hash):
    """Compare with the recorded hashes; record a new case. Returns (ok, message)."""
    table = load_hashes(path)
    if key not in table:
        new_file = not os.path.exists(path)
        with open(path, "a", encoding="utf-8") as f:
            if new_file:
                f.write(HASH_FILE_HEADER)
            f.write("%s %s %s\n" % (key, input_hash, output_hash))
        return True, "recorded"
    want_in, want_out = table[key]
    if want_in != input_hash:
        return False, ("the generated input differs from the one recorded (the generator changed?):"
                       " %s instead of %s" % (input_hash, want_in))
    if want_out != output_hash:
        return False, "pvx2abnf's output differs: %s instead of %s" % (output_hash, want_out)
    return True, "same"


# ---------------------------------------------------------------- one case


def prepare(case, out_root, formats):
    """Generate the case's schema unless the same parameters were generated before."""
    folder = os.path.join(out_root, case.key)
    stamp = os.path.join(folder, "generated")
    with open(gen_schema.__file__, "rb") as f:
        want = "%s %s\n" % (hashlib.sha256(f.read()).hexdigest()[:16], ",".join(sorted(formats)))
    if os.path.exists(stamp):
        with open(stamp) as f:
            if f.read() == want:
                return folder, _stems(folder)
    shutil.rmtree(folder, ignore_errors=True)
    gen_schema.generate(folder, case.shape, case.n, case.fields, case.share, case.seed,
                        case.modules, formats)
    with open(stamp, "w") as f:
        f.write(want)
    return folder, _stems(folder)


def _stems(folder):
    libs = sorted((int(name[3:-4]) for name in os.listdir(folder)
                   if name.startswith("lib") and name.endswith(".pvx")))
    return ["main"] + ["lib%d" % k for k in libs]


def pvx_command(binary, stems):
    cmd = [binary, "main.pvx"]
    for s in stems[1:]:
        cmd += ["+", s + ".pvx"]
    return cmd + ["out.abnf"]


def run_case(case, opts, tools):
    peers = [t for t in ("protoc", "flatc") if tools.get(t) and case.n <= opts.peer_max_n]
    formats = ["pvx"] + (["proto"] if "protoc" in peers else []) + \
        (["fbs"] if "flatc" in peers else [])
    print("  %-24s generating ..." % case.label, end="", flush=True)
    folder, stems = prepare(case, opts.out, formats)
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH)
    pvx = pvx_command(opts.binary, stems)
    stdout_path = os.path.join(folder, "pvx2abnf.stdout")

    print(" checking ...", end="", flush=True)
    result = {"case": case, "check": None}
    output = os.path.join(folder, "out.abnf")
    if os.path.exists(output):
        os.unlink(output)
    first = run_measured(pvx, folder, stdout_path, opts.timeout, env, tools.get("time"))
    with open(stdout_path, encoding="utf-8", errors="replace") as f:
        console = f.read()
    short = first.failure
    if not short and not re.search(r"^0 error\(s\), ", console, re.M):
        short = "errors"
    elif not short and not os.path.exists(output):
        short = "no output"
    if short:
        result["short"] = short
        result["check"] = "pvx2abnf failed (%s): %s" % (result["short"], console[-400:].strip())
        print(" FAILED")
        return result
    input_hash = sha256_of(os.path.join(folder, s + ".pvx") for s in stems)
    output_hash = sha256_of([output])
    ok, message = check_hash(opts.hashes, case.key, input_hash, output_hash)
    result["hash"] = message
    if not ok:
        result["short"], result["check"] = "OUTPUT CHANGED", message
        print(" OUTPUT MISMATCH")
        return result

    commands = {"pvx2abnf": (pvx, env, stdout_path)}
    if "protoc" in peers:
        commands["protoc"] = ([tools["protoc"], "-I.", "--descriptor_set_out=protoc.pb",
                               "main.proto"], None, os.devnull)
    if "flatc" in peers:
        commands["flatc"] = ([tools["flatc"], "--schema", "-b", "-o", "flatc.out", "main.fbs"],
                             None, os.devnull)
    inputs = [s + ".pvx" for s in stems]
    # The floor: read the inputs, and write a file of the output's size.
    commands["floor"] = (["sh", "-c", 'cat "$@" >/dev/null && cat out.abnf >floor.out', "floor"]
                         + inputs, None, os.devnull)
    result["sizes"] = (sum(os.path.getsize(os.path.join(folder, p)) for p in inputs),
                       os.path.getsize(os.path.join(folder, "out.abnf")))

    runs = {name: [] for name in commands}
    reps, rep = opts.reps, 0
    while rep < reps:
        print(" %d" % (rep + 1), end="", flush=True)
        for name, (cmd, cmd_env, out_path) in commands.items():
            if runs[name] and runs[name][-1].failure:
                continue
            r = run_measured(cmd, folder, out_path, opts.timeout, cmd_env, tools.get("time"))
            runs[name].append(r)
        # Long cases: three repetitions are enough for a stable median.
        if rep == 0 and reps > 3 and max(r[0].wall for r in runs.values()) > opts.long_run:
            reps = 3
        rep += 1
    print()
    result["runs"] = {name: summarize(rs) for name, rs in runs.items()}
    result["skipped"] = [t for t in ("protoc", "flatc") if t not in peers]
    return result


# ---------------------------------------------------------------- the table


def fmt_ms(s):
    ms = s * 1000.0
    return "%.0f" % ms if ms >= 100 else "%.1f" % ms if ms >= 10 else "%.2f" % ms


def fmt_mb(kib):
    return "?" if kib is None else "%.0f" % (kib / 1024.0) if kib >= 102400 else \
        "%.1f" % (kib / 1024.0)


def fmt_ratio(x):
    return "%.0f×" % x if x >= 100 else "%.1f×" % x


def cell(result, tool, tools):
    """Wall time and peak memory of one tool as table cells."""
    runs = result.get("runs", {})
    if tool in runs:
        r = runs[tool]
        if r.failure:
            return r.failure, "-"
        return fmt_ms(r.wall), fmt_mb(r.rss_kib)
    if tool in ("protoc", "flatc") and not tools.get(tool):
        return "not installed", "-"
    return "skipped", "-"


def ratio(result, peer, field):
    runs = result.get("runs", {})
    mine, other = runs.get("pvx2abnf"), runs.get(peer)
    if not mine or not other or mine.failure or other.failure:
        return "-"
    a, b = (mine.wall, other.wall) if field == "wall" else (mine.rss_kib, other.rss_kib)
    if not a or not b:
        return "-"
    return fmt_ratio(b / a) if peer != "floor" else fmt_ratio(a / b)


def table(results, tools):
    head = ["schema", "defs", "source MB", "pvx2abnf ms", "MB", "memory / source", "µs/def",
            "protoc ms", "MB",
            "flatc ms", "MB", "floor ms", "faster than protoc", "less memory than protoc",
            "faster than flatc", "less memory than flatc", "of the floor"]
    rows = []
    for res in results:
        case = res["case"]
        if res.get("check"):
            rows.append([case.label, str(case.n), "-", res["short"]] + ["-"] * (len(head) - 4))
            continue
        mine = res["runs"]["pvx2abnf"]
        per_def = "-" if mine.failure else "%.2f" % (mine.wall * 1e6 / case.n)
        pw, pm = cell(res, "pvx2abnf", tools)
        per_source = "-" if mine.failure or not mine.rss_kib else "%.1f" % (
            mine.rss_kib * 1024 / max(res["sizes"][0], 1))
        row = [case.label, str(case.n), "%.1f" % (res["sizes"][0] / 1e6), pw, pm, per_source,
               per_def]
        for tool in ("protoc", "flatc"):
            row += list(cell(res, tool, tools))
        row.append(cell(res, "floor", tools)[0])
        row += [ratio(res, "protoc", "wall"), ratio(res, "protoc", "rss"),
                ratio(res, "flatc", "wall"), ratio(res, "flatc", "rss"),
                ratio(res, "floor", "wall")]
        rows.append(row)
    lines = ["| " + " | ".join(head) + " |", "|" + "|".join("---" for _ in head) + "|"]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def targets(results):
    """The performance goals, each with the figure measured (empty when a case is missing)."""
    def wall(shape, n, tool="pvx2abnf"):
        for res in results:
            c = res["case"]
            if c.shape == shape and c.n == n and not res.get("check"):
                r = res["runs"].get(tool)
                if r and not r.failure:
                    return r
        return None

    lines = []

    def goal(text, value, limit, higher_is_better):
        met = value >= limit if higher_is_better else value <= limit
        lines.append("- %s: %.2f (goal %s %g) %s" % (text, value, ">=" if higher_is_better else
                                                      "<=", limit, "met" if met else "MISSED"))

    def source_bytes(shape, n):
        for res in results:
            c = res["case"]
            if c.shape == shape and c.n == n and not res.get("check"):
                return res["sizes"][0]
        return None

    mine, protoc, flatc, floor = (wall("random", 100000, t)
                                  for t in ("pvx2abnf", "protoc", "flatc", "floor"))
    if mine and protoc:
        goal("random 100000: protoc time / pvx2abnf time", protoc.wall / mine.wall, 40, True)
    if mine and flatc:
        goal("random 100000: flatc time / pvx2abnf time", flatc.wall / mine.wall, 14, True)
    if mine and floor:
        goal("random 100000: pvx2abnf time / floor", mine.wall / floor.wall, 5, False)
    for n in (100000, 1000000):
        run, size = wall("random", n), source_bytes("random", n)
        if run and run.rss_kib and size:
            goal("random %d: peak memory / source size" % n, run.rss_kib * 1024 / size, 4, False)
    big, small = wall("random", 1000000), wall("random", 10000)
    if big and small:
        goal("µs per definition at 1000000 / at 10000", (big.wall / 1e6) / (small.wall / 1e4),
             1.2, False)
    chain = wall("chain", 100000)
    if chain:
        goal("chain 100000, seconds", chain.wall, 1, False)
    dag = wall("dag", 40)
    if dag:
        goal("dag depth 40, seconds", dag.wall, 1, False)
    deep = wall("deepdag", 100000)
    if deep and mine:
        goal("deep dag 100000 / random 100000, time", deep.wall / mine.wall, 1.5, False)
    return "\n".join(lines)


# ---------------------------------------------------------------- main


def find_tools(args):
    tools = {t: shutil.which(t) for t in ("protoc", "flatc")}
    if args.no_peers:
        tools = {"protoc": None, "flatc": None}
    tools["time"] = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None
    return tools


def tool_version(path, arg="--version"):
    try:
        out = subprocess.run([path, arg], capture_output=True, text=True, timeout=10).stdout
        return out.strip().splitlines()[0] if out.strip() else "?"
    except (OSError, subprocess.SubprocessError):
        return "?"


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--binary", required=True, help="the pvx2abnf executable")
    ap.add_argument("--quick", action="store_true", help="small sizes and three repetitions")
    ap.add_argument("--reps", type=int, help="repetitions per case (default 5, quick 3)")
    ap.add_argument("--out", default=os.path.join(BENCH_DIR, "out"))
    ap.add_argument("--hashes", default=os.path.join(BENCH_DIR, "output_hashes.txt"))
    ap.add_argument("--timeout", type=float, default=120.0, help="seconds allowed for one run")
    ap.add_argument("--peer-max-n", type=int, default=100000,
                    help="largest schema given to the peers (protoc needs ~20 GB at 1000000)")
    ap.add_argument("--long-run", type=float, default=5.0,
                    help="cut repetitions to three when one run takes longer (seconds)")
    ap.add_argument("--no-peers", action="store_true", help="time pvx2abnf and the floor only")
    ap.add_argument("--cases",
                    help="keep only these shapes, comma-separated (random,chain,dag,deepdag,modules)")
    opts = ap.parse_args(argv)
    opts.binary = os.path.abspath(opts.binary)
    opts.out = os.path.abspath(opts.out)
    opts.hashes = os.path.abspath(opts.hashes)
    if opts.reps is None:
        opts.reps = 3 if opts.quick else 5
    os.makedirs(opts.out, exist_ok=True)

    tools = find_tools(opts)
    cases = quick_cases() if opts.quick else full_cases()
    if opts.cases:
        keep = set(opts.cases.split(","))
        cases = [c for c in cases if c.shape in keep]
    print("pvx2abnf: %s" % opts.binary)
    for t in ("protoc", "flatc"):
        print("%s: %s" % (t, "%s (%s)" % (tools[t], tool_version(tools[t])) if tools[t] else
                          "not installed (%s)" % INSTALL_HINT))
    if not tools["time"]:
        print("/usr/bin/time not found: peak memory taken from wait4 (apt-get install time)")
    print("%d repetition(s), median; peers up to %d definitions\n" % (opts.reps, opts.peer_max_n))

    results = [run_case(case, opts, tools) for case in cases]
    text = table(results, tools)
    goals = targets(results)
    print("\n" + text + "\n")
    if goals:
        print(goals + "\n")
    with open(os.path.join(opts.out, "last-table.md"), "w", encoding="utf-8") as f:
        f.write(text + "\n\n" + goals + "\n")

    failed = [r for r in results if r.get("check")]
    for r in failed:
        print("*** %s: %s" % (r["case"].key, r["check"]), file=sys.stderr)
    if failed:
        print("*** BENCHMARK FAILED: %d case(s) failed the output check" % len(failed),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
