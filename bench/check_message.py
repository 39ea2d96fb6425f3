#!/usr/bin/env python3
"""Time the message checker on a large message of the bundled example, against reading it.

The message is one order request of the bundled example (examples/orders.pvx) whose `items`
repeat until the message has the size asked for (10 MB by default), every item with a picture
of Base64 data, so that each value form the example has is read many times. The checker
(`pvx2abnf --check=FILE orders.pvx + common.pvx`) and the floor (`cat FILE > /dev/null`, the time
to read the message) run one after another in each repetition; the row gives the median and the
spread (lowest to highest) of each, and the checker's throughput. With --instructions the
checker's instruction count comes from valgrind --tool=callgrind as well, a figure that does not
depend on what else the machine is doing.

    python3 bench/check_message.py --binary build-release/pvx2abnf [--mb 10] [--reps 5]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BENCH_DIR = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(BENCH_DIR, "..", "examples")

HEAD = ("id = 4711\n"
        "customer = { cid = 17 name = \"Zo\u00eb M\u00fcller\" email = 'zoe@example.org' vip = T }\n"
        "items = ")
ITEM = ("{{ sku = {sku} qty = {qty} desc = \"Item {sku}\"\n"
        "  picture = [QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0"
        "NTY3ODk=] }}")
TAIL = ("\ntotal = { cents = -1999 currency = EUR }\n"
        "placed = 2024-02-29\nplaced-at = 23:59:59\nnote = 'leave at the door'\n")


def write_message(path, size):
    """Writes the message of at least `size` bytes; returns its size and number of items."""
    items = 0
    written = 0
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        written += f.write(HEAD)
        while written < size:
            if items > 0:
                written += f.write(",\n")
            items += 1
            written += f.write(ITEM.format(sku=items % 999999 + 1, qty=items % 100 + 1))
        written += f.write(TAIL)
    return os.path.getsize(path), items


def timed(args, cwd, stdout=subprocess.DEVNULL):
    start = time.perf_counter()
    result = subprocess.run(args, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    return elapsed, result


def instructions(binary, cwd, message):
    """The checker's instruction count under callgrind, or None without valgrind."""
    if shutil.which("valgrind") is None:
        return None
    out = os.path.join(cwd, "callgrind.out")
    result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                             binary, "--check=" + message, "orders.pvx", "+", "common.pvx"],
                            cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    found = re.search(r"Collected : (\d+)", result.stderr)
    return int(found.group(1)) if found else None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--mb", type=float, default=10.0, help="message size in MB (10)")
    parser.add_argument("--reps", type=int, default=5, help="repetitions (5)")
    parser.add_argument("--instructions", action="store_true",
                        help="count the checker's instructions with callgrind")
    options = parser.parse_args(argv)

    binary = os.path.abspath(options.binary)
    with tempfile.TemporaryDirectory(prefix="check-bench-") as work:
        for name in ("orders.pvx", "orders.pvxcfg", "common.pvx"):
            shutil.copy(os.path.join(EXAMPLES, name), work)
        message = os.path.join(work, "message.txt")
        size, items = write_message(message, int(options.mb * 1e6))

        checker, floor = [], []
        for _ in range(options.reps):
            elapsed, result = timed([binary, "--check=message.txt", "orders.pvx", "+",
                                     "common.pvx"], work, stdout=subprocess.PIPE)
            if result.returncode != 0:
                sys.stdout.write(result.stdout.decode("utf-8", "replace"))
                raise SystemExit("the checker rejected the benchmark message")
            checker.append(elapsed)
            with open(os.devnull, "wb") as null:
                start = time.perf_counter()
                subprocess.run(["cat", message], stdout=null, check=True)
                floor.append(time.perf_counter() - start)
        counted = instructions(binary, work, message) if options.instructions else None

    def ms(values):
        return "%.1f (%.1f-%.1f)" % (statistics.median(values) * 1e3, min(values) * 1e3,
                                     max(values) * 1e3)

    median = statistics.median(checker)
    print("| message | MB | items | check ms (low-high) | MB/s | read ms (low-high) | of the read |"
          + (" instructions/byte |" if counted else ""))
    print("|---|---|---|---|---|---|---|" + ("---|" if counted else ""))
    print("| order request | %.1f | %d | %s | %.0f | %s | %.1f× |%s" %
          (size / 1e6, items, ms(checker), size / 1e6 / median, ms(floor),
           median / statistics.median(floor), " %.1f |" % (counted / size) if counted else ""))


if __name__ == "__main__":
    main()
