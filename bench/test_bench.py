"""Checks of the schema generator and the measuring script.

Run: python3 -m unittest discover -s bench -p 'test_*.py'
With BENCH_BINARY set to a pvx2abnf executable, the generated schemas are also translated.
"""

import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_schema  # noqa: E402
import ab  # noqa: E402
import check_message  # noqa: E402
import measure  # noqa: E402

PVX_FIELD = re.compile(r"^    (\S+) (\S+)( \[0\.\.\*\]| \[\?\])?;$")
PROTO_FIELD = re.compile(r"^  (?:(repeated|optional) )?(\S+) (\S+) = (\d+);$")
FBS_FIELD = re.compile(r"^  (\S+):(\S+);$")
IDENT = re.compile(r"^[A-Za-z][A-Za-z0-9_-]{0,62}$")


def read_pvx(folder, stem):
    """{definition: [(field, type, cardinality)]}, imports {alias: module} and the module name."""
    defs, imports, module, current = {}, {}, None, None
    with open(os.path.join(folder, stem + ".pvx")) as f:
        for line in f:
            line = line.rstrip("\n")
            if m := re.match(r"^pavex module (\S+);$", line):
                module = m.group(1)
            elif m := re.match(r"^import (\S+) as (\S+);$", line):
                imports[m.group(2)] = m.group(1)
            elif m := re.match(r"^struct (\w+) \{$", line):
                current = defs.setdefault(m.group(1), [])
            elif m := PVX_FIELD.match(line):
                current.append((m.group(2), m.group(1), (m.group(3) or "").strip()))
    return defs, imports, module


def read_other(folder, stem, ext):
    defs, current = {}, None
    with open(os.path.join(folder, "%s.%s" % (stem, ext))) as f:
        for line in f:
            line = line.rstrip("\n")
            if m := re.match(r"^(?:message|table) (\w+) \{$", line):
                current = defs.setdefault(m.group(1), [])
            elif ext == "proto" and (m := PROTO_FIELD.match(line)):
                current.append((m.group(3), m.group(2), m.group(1) or ""))
            elif ext == "fbs" and (m := FBS_FIELD.match(line)):
                current.append((m.group(1), m.group(2), ""))
    return defs


class GeneratorTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bench-test-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def gen(self, name, **kw):
        folder = os.path.join(self.tmp, name)
        stems = gen_schema.generate(folder, **kw)
        return folder, stems

    def all_pvx(self, folder, stems):
        merged = {}
        for s in stems:
            defs, imports, module = read_pvx(folder, s)
            for name, fields in defs.items():
                merged[name] = (s, fields, imports, module)
        return merged

    def test_same_seed_same_files_other_seed_other_files(self):
        a, stems = self.gen("a", shape="modules", n=300, seed=7, modules=3)
        b, _ = self.gen("b", shape="modules", n=300, seed=7, modules=3)
        c, _ = self.gen("c", shape="modules", n=300, seed=8, modules=3)
        for s in stems:
            for ext in gen_schema.FORMATS:
                name = "%s.%s" % (s, ext)
                with open(os.path.join(a, name), "rb") as fa, open(os.path.join(b, name), "rb") as fb:
                    self.assertEqual(fa.read(), fb.read(), name)
        self.assertNotEqual(measure.sha256_of([os.path.join(a, "main.pvx")]),
                            measure.sha256_of([os.path.join(c, "main.pvx")]))

    def test_random_schema_is_valid_acyclic_and_all_reachable_from_the_root(self):
        n, fields = 500, 8
        folder, stems = self.gen("r", shape="random", n=n, fields=fields, share=0.25)
        defs = self.all_pvx(folder, stems)
        self.assertEqual(set(defs), {"Msg%d" % i for i in range(n)})
        referenced = set()
        for name, (_, fs, _, _) in defs.items():
            self.assertEqual(len(fs), fields, name)
            self.assertEqual(len({f for f, _, _ in fs}), fields, "field names unique in " + name)
            refs = 0
            for field, typ, _ in fs:
                self.assertRegex(field, IDENT)
                if m := re.match(r"^Msg(\d+)$", typ):
                    refs += 1
                    self.assertGreater(int(m.group(1)), int(name[3:]), "references point onward")
                    self.assertIn(typ, defs)
                    referenced.add(typ)
                elif m := re.match(r"^int<(-?\d+)\.\.(\d+)>$", typ):
                    self.assertLessEqual(int(m.group(1)), int(m.group(2)))
                    self.assertLess(int(m.group(2)), 1 << 32)
            if name != "Msg%d" % (n - 1):
                self.assertEqual(refs, 2, name)
        self.assertEqual(referenced, set(defs) - {"Msg0"})

    def test_the_three_languages_describe_the_same_schema(self):
        folder, stems = self.gen("m", shape="modules", n=200, modules=2)
        pvx = self.all_pvx(folder, stems)
        for ext in ("proto", "fbs"):
            other = {}
            for s in stems:
                other.update(read_other(folder, s, ext))
            self.assertEqual(set(other), set(pvx), ext)
            for name, (_, fs, _, _) in pvx.items():
                theirs = other[name]
                self.assertEqual([f for f, _, _ in fs], [f for f, _, _ in theirs], name)
                for (field, typ, card), (_, otyp, ocard) in zip(fs, theirs):
                    target = typ.split("::")[-1]
                    if target.startswith("Msg"):
                        self.assertIn(target, otyp, "%s.%s in %s" % (name, field, ext))
                    repeated = card == "[0..*]"
                    self.assertEqual(repeated, ocard == "repeated" if ext == "proto"
                                     else otyp.startswith("[") and not typ.startswith("bytes"), field)

    def test_modules_import_what_they_name(self):
        folder, stems = self.gen("k", shape="modules", n=400, modules=3)
        self.assertEqual(stems, ["main", "lib1", "lib2", "lib3"])
        defs = self.all_pvx(folder, stems)
        crossing = 0
        for name, (stem, fs, imports, module) in defs.items():
            self.assertEqual(module, "bench." + stem)
            for _, typ, _ in fs:
                if "::" in typ:
                    crossing += 1
                    alias, target = typ.split("::")
                    self.assertEqual(imports[alias], "bench." + defs[target][0])
                elif typ.startswith("Msg"):
                    self.assertEqual(defs[typ][0], stem, "plain reference within the module")
        self.assertGreater(crossing, 100)
        with open(os.path.join(folder, "lib1.proto")) as f:
            self.assertIn('import "lib2.proto";', f.read())
        with open(os.path.join(folder, "main.fbs")) as f:
            text = f.read()
        self.assertIn('include "lib1.fbs";', text)
        self.assertTrue(text.endswith("root_type Msg0;\n"))

    def test_chain_and_dag_shapes(self):
        folder, _ = self.gen("c", shape="chain", n=30, fields=4)
        defs, _, _ = read_pvx(folder, "main")
        for i in range(30):
            refs = [t for _, t, _ in defs["Msg%d" % i] if t.startswith("Msg")]
            self.assertEqual(refs, ["Msg%d" % (i + 1)] if i < 29 else [])
        folder, _ = self.gen("d", shape="dag", n=40, fields=8)
        defs, _, _ = read_pvx(folder, "main")
        self.assertEqual(len(defs), 40)
        for i in range(39):
            refs = [t for _, t, c in defs["Msg%d" % i] if t.startswith("Msg")]
            self.assertEqual(refs, ["Msg%d" % (i + 1)] * 2)
        folder, _ = self.gen("dd", shape="deepdag", n=20, fields=8)
        defs, _, _ = read_pvx(folder, "main")
        for i in range(20):
            refs = sorted(t for _, t, _ in defs["Msg%d" % i] if t.startswith("Msg"))
            want = sorted(["Msg%d" % (i + 1)] * 2 + ["Msg%d" % (i + 2)] * 2)
            self.assertEqual(refs, [t for t in want if int(t[3:]) < 20])

    def test_bad_parameters_are_refused(self):
        for kw in ({"shape": "ring"}, {"n": 0}, {"fields": 0}, {"share": 1.5}):
            with self.assertRaises(ValueError, msg=str(kw)):
                gen_schema.generate(os.path.join(self.tmp, "x"), **kw)


class MeasureTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bench-test-")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_time_report_and_failures(self):
        report = ("\tCommand being timed: \"x\"\n\tMaximum resident set size (kbytes): 4321\n"
                  "\tCommand terminated by signal 11\n\tExit status: 0\n")
        self.assertEqual(measure.parse_time_report(report), (4321, 0, 11))
        self.assertEqual(measure.describe_failure(0, 11), "crash (SIGSEGV)")
        self.assertEqual(measure.describe_failure(2, None), "exit 2")
        self.assertIsNone(measure.describe_failure(0, None))

    def test_runs_report_status_crash_timeout_and_memory(self):
        time_bins = [None] + (["/usr/bin/time"] if os.access("/usr/bin/time", os.X_OK) else [])
        for tb in time_bins:
            ok = measure.run_measured(["python3", "-c", "x = bytearray(60 << 20); x[::4096] = "
                                       "b'1' * len(x[::4096])"], self.tmp, time_bin=tb)
            self.assertIsNone(ok.failure)
            self.assertGreater(ok.rss_kib, 60 << 10, tb)
            self.assertEqual(measure.run_measured(["sh", "-c", "exit 3"], self.tmp,
                                                  time_bin=tb).failure, "exit 3")
            self.assertEqual(measure.run_measured(["sh", "-c", "kill -SEGV $$"], self.tmp,
                                                  time_bin=tb).failure, "crash (SIGSEGV)")
            start = time.monotonic()
            r = measure.run_measured(["sh", "-c", "sleep 30; sleep 30"], self.tmp, timeout=0.3,
                                     time_bin=tb)
            self.assertEqual(r.failure, "timeout")
            self.assertLess(time.monotonic() - start, 5)

    def test_median_and_first_failure(self):
        runs = [measure.Run(w, k) for w, k in ((3.0, 30), (1.0, 10), (2.0, 20))]
        s = measure.summarize(runs)
        self.assertEqual((s.wall, s.rss_kib, s.failure), (2.0, 20, None))
        s = measure.summarize(runs + [measure.Run(9.0, None, "timeout")])
        self.assertEqual(s.failure, "timeout")

    def test_hashes_recorded_once_then_enforced(self):
        path = os.path.join(self.tmp, "hashes.txt")
        self.assertEqual(measure.check_hash(path, "case-a", "in1", "out1"), (True, "recorded"))
        self.assertEqual(measure.check_hash(path, "case-b", "in2", "out2"), (True, "recorded"))
        self.assertEqual(measure.check_hash(path, "case-a", "in1", "out1"), (True, "same"))
        ok, msg = measure.check_hash(path, "case-a", "in1", "outX")
        self.assertFalse(ok)
        self.assertIn("output differs", msg)
        ok, msg = measure.check_hash(path, "case-b", "inX", "out2")
        self.assertFalse(ok)
        self.assertIn("generator changed", msg)
        self.assertEqual(measure.load_hashes(path), {"case-a": ("in1", "out1"),
                                                     "case-b": ("in2", "out2")})


class BenchmarkRunTest(unittest.TestCase):
    """A whole benchmark run with a stand-in translator: the output hash is recorded on the first
    run, and a changed output fails the next one."""

    FAKE = """#!/bin/sh
printf 'pvx2abnf version 0.91\\n\\n0 error(s), 0 warning(s)\\n'
for last; do :; done
cat main.pvx > "$last"
echo "%s" >> "$last"
"""

    def run_bench(self, tmp, extra):
        fake = os.path.join(tmp, "fake")
        with open(fake, "w") as f:
            f.write(self.FAKE % extra)
        os.chmod(fake, 0o755)
        args = ["--binary", fake, "--quick", "--reps", "4", "--long-run", "0", "--no-peers",
                "--cases", "dag,chain", "--out", os.path.join(tmp, "out"),
                "--hashes", os.path.join(tmp, "hashes.txt")]
        with open(os.devnull, "w") as null:
            old = sys.stdout, sys.stderr
            sys.stdout = sys.stderr = null
            try:
                return measure.main(args)
            finally:
                sys.stdout, sys.stderr = old

    def test_record_then_enforce(self):
        tmp = tempfile.mkdtemp(prefix="bench-test-")
        try:
            self.assertEqual(self.run_bench(tmp, "one"), 0)
            hashes = measure.load_hashes(os.path.join(tmp, "hashes.txt"))
            self.assertEqual(sorted(hashes), ["chain-n10000-f8-s1", "dag-n40-f8-s1"])
            with open(os.path.join(tmp, "out", "last-table.md")) as f:
                table = f.read()
            self.assertRegex(table, r"\| dag depth 40 \| 40 \| 0\.0 \| [0-9.]+ \|")
            self.assertIn("not installed", table)
            self.assertEqual(self.run_bench(tmp, "one"), 0)
            self.assertEqual(self.run_bench(tmp, "two"), 1)
            self.assertEqual(measure.load_hashes(os.path.join(tmp, "hashes.txt")), hashes)
        finally:
            shutil.rmtree(tmp)


