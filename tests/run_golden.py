#!/usr/bin/env python3
"""Runs golden end-to-end cases of pvx2abnf and shows a diff for each failure.

A case is a folder holding a file `cmd`; see tests/README.md for the format.
Usage: run_golden.py --binary PATH [--rebase] FOLDER...
Each FOLDER is a case or a folder of cases (searched recursively).
"""
import argparse
import difflib
import html.parser
import json
import os
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile

CONTROL_FILES = {"cmd", "stdout", "stderr", "status", "env", "absent", "README", "mkfifo",
                 "stdout-to", "fsize", "stdin", "witnesses"}
DEFAULT_EPOCH = "1700000000"

# The usage text shows the build date and time; mask them.
USAGE_DATE = re.compile(rb"^(                       Pavex 2 ABNF Converter          ).*$", re.M)
USAGE_TIME = re.compile(rb"^(                       ======================          ).*$", re.M)


def mask(data):
    data = USAGE_DATE.sub(rb"\1<build date>", data)
    return USAGE_TIME.sub(rb"\1<build time>", data)


class PageText(html.parser.HTMLParser):
    """The text a reader sees on an HTML page, without its styling: one
    line per block, cells split by " | ", each id as {#id} where its
    element starts, each link as [text](href), a diagram as its box texts
    in order; style and script are left out, but the details a large page
    keeps as text in a script element are read as the page shows them."""

    BLOCKS = {"p", "h1", "h2", "h3", "h4", "li", "tr", "pre", "figure", "figcaption", "section",
              "article", "nav", "header", "main", "table", "ul", "svg", "div"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.lines = [""]
        self.skip = 0
        self.pre = 0
        self.links = []

    def newline(self):
        if self.lines[-1].strip():
            self.lines[-1] = self.lines[-1].rstrip()
            self.lines.append("")

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag in ("style", "script", "title"):
            self.skip += 1
            return
        if tag in self.BLOCKS:
            self.newline()
        if tag == "pre":
            self.pre += 1
        if tag == "svg":
            self.lines[-1] += "diagram:"
        if tag in ("td", "th") and self.lines[-1].strip():
            self.lines[-1] += " |"
        if "id" in a:
            self.put("{#%s}" % a["id"])
        if tag == "a" and "href" in a:
            self.put("[")
            self.links.append(a["href"])
        if tag == "br":
            self.put("/")
        if tag == "input":
            self.put("<input: %s>" % a.get("placeholder", ""))

    def handle_endtag(self, tag):
        if tag in ("style", "script", "title"):
            self.skip = max(0, self.skip - 1)
            return
        if tag == "a" and self.links:
            self.lines[-1] += "](%s)" % self.links.pop()
        if tag == "pre":
            self.pre -= 1
        if tag in self.BLOCKS:
            self.newline()

    def put(self, text):
        last = self.lines[-1]
        if last and not last.endswith((" ", "[")):
            text = " " + text
        self.lines[-1] += text

    def handle_data(self, data):
        if self.skip:
            return
        if self.pre:
            parts = data.split("\n")
            self.lines[-1] += parts[0]
            self.lines.extend(parts[1:])
            return
        text = " ".join(data.split())
        if text:
            self.put(text)

    def text(self):
        return "\n".join(line.rstrip() for line in self.lines).strip() + "\n"


def page_text(data):
    """An HTML page as PageText reads it; a large page's deferred details
    (script elements of type text/html) are read in place."""
    source = data.decode("utf-8")
    source = re.sub(r'<script type="text/html" class="later">(.*?)</script>',
                    lambda m: m.group(1), source, flags=re.S)
    reader = PageText()
    reader.feed(source)
    reader.close()
    return reader.text().encode("utf-8")


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
JSON_OPTIONAL_KEYS = ["column", "help", "follow_on"]  # a column after a line; what people are told


def json_problems(stdout):
    """With --error-format=json every line that starts with "{" must be one
    diagnostic: strict UTF-8, a JSON object with exactly the keys file, line,
    severity and message (and column, after a line), of the right types."""
    problems = []
    for number, raw in enumerate(stdout.split(b"\n"), 1):
        if not raw.startswith(b"{"):
            continue
        try:
            obj = json.loads(raw.decode("utf-8", errors="strict"))
        except (UnicodeDecodeError, ValueError) as e:
            problems.append("stdout line %d is not JSON (%s)" % (number, e))
            continue
        if not isinstance(obj, dict) or sorted(k for k in obj if k not in JSON_OPTIONAL_KEYS) != sorted(JSON_KEYS):
            problems.append("stdout line %d: keys are not %s" % (number, JSON_KEYS))
            continue
        if not (obj["file"] is None or isinstance(obj["file"], str)):
            problems.append("stdout line %d: file is neither text nor null" % number)
        if not (obj["line"] is None or (type(obj["line"]) is int and obj["line"] > 0)):
            problems.append("stdout line %d: line is neither a positive number nor null" % number)
        if "column" in obj and not (type(obj["column"]) is int and obj["column"] > 0
                                    and obj["line"] is not None):
            problems.append("stdout line %d: column is not a positive number after a line" % number)
        if obj["line"] is not None and obj["file"] is None:
            problems.append("stdout line %d: a line without a file" % number)
        if obj["severity"] not in ("fatal", "error", "warning"):
            problems.append("stdout line %d: unknown severity" % number)
        if not isinstance(obj["message"], str) or obj["message"].endswith("\n"):
            problems.append("stdout line %d: message is not one line of text" % number)
        if "help" in obj and not (isinstance(obj["help"], str) and obj["help"]):
            problems.append("stdout line %d: help is not a text" % number)
        if "follow_on" in obj and not (type(obj["follow_on"]) is int and obj["follow_on"] > 0):
            problems.append("stdout line %d: follow_on is not a positive number" % number)
    return problems


STREAM_KINDS = {"diagnostic", "note", "summary"}


def json_lines(stream, name):
    """Each line of `stream` read as JSON: (line number, object) pairs, and
    the problems of the lines that are not JSON."""
    objects, problems = [], []
    for number, raw in enumerate(stream.split(b"\n"), 1):
        if not raw:
            continue
        try:
            objects.append((number, json.loads(raw.decode("utf-8", errors="strict"))))
        except (UnicodeDecodeError, ValueError) as e:
            problems.append("%s line %d is not JSON (%s)" % (name, number, e))
    return objects, problems


def json_stream_problems(stream):
    """With --error-format=json and the diagnostics on standard error, every
    line of that stream is a JSON object with a "kind"."""
    objects, problems = json_lines(stream, "stderr")
    for number, obj in objects:
        if not isinstance(obj, dict) or obj.get("kind") not in STREAM_KINDS:
            problems.append("stderr line %d: no kind of %s" % (number, sorted(STREAM_KINDS)))
    return problems


LISTING_KEYS = {"name": str, "kind": str, "file": str, "line": int, "column": int,
                "referenced": bool}


def listing_problems(stream):
    """The --list form of --error-format=json: a JSON object a line, each
    with exactly the listing's keys."""
    objects, problems = json_lines(stream, "stdout")
    for number, obj in objects:
        if not isinstance(obj, dict) or set(obj) != set(LISTING_KEYS) or any(
                type(obj[k]) is not t for k, t in LISTING_KEYS.items()):
            problems.append("stdout line %d: not a listing object" % number)
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
            dst = os.path.join(work, name)
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
            elif os.path.isdir(src):
                shutil.copytree(src, dst, symlinks=True)
            else:
                shutil.copy2(src, dst)
        fifo_file = os.path.join(case, "mkfifo")
        if os.path.exists(fifo_file):
            with open(fifo_file, encoding="utf-8") as f:
                for name in f.read().split():
                    os.mkfifo(os.path.join(work, name))
                    inputs.add(name)

        # Standard output goes to a pipe that is compared, or to the file
        # named in `stdout-to` ("closed": no standard output at all).
        stdout_to = None
        stdout_file = os.path.join(case, "stdout-to")
        if os.path.exists(stdout_file):
            with open(stdout_file, encoding="utf-8") as f:
                stdout_to = f.read().strip()
        # `fsize`: the most bytes a file the run writes may hold (ulimit -f);
        # the run starts with the signal of that limit at its default.
        limits = {}
        fsize_file = os.path.join(case, "fsize")
        if os.path.exists(fsize_file):
            with open(fsize_file, encoding="utf-8") as f:
                fsize = int(f.read().strip())
            limits["preexec_fn"] = lambda: resource.setrlimit(resource.RLIMIT_FSIZE,
                                                              (fsize, fsize))
        # `stdin`: what standard input holds (else nothing).
        stdin_file = os.path.join(case, "stdin")
        stdin_bytes = read(stdin_file) if os.path.exists(stdin_file) else b""
        limits["input"] = stdin_bytes
        if stdout_to is None:
            proc = subprocess.run([binary] + args, cwd=work, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=120, **limits)
        elif stdout_to == "closed":
            proc = subprocess.run(["sh", "-c", 'exec "$@" >&-', "sh", binary] + args, cwd=work,
                                  env=env, stderr=subprocess.PIPE, timeout=120, **limits)
        else:
            with open(stdout_to, "wb") as out:
                proc = subprocess.run([binary] + args, cwd=work, env=env, stdout=out,
                                      stderr=subprocess.PIPE, timeout=120, **limits)
        actual_stdout = mask(proc.stdout) if proc.stdout is not None else b""
        actual_stderr = proc.stderr
        actual_status = proc.returncode

        # An input stays as it was unless expected/ holds what it becomes; a
        # symbolic link stays the same link in any case.
        expected_names = set(os.listdir(expected_dir)) if os.path.isdir(expected_dir) else set()
        changed = []
        rewritten = {}
        for name in sorted(inputs):
            src = os.path.join(case, name)
            dst = os.path.join(work, name)
            if os.path.islink(src):
                if not os.path.islink(dst) or os.readlink(dst) != os.readlink(src):
                    changed.append(name)
                    continue
            if not os.path.isfile(src):
                continue
            now = read(dst) if os.path.isfile(dst) else None
            if name in expected_names or (rebase and now != read(src)):
                rewritten[name] = mask(now) if now is not None else b"<removed>"
            elif now != read(src):
                changed.append(name)

        produced = dict(rewritten)
        for name in sorted(os.listdir(work)):
            if name in inputs:
                continue
            path = os.path.join(work, name)
            if os.path.isfile(path) or os.path.islink(path):
                produced[name] = mask(read(path)) if os.path.exists(path) else b"<dangling link>"
                # A page is compared by what it says, not by its styling.
                if name.endswith(".html") and os.path.isfile(path):
                    produced[name] = page_text(read(path))

        if rebase:
            with open(os.path.join(case, "stdout"), "wb") as f:
                f.write(actual_stdout)
            stderr_file = os.path.join(case, "stderr")
            if actual_stderr:
                with open(stderr_file, "wb") as f:
                    f.write(actual_stderr)
            elif os.path.exists(stderr_file):
                os.remove(stderr_file)
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
        listing = "--list" in args
        streamed = listing or any(
            a == "-" or a.endswith("=-") or a == "--diagnostics=stderr" for a in args)
        if wants_json(args) and listing:
            for problem in listing_problems(actual_stdout):
                ok = False
                print(problem)
        if wants_json(args) and not streamed:
            for problem in json_problems(actual_stdout):
                ok = False
                print(problem)
        elif wants_json(args):
            for problem in json_stream_problems(actual_stderr):
                ok = False
                print(problem)
        stderr_file = os.path.join(case, "stderr")
        expected_stderr = read(stderr_file) if os.path.exists(stderr_file) else b""
        if actual_stderr != expected_stderr:
            ok = False
            show_diff("stderr", expected_stderr, actual_stderr)
        for name in changed:
            ok = False
            print("input file changed: %s" % name)

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
        return check_witnesses(binary, case, work) and ok


def check_witnesses(binary, case, work):
    """`witnesses`: lines "FILE | ARGS | ARGS": the message FILE the run wrote
    is checked (--check) with the first arguments, which must accept it, and
    with the second, which must reject it."""
    path = os.path.join(case, "witnesses")
    if not os.path.exists(path):
        return True
    ok = True
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.strip():
                continue
            name, accept, reject = (part.strip() for part in line.split("|"))
            for args, want in ((accept, 0), (reject, 1)):
                proc = subprocess.run([binary, "-q", "--check=" + name] + shlex.split(args),
                                      cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      timeout=120)
                if proc.returncode != want:
                    ok = False
                    print("witness %s: %s %s, status %d" % (
                        name, "accepted" if proc.returncode == 0 else "not accepted", args,
                        proc.returncode))
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
