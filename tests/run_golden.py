#!/usr/bin/env python3
"""Runs golden end-to-end cases of pvx2abnf and shows a diff for each failure.

A case is a folder holding a file `cmd`; see tests/README.md for the format.
Usage: run_golden.py --binary PATH [--rebase] FOLDER...
Each FOLDER is a case or a folder of cases (searched recursively).
"""
import argparse
import difflib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

CONTROL_FILES = {"cmd", "stdout", "status", "env", "absent", "README"}
DEFAULT_EPOCH = "1700000000"

# The usage text shows the build date and time; mask them.
USAGE_DATE = re.compile(rb"^(                       Pavex 2 ABNF Converter          ).*$", re.M)
USAGE_TIME = re.compile(rb"^(                       ======================          ).*$", re.M)


def mask(data):
    data = USAGE_DATE.sub(rb"\1<build date>", data)
    return USAGE_TIME.sub(rb"\1<build time>", data)


def find_cases(folder):
    if os.path.isfile(os.path.join(folder, "cmd")):
        return [folder]
    cases = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isdir(path):
            cases.extend(find_cases(path))
    return cases


def read(path):
    with open(path, "rb") as f:
        return f.read()


def show_diff(label, expected, actual):
    exp = expected.decode("latin-1").splitlines(keepends=True)
    act = actual.decode("latin-1").splitlines(keepends=True)
    lines = difflib.unified_diff(exp, act, "expected " + label, "actual " + label)
    out = []
    for line in lines:
        if not line.endswith("\n"):
            line += "\n\\ No newline at end of file\n"
        out.append(line)
    sys.stdout.write("".join(out))


JSON_KEYS = ["file", "line", "severity", "message"]


def json_problems(stdout):
    """With --error-format=json every line that starts with "{" must be one
    diagnostic: strict UTF-8, a JSON object with exactly the keys file, line,
    severity and message, of the right types."""
    problems = []
    for number, raw in enumerate(stdout.split(b"\n"), 1):
        if not raw.startswith(b"{"):
            continue
        try:
            obj = json.loads(raw.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            problems.append("stdout line %d is not JSON (%s)" % (number, e))
            continue
        if not isinstance(obj, dict) or sorted(obj) != sorted(JSON_KEYS):
            problems.append("stdout line %d: keys are not %s" % (number, JSON_KEYS))
            continue
        if not (obj["file"] is None or isinstance(obj["file"], str)):
            problems.append("stdout line %d: file is neither text nor null" % number)
        if not (obj["line"] is None or (type(obj["line"]) is int and obj["line"] > 0)):
            problems.append("stdout line %d: line is neither a positive number nor null" % number)
        if obj["line"] is not None and obj["file"] is None:
            problems.append("stdout line %d: a line without a file" % number)
        if obj["severity"] not in ("fatal", "error", "warning"):
            problems.append("stdout line %d: unknown severity" % number)
        if not isinstance(obj["message"], str) or obj["message"].endswith("\n"):
            problems.append("stdout line %d: message is not one line of text" % number)
    return problems


def wants_json(args):
    for i, a in enumerate(args):
        if a == "--error-format=json" or (a == "--error-format" and args[i + 1:i + 2] == ["json"]):
            return True
    return False


def run_case(binary, case, rebase):
    with open(os.path.join(case, "cmd"), encoding="utf-8") as f:
        args = shlex.split(f.read())
    env = dict(os.environ)
    env["SOURCE_DATE_EPOCH"] = DEFAULT_EPOCH
    env_file = os.path.join(case, "env")
    if os.path.exists(env_file):
        with open(env_file, encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\n")
                if not line:
                    continue
                key, _, value = line.partition("=")
                if value == "" and not _:
                    env.pop(key, None)
                else:
                    env[key] = value

    expected_dir = os.path.join(case, "expected")
    with tempfile.TemporaryDirectory(prefix="pvx-golden-") as work:
        inputs = set()
        for name in os.listdir(case):
            src = os.path.join(case, name)
            if name in CONTROL_FILES or name == "expected":
                continue
            inputs.add(name)
            if os.path.isdir(src):
                shutil.copytree(src, os.path.join(work, name))
            else:
                shutil.copy2(src, os.path.join(work, name))
        proc = subprocess.run([binary] + args, cwd=work, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        actual_stdout = mask(proc.stdout)
        actual_status = proc.returncode

        produced = {}
        for name in sorted(os.listdir(work)):
            if name in inputs:
                continue
            path = os.path.join(work, name)
            if os.path.isfile(path):
                produced[name] = mask(read(path))

        if rebase:
            with open(os.path.join(case, "stdout"), "wb") as f:
                f.write(actual_stdout)
            status_file = os.path.join(case, "status")
            if actual_status != 0:
                with open(status_file, "w") as f:
                    f.write("%d\n" % actual_status)
            elif os.path.exists(status_file):
                os.remove(status_file)
            if os.path.isdir(expected_dir):
                shutil.rmtree(expected_dir)
            if produced:
                os.makedirs(expected_dir)
                for name, data in produced.items():
                    with open(os.path.join(expected_dir, name), "wb") as f:
                        f.write(data)
            return True

        ok = True
        expected_stdout = read(os.path.join(case, "stdout")) if os.path.exists(
            os.path.join(case, "stdout")) else b""
        if actual_stdout != expected_stdout:
            ok = False
            show_diff("stdout", expected_stdout, actual_stdout)
        status_file = os.path.join(case, "status")
        expected_status = int(open(status_file).read().strip()) if os.path.exists(status_file) else 0
        if actual_status != expected_status:
            ok = False
            print("exit status: expected %d, got %d" % (expected_status, actual_status))
        if wants_json(args):
            for problem in json_problems(proc.stdout):
                ok = False
                print(problem)
        if proc.stderr:
            ok = False
            print("unexpected standard error:\n" + proc.stderr.decode("latin-1"))

        expected_files = {}
        if os.path.isdir(expected_dir):
            for name in sorted(os.listdir(expected_dir)):
                expected_files[name] = read(os.path.join(expected_dir, name))
        for name, data in expected_files.items():
            if name not in produced:
                ok = False
                print("expected output file %s was not written" % name)
            elif produced[name] != data:
                ok = False
                show_diff(name, data, produced[name])
        for name in produced:
            if name not in expected_files:
                ok = False
                print("unexpected file written: %s" % name)
        return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--rebase", action="store_true",
                        help="write the actual results into the cases")
    parser.add_argument("folders", nargs="+")
    opts = parser.parse_args()
    binary = os.path.abspath(opts.binary)

    cases = []
    for folder in opts.folders:
        cases.extend(find_cases(folder))
    failed = []
    for case in cases:
        try:
            ok = run_case(binary, case, opts.rebase)
        except subprocess.TimeoutExpired:
            print("timed out")
            ok = False
        if not ok:
            print("FAILED: %s\n" % case)
            failed.append(case)
    print("%d passed, %d failed" % (len(cases) - len(failed), len(failed)))
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
