#!/usr/bin/env python3
"""Generate one message schema in three languages: Pavex, proto3 and FlatBuffers schema.

The same N definitions of F fields each are written as Pavex modules (main.pvx plus, for the
`modules` shape, lib1.pvx ... libK.pvx), as proto3 (main.proto, lib*.proto) and as a FlatBuffers
schema (main.fbs, lib*.fbs), so that pvx2abnf and the peer schema compilers translate the same
thing. Every definition is a structure (message, table) named Msg<i>; Msg0 comes first and is the
root. A field either has a scalar type (integers with ranges, strings, bool, bytes, date, ipv4) or
refers to another definition; a reference always points further down the file, so the references
form an acyclic graph.

Shapes:
  random   every definition is reachable from the root: each definition except the root is the
           target of one reference slot of an earlier definition, picked at random among the free
           slots (a random tree); slots left over refer to random later definitions.
           round(F * share) fields of each definition are references.
  chain    Msg<i> has one field of type Msg<i+1>.
  dag      Msg<i> has two fields of type Msg<i+1> (a doubling DAG: 2^N paths from the root).
  deepdag  Msg<i> has two fields of type Msg<i+1> and two of type Msg<i+2>: a DAG as deep as it
           is long, with more paths from the root than any walk could follow one by one.
  modules  like random, split into a main module and K library modules of equal size, each in its
           own file; a module imports the modules it refers to and names their definitions
           through an alias (p<k>::Msg<i>).

Generation is deterministic for a given set of parameters: the random numbers come from a
splitmix64 generator seeded with --seed, not from Python's random module.
"""

import argparse
import os
import sys
from array import array

MASK64 = (1 << 64) - 1

# Scalar field types: Pavex type, proto3 type, FlatBuffers type, whether it may repeat.
SCALARS = [
    ("int<0..255>", "uint32", "ubyte", True),
    ("int<0..65535>", "uint32", "ushort", True),
    ("int<-1000000..1000000>", "sint32", "int", True),
    ("int<0..4294967295>", "uint32", "uint", True),
    ("ascii<1..32>", "string", "string", True),
    ("unicode<0..200>", "string", "string", True),
    ("bool", "bool", "bool", False),
    ("bytes<0..64>", "bytes", "[ubyte]", False),
    ("date", "int64", "long", False),
    ("ipv4", "fixed32", "uint", False),
]

WORDS = ["id", "count", "name", "label", "flags", "size", "offset", "code", "value", "total",
         "note", "kind", "level", "owner", "stamp", "digest"]

SHAPES = ("random", "chain", "dag", "deepdag", "modules")
FORMATS = ("pvx", "proto", "fbs")


class Rng:
    """splitmix64: small, fast enough, and the same on every Python version."""

    def __init__(self, seed):
        self.state = seed & MASK64

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)

    def below(self, n):
        return self.next() % n


def ref_count_per_definition(shape, fields, share):
    if shape == "chain":
        return min(1, fields)
    if shape == "dag":
        return min(2, fields)
    if shape == "deepdag":
        return min(4, fields)
    return min(fields, int(fields * share + 0.5))


def reference_targets(shape, n, refs, rng):
    """Targets of every reference slot: slot s belongs to definition s // refs; -1 means the slot
    becomes a scalar field (a reference would have nowhere to point)."""
    targets = array("i", [-1]) * (n * refs)
    if refs == 0:
        return targets
    if shape in ("chain", "dag"):
        for i in range(n - 1):
            for s in range(refs):
                targets[i * refs + s] = i + 1
        return targets
    if shape == "deepdag":
        for i in range(n):
            for s in range(refs):
                if i + 1 + s // 2 < n:
                    targets[i * refs + s] = i + 1 + s // 2
        return targets
    # A random tree over the free slots: every definition but the root gets one parent slot.
    open_slots = array("i", range(refs))
    for j in range(1, n):
        k = rng.below(len(open_slots))
        slot = open_slots[k]
        open_slots[k] = open_slots[-1]
        open_slots.pop()
        targets[slot] = j
        open_slots.extend(range(j * refs, j * refs + refs))
    for slot in open_slots:
        i = slot // refs
        if i < n - 1:
            targets[slot] = i + 1 + rng.below(n - 1 - i)
    return targets


