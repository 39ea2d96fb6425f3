#!/usr/bin/env python3
"""Time per byte of the message checker on schemas whose messages can be read in many ways.

Each schema has union alternatives or optional members that share a tag, so that the reading
the checker prefers is the wrong one at every level; the messages nest such values, repeat them
in a list and put long runs of blanks between them. Each message is checked valid as written and
invalid with one byte changed at its end (so the search must rule out every reading). Linear
checking gives the same time per byte at every size.

    python3 bench/check_ambiguous.py --binary build-release/pvx2abnf [--sizes 40e3,400e3,4e6]
"""

import argparse
import os
import subprocess
import tempfile
import time

SCHEMAS = {
    # Two alternatives share the tag x; the first is wrong for every value.
    "alternatives": (
        "pavex module m;\n"
        "struct Root { U items [*]; };\n"
        "union U { S1 a as x; S2 b as x; };\n"
        "struct S1 { U u [?]; bool p; };\n"
        "struct S2 { U u [?]; bool q; };\n",
        lambda depth, blanks: nested("x=" + blanks + "{q=T}", depth, blanks, "x=%s{u=%s q=T}")),
    # Two optional members share the tag x; the first is wrong for every value.
    "optional members": (
        "pavex module m;\n"
        "struct Root { S items [*]; };\n"
        "struct S { S1 a [?] as x; S2 b [?] as x; };\n"
        "struct S1 { S u [?]; bool p; };\n"
        "struct S2 { S u [?]; bool q; };\n",
        lambda depth, blanks: nested("{x=" + blanks + "{q=T}}", depth, blanks,
                                     "{x=%s{u=%s q=T}}")),
}


def nested(inner, depth, blanks, form):
    s = inner
    for _ in range(depth):
        s = form % (blanks, s)
    return s


def message(make, size):
    item = make(12, " " * 40)
    count = max(1, size // (len(item) + 60))
    return "items = " + (" " * 29 + "," + " " * 29).join([item] * count) + "\n"


def check(binary, work, text):
    path = os.path.join(work, "message.txt")
    with open(path, "w") as f:
        f.write(text)
    start = time.perf_counter()
    result = subprocess.run([binary, "--check=message.txt", "schema.pvx"], cwd=work,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    return elapsed, result.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--sizes", default="40e3,400e3,4e6")
    options = parser.parse_args()
    binary = os.path.abspath(options.binary)
    sizes = [int(float(s)) for s in options.sizes.split(",")]
    print("| schema | message | KB | status | ms | ns/byte |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="check-ambiguous-") as work:
        for name, (schema, make) in SCHEMAS.items():
            with open(os.path.join(work, "schema.pvx"), "w") as f:
                f.write(schema)
            for size in sizes:
                text = message(make, size)
                for kind, body in (("valid", text), ("invalid", text + " }\n")):
                    elapsed, status = check(binary, work, body)
                    print("| %s | %s | %.0f | %d | %.1f | %.1f |" %
                          (name, kind, len(body) / 1e3, status, elapsed * 1e3,
                           elapsed * 1e9 / len(body)))


if __name__ == "__main__":
    main()
