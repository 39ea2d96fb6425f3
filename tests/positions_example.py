#!/usr/bin/env python3
"""Every kind of diagnostic of the sources names the line and column that
grep -n shows, in every error form, on the bundled example: a file with
leading text and two modules, the mistakes put into its second module.

Usage: positions_example.py --binary PATH --examples FOLDER
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (what is wrong, text of the example replaced, its replacement, extra
# options, the line as grep finds it, the text the column points at, the
# start of the message; what the msvc form, which folds nothing, reports
# first, when it is something else)
CASES = [
    ("unknown type name", "    ord::OrderRequest request;",
     "    /* größe */ ord::OrderRequst request;", [],
     "ord::OrderRequst request;", "ord::OrderRequst", "Unable to expand definition"),
    ("cardinality", "    ipv6 client6 [?];", "    ipv6 client6 [1..];", [],
     "ipv6 client6 [1..];", "];", "Illegal cardinality format"),
    ("missing semicolon", "    ipv4 client;", "    ipv4 client\n    ipv4 relay;", [],
     "ipv4 relay;", "ipv4 relay", "Unexpected token: ipv4"),
    ("suffix after the tag", "    ipv6 client6 [?];", "    ipv6 client6 as c6 [?];", [],
     "ipv6 client6 as c6", "[?]", "Unexpected token ["),
    ("plug target", "into shop.orders::OrderRequest;", "into shop.orders::OrderReqest;", [],
     "into shop.orders::OrderReqest;", "shop.orders::OrderReqest",
     "Unable to locate definition"),
    ("missing module", "import shop.orders as ord;", "import shop.ordrs as ord;", [],
     "import shop.ordrs as ord;", "shop.ordrs", "No source declares module shop.ordrs",
     # The msvc form reports every reference through the import instead.
     ("ord::OrderRequest request;", "ord::OrderRequest", "Unable to expand definition")),
    ("duplicate cardinality", "    time logged;",
     "    time logged;\n    Trail trail [?];\n};\nord::Line Trail [1..*];\nstruct Spare {\n"
     "    int<1..2> spare;", [],
     "Trail trail [?];", "trail", "Illegal duplicate cardinality"),
    ("strict range", "    ipv4 client;", "    ipv4 client;\n    int<9..1> reversed;",
     ["--strict-abnf"], "int<9..1> reversed;", "reversed", "Reversed range"),
]

FORMS = {
    "gcc": (["--error-format=gcc"], re.compile(r"^m\.pvx:(\d+):(\d+): error: (.*)$", re.M)),
    "msvc": (["--file-positions"], re.compile(r"^m\.pvx\((\d+),(\d+)\) : error: (.*)$", re.M)),
    "pretty": (["--error-format=pretty", "--color=never"],
               re.compile(r"^m\.pvx:(\d+):(\d+): error: (.*)$", re.M)),
}


def grep_line(folder, text):
    out = subprocess.run(["grep", "-n", "-F", "--", text, "m.pvx"], cwd=folder,
                         capture_output=True, check=True).stdout.decode("utf-8")
    lines = out.splitlines()
    assert len(lines) == 1, "grep finds %r on %d lines" % (text, len(lines))
    number, content = lines[0].split(":", 1)
    return int(number), content


def positions(binary, folder, form, extra):
    options, pattern = FORMS.get(form, (["--error-format=json"], None))
    run = subprocess.run([binary] + options + extra + ["m.pvx", "+", "common.pvx", "out.abnf"],
                         cwd=folder, capture_output=True)
    text = run.stdout.decode("utf-8")
    if pattern is None:
        found = []
        for line in text.splitlines():
            if line.startswith("{"):
                obj = json.loads(line)
                found.append((obj["line"], obj.get("column"), obj["message"]))
        return run.returncode, found, text
    return run.returncode, [(int(a), int(b), c) for a, b, c in pattern.findall(text)], text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--examples", required=True)
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    failures = 0
    with open(os.path.join(args.examples, "orders.pvx"), encoding="utf-8") as f:
        original = f.read()
    # The mistakes go into the second module, after the leading text and
    # the whole first module.
    second = original.index("pavex module shop.audit;")
    for what, old, new, extra, grep_text, target, message, *unfolded in CASES:
        at = original.index(old, second)
        source = original[:at] + new + original[at + len(old):]
        with tempfile.TemporaryDirectory() as folder:
            for name in ("common.pvx", "orders.pvxcfg"):
                shutil.copy(os.path.join(args.examples, name), folder)
            shutil.copy(os.path.join(args.examples, "orders.pvxcfg"),
                        os.path.join(folder, "m.pvxcfg"))
            with open(os.path.join(folder, "m.pvx"), "w", encoding="utf-8") as f:
                f.write(source)
            for form in ("gcc", "json", "msvc", "pretty"):
                expected = unfolded[0] if form == "msvc" and unfolded else (grep_text, target,
                                                                            message)
                line, content = grep_line(folder, expected[0])
                column = content.index(expected[1]) + 1
                wanted = expected[2]
                status, found, output = positions(binary, folder, form, extra)
                # The msvc form does not fold follow-on errors: its first
                # error is the one.
                if form == "msvc":
                    found = found[:1]
                if status != 1 or len(found) != 1 or found[0][:2] != (line, column) or \
                        not found[0][2].startswith(wanted):
                    failures += 1
                    print("FAIL %s (%s): expected one error %r at %d:%d, got status %d:\n%s" %
                          (what, form, wanted, line, column, status, output))
                else:
                    print("ok   %s (%s): %d:%d" % (what, form, line, column))
    failures += many_unknown_names(binary)
    if failures:
        print("%d failure(s)" % failures)
        return 1
    return 0


def many_unknown_names(binary):
    """A schema of 60,000 definitions, each with an unknown reference: the
    close names are searched a bounded number of times, so the gcc form is
    about as quick as the msvc form (it once took minutes)."""
    lines = ["pavex module big;"]
    lines += ["struct S%d { Unknown%d a; };" % (i, i) for i in range(60000)]
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "big.pvx"), "w") as f:
            f.write("\n".join(lines) + "\n")
        try:
            run = subprocess.run([binary, "--error-format=gcc", "big.pvx", "out.abnf"], cwd=folder,
                                 capture_output=True, timeout=60)
        except subprocess.TimeoutExpired:
            print("FAIL many unknown names: the gcc form took more than 60 s")
            return 1
        errors = run.stdout.count(b": error: Unable to expand definition")
        if run.returncode != 1 or errors != 60000:
            print("FAIL many unknown names: status %d, %d errors" % (run.returncode, errors))
            return 1
    print("ok   many unknown names (gcc): 60000 errors")
    return 0


if __name__ == "__main__":
    sys.exit(main())