def module_bounds(shape, n, modules):
    """First definition of each module (the main module first) and its file stem."""
    count = modules + 1 if shape == "modules" else 1
    count = max(1, min(count, n))
    starts = [n * m // count for m in range(count)]
    stems = ["main"] + ["lib%d" % m for m in range(1, count)]
    return starts, stems


class Writers:
    """The open output files of one module, one per requested format."""

    def __init__(self, out_dir, stem, formats):
        self.files = {f: open(os.path.join(out_dir, "%s.%s" % (stem, f)), "w", encoding="ascii",
                              newline="\n", buffering=1 << 20) for f in formats}

    def get(self, fmt):
        return self.files.get(fmt)

    def close(self):
        for f in self.files.values():
            f.close()


def generate(out_dir, shape="random", n=1000, fields=8, share=0.25, seed=1, modules=8,
             formats=FORMATS):
    """Write the schema into out_dir and return the list of file stems (main first)."""
    if shape not in SHAPES:
        raise ValueError("unknown shape %r" % shape)
    if n < 1 or fields < 1:
        raise ValueError("n and fields must be at least 1")
    if not 0.0 <= share <= 1.0:
        raise ValueError("share must lie between 0 and 1")
    os.makedirs(out_dir, exist_ok=True)
    rng = Rng(seed)
    refs = ref_count_per_definition(shape, fields, share)
    targets = reference_targets(shape, n, refs, rng)
    starts, stems = module_bounds(shape, n, modules)
    module_of = (lambda i: 0) if len(starts) == 1 else (lambda i: _module_index(starts, i))

    for m, stem in enumerate(stems):
        first = starts[m]
        last = starts[m + 1] if m + 1 < len(starts) else n
        used = sorted({module_of(t) for t in targets[first * refs:last * refs] if t >= 0} - {m})
        out = Writers(out_dir, stem, formats)
        _write_headers(out, stem, m, used, stems)
        for i in range(first, last):
            _write_definition(out, i, fields, refs, targets, rng, m, module_of)
        if m == 0 and out.get("fbs"):
            out.get("fbs").write("root_type Msg0;\n")
        out.close()
    return stems


def _module_index(starts, i):
    lo, hi = 0, len(starts) - 1
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if starts[mid] <= i:
            lo = mid
        else:
            hi = mid - 1
    return lo


def _write_headers(out, stem, m, used, stems):
    pvx = out.get("pvx")
    if pvx:
        pvx.write("pavex module bench.%s;\n" % stem)
        for u in used:
            pvx.write("import bench.%s as p%d;\n" % (stems[u], u))
        pvx.write("\n")
    proto = out.get("proto")
    if proto:
        proto.write('syntax = "proto3";\npackage bench;\n')
        for u in used:
            proto.write('import "%s.proto";\n' % stems[u])
        proto.write("\n")
    fbs = out.get("fbs")
    if fbs:
        for u in used:
            fbs.write('include "%s.fbs";\n' % stems[u])
        fbs.write("namespace bench;\n\n")


def _write_definition(out, i, fields, refs, targets, rng, m, module_of):
    # Which field positions hold the references: spread at random over the definition.
    positions = list(range(fields))
    for k in range(refs):
        j = k + rng.below(fields - k)
        positions[k], positions[j] = positions[j], positions[k]
    ref_at = {positions[k]: targets[i * refs + k] for k in range(refs)}

    pvx_lines, proto_lines, fbs_lines = [], [], []
    for f in range(fields):
        name = "%s_%d" % (WORDS[rng.below(len(WORDS))], f)
        roll = rng.below(100)
        target = ref_at.get(f, -1)
        if target >= 0:
            repeated = roll < 25
            tm = module_of(target)
            pvx_type = "Msg%d" % target if tm == m else "p%d::Msg%d" % (tm, target)
            proto_type = fbs_type = "Msg%d" % target
            optional = False
        else:
            pvx_type, proto_type, fbs_type, can_repeat = SCALARS[rng.below(len(SCALARS))]
            repeated = can_repeat and roll < 15
            optional = not repeated and roll >= 85
        if repeated:
            pvx_lines.append("    %s %s [0..*];\n" % (pvx_type, name))
            proto_lines.append("  repeated %s %s = %d;\n" % (proto_type, name, f + 1))
            fbs_lines.append("  %s:[%s];\n" % (name, fbs_type))
        elif optional:
            pvx_lines.append("    %s %s [?];\n" % (pvx_type, name))
            proto_lines.append("  optional %s %s = %d;\n" % (proto_type, name, f + 1))
            fbs_lines.append("  %s:%s;\n" % (name, fbs_type))
        else:
            pvx_lines.append("    %s %s;\n" % (pvx_type, name))
            proto_lines.append("  %s %s = %d;\n" % (proto_type, name, f + 1))
            fbs_lines.append("  %s:%s;\n" % (name, fbs_type))
    pvx, proto, fbs = out.get("pvx"), out.get("proto"), out.get("fbs")
    if pvx:
        pvx.write("struct Msg%d {\n%s};\n\n" % (i, "".join(pvx_lines)))
    if proto:
        proto.write("message Msg%d {\n%s}\n\n" % (i, "".join(proto_lines)))
    if fbs:
        fbs.write("table Msg%d {\n%s}\n\n" % (i, "".join(fbs_lines)))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", required=True, help="folder to write the schema files into")
    ap.add_argument("--shape", choices=SHAPES, default="random")
    ap.add_argument("-n", "--definitions", type=int, default=1000,
                    help="number of definitions (for dag: its depth)")
    ap.add_argument("-f", "--fields", type=int, default=8, help="fields per definition")
    ap.add_argument("--share", type=float, default=0.25,
                    help="share of fields that are references (random, modules)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--modules", type=int, default=8,
                    help="number of library files (modules shape)")
    ap.add_argument("--formats", default=",".join(FORMATS),
                    help="comma-separated subset of: " + ",".join(FORMATS))
    args = ap.parse_args(argv)
    formats = [f for f in args.formats.split(",") if f]
    bad = [f for f in formats if f not in FORMATS]
    if bad:
        ap.error("unknown format(s): " + ",".join(bad))
    try:
        stems = generate(args.out, args.shape, args.definitions, args.fields, args.share,
                         args.seed, args.modules, formats)
    except ValueError as e:
        ap.error(str(e))
    print(" ".join(stems))
    return 0


if __name__ == "__main__":
    sys.exit(main())