class ABTest(unittest.TestCase):
    """bench/ab.py with stand-in translators: equal grammars are compared, a difference in the
    grammars or a failing run fails the comparison."""

    FAKE = """#!/bin/sh
for last; do :; done
cat "$2" > "$last"
echo "%s" >> "$last"
exit %d
"""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ab-test-")
        self.schema = os.path.join(self.tmp, "main.pvx")
        with open(self.schema, "w") as f:
            f.write("bool a;\n")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def fake(self, name, extra, status=0):
        path = os.path.join(self.tmp, name)
        with open(path, "w") as f:
            f.write(self.FAKE % (extra, status))
        os.chmod(path, 0o755)
        return path

    def run_ab(self, *args):
        old = sys.stdout, sys.stderr
        sys.stdout, sys.stderr = out, _ = io.StringIO(), io.StringIO()
        try:
            code = ab.main(list(args))
        finally:
            sys.stdout, sys.stderr = old
        return code, out.getvalue()

    def test_equal_grammars_give_both_minima_and_the_ratio(self):
        a, b = self.fake("a", "one"), self.fake("b", "one")
        # The options after the schema reach both binaries first ($2 is the schema).
        code, out = self.run_ab(a, b, self.schema, "-n", "3", "--", "--threads=1")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"(?m)^A  min +[0-9.]+ s  median +[0-9.]+ s")
        self.assertRegex(out, r"(?m)^B  min +[0-9.]+ s ")
        self.assertRegex(out, r"wall B/A [0-9.]+ \(min of 3; noise about [0-9.]+%\)")
        self.assertIn("with --threads=1", out)

    def test_different_grammars_and_failing_runs_fail(self):
        a, b = self.fake("a", "one"), self.fake("b", "two")
        self.assertEqual(self.run_ab(a, b, self.schema, "-n", "1", "--", "-x")[0], 1)
        bad = self.fake("bad", "one", status=3)
        with self.assertRaisesRegex(RuntimeError, "status 3"):
            self.run_ab(a, bad, self.schema, "-n", "1", "--", "-x")

    @unittest.skipUnless(shutil.which("valgrind"), "valgrind not installed")
    def test_callgrind_counts_instructions(self):
        a = self.fake("a", "one")
        code, out = self.run_ab(a, a, self.schema, "-n", "1", "--warmup", "0", "--callgrind",
                                "--", "-x")
        self.assertEqual(code, 0)
        found = re.search(r"instructions A (\d+)  B (\d+)  B/A ([0-9.]+)", out)
        self.assertIsNotNone(found, out)
        self.assertGreater(int(found.group(1)), 1000)


BINARY = os.environ.get("BENCH_BINARY")
BINARY = os.path.abspath(BINARY) if BINARY else None


@unittest.skipUnless(BINARY and os.access(BINARY, os.X_OK), "BENCH_BINARY not set")
class TranslateTest(unittest.TestCase):
    """The generated Pavex schemas translate without a diagnostic, and every definition but the
    root is referenced by some rule."""

    def test_every_shape_translates_cleanly(self):
        tmp = tempfile.mkdtemp(prefix="bench-test-")
        try:
            for shape in gen_schema.SHAPES:
                folder = os.path.join(tmp, shape)
                stems = gen_schema.generate(folder, shape=shape, n=60, modules=3)
                cmd = measure.pvx_command(BINARY, stems)
                env = dict(os.environ, SOURCE_DATE_EPOCH=measure.EPOCH)
                out = subprocess.run(cmd, cwd=folder, env=env, capture_output=True, text=True,
                                     timeout=60).stdout
                self.assertRegex(out, r"(?m)^0 error\(s\), 0 warning\(s\)$", shape)
                self.assertNotIn("has not been referenced", out, shape)
                self.assertNotIn("ERROR:", out, shape)
                self.assertNotIn("WARNING:", out, shape)
                with open(os.path.join(folder, "out.abnf")) as f:
                    rules = re.findall(r"(?m)^(Msg\d+) = ", f.read())
                self.assertEqual(len(rules), 60, shape)
        finally:
            shutil.rmtree(tmp)


class CheckMessageTest(unittest.TestCase):
    def test_message_has_the_size_asked_for_and_passes_the_checker(self):
        tmp = tempfile.mkdtemp()
        try:
            path = os.path.join(tmp, "m.txt")
            size, items = check_message.write_message(path, 20000)
            self.assertGreaterEqual(size, 20000)
            self.assertLess(size, 20000 + 400)
            self.assertGreater(items, 50)
            if not (BINARY and os.access(BINARY, os.X_OK)):
                return
            for name in ("orders.pvx", "orders.pvxcfg", "common.pvx"):
                shutil.copy(os.path.join(check_message.EXAMPLES, name), tmp)
            out = subprocess.run([BINARY, "--check=m.txt", "orders.pvx", "+", "common.pvx"],
                                 cwd=tmp, capture_output=True, text=True, timeout=60)
            self.assertEqual(out.returncode, 0, out.stdout)
            self.assertIn("1 of 1 message(s) valid", out.stdout)
        finally:
            shutil.rmtree(tmp)


if __name__ == "__main__":
    unittest.main()
