// The compatibility check against the checker, on random pairs of schemas.
//
//   node compat_pairs.mjs --binary BUILD/pvx2abnf [--work DIR] [--pairs N]
//                         [--first S] [--seeds K] [--show N]
//
// Each pair is a schema of random_schema.mjs and a seeded edit of it (a
// range, size or count moved, a member added, removed, retagged, renamed
// or moved, a kind or a constant changed). For each pair:
// 1. pvx2abnf --compat=full --type=ROOT compares the two, with the
//    witnesses written into a folder.
// 2. Every witness is checked with --check under both versions: accepted
//    by the version it is a message of, rejected by the other.
// 3. K examples of the root of each version are checked under the other.
//    An example rejected there is a break in that direction that the run
//    must have reported (as a break, or as a change it cannot decide).
// Pairs whose edit leaves a schema the strict checks refuse are skipped.
//
// Prints the counts and "compat pairs: N passed, N failed"; exits 0 when
// nothing failed.

import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";

import { randomSchema, Rng } from "./random_schema.mjs";
import { parseRunArguments } from "./run_arguments.mjs";

// A member line of a body: indented, one declaration, no body of its own.
const isMember = line => /^ {4,}\S.*;$/.test(line) && !/[{}]/.test(line.replace(/<[^>]*>/, ""));

const SIMPLE = ["bool", "int<0..9>", "int<-5..5>", "ascii<1..4>", "unicode", "date", "ipv4",
  "const<OK>", "float"];

// One edit of the text of a file; null when the file has no place for it.
function edit(rng, text) {
  const lines = text.split("\n");
  const members = lines.map((l, i) => (isMember(l) ? i : -1)).filter(i => i >= 0);
  if (!members.length) return null;
  const at = rng.pick(members);
  const line = lines[at];
  const indent = line.match(/^ */)[0];
  const kinds = [];
  const bump = () => rng.pick([-3, -1, 1, 2, 10]);
  if (/int<-?\d+\.\.-?\d+>/.test(line)) kinds.push("range");
  if (/(ascii|unicode|bytes|embedded)<\d+\.\.\d+>/.test(line)) kinds.push("size");
  if (/const<[^>]*>/.test(line)) kinds.push("const");
  kinds.push("count", "remove", "add", "add-required", "tag", "kind", "swap", "rename");
  const what = rng.pick(kinds);
  let words = what;
  switch (what) {
    case "range":
    case "size":
      lines[at] = line.replace(/<(-?\d+)\.\.(-?\d+)/, (m, lo, hi) => {
        let a = Number(lo);
        let b = Number(hi);
        if (rng.below(2)) a += bump(); else b += bump();
        if (what === "size") a = Math.max(a, 0);
        if (a > b) [a, b] = [b, a];
        return `<${a}..${b}`;
      });
      break;
    case "const":
      lines[at] = line.replace(/const<[^>]*>/, `const<${rng.pick(["OK", "ok", "NO", "v-2"])}>`);
      break;
    case "count": {
      const card = rng.pick(["", "[?]", "[*]", "[+]", "[2]", "[1..3]", "[0..2]"]);
      const stripped = line.replace(/ \[[^\]]*\]/, "");
      lines[at] = stripped.replace(/^(\s*\S+ \S+)/, (m, head) => (card ? `${head} ${card}` : head));
      break;
    }
    case "remove":
      lines.splice(at, 1);
      break;
    case "add":
    case "add-required": {
      const type = rng.pick(SIMPLE);
      const card = what === "add" ? " [?]" : "";
      lines.splice(at + rng.below(2), 0, `${indent}${type} added${rng.below(100)}${card};`);
      break;
    }
    case "tag":
      lines[at] = / as [^;]*;$/.test(line)
        ? line.replace(/ as [^;]*;$/, rng.below(2) ? ";" : " as tg;")
        : line.replace(/;$/, " as tg;");
      break;
    case "kind":
      lines[at] = line.replace(/^(\s*)\S+/, `$1${rng.pick(SIMPLE)}`);
      break;
    case "swap": {
      const j = members.find(i => i === at + 1);
      if (j === undefined) return null;
      [lines[at], lines[j]] = [lines[j], lines[at]];
      break;
    }
    case "rename":
      if (/ as /.test(line)) return null;
      lines[at] = line.replace(/^(\s*\S+ )([A-Za-z0-9_-]+)(.*);$/, "$1$2x$3 as $2;");
      break;
  }
  const result = lines.join("\n");
  return result === text ? null : { text: result, words };
}

function run(binary, args) {
  const r = spawnSync(binary, ["-q", ...args], { encoding: "utf8" });
  return { status: r.status, out: (r.stdout || "") + (r.stderr || "") };
}

// The definitions of a name in each module of a schema's files.
function qualified(files, name) {
  const found = [];
  for (const text of files) {
    for (const block of text.split(/^endmodule;$/m)) {
      const module = block.match(/pavex module (\S+);/);
      if (!module) continue;
      const re = new RegExp(`^(struct|union|combi) ${name.replace(/[.*+?^${}()|[\]\\]/g, "\\$&")} \\{|^\\S+ ${name.replace(/[.*+?^${}()|[\]\\]/g, "\\$&")};`, "m");
      if (re.test(block)) found.push(`${module[1]}::${name}`);
    }
  }
  return found;
}

function main() {
  const o = parseRunArguments(process.argv.slice(2), { pairs: 2000, first: 0, seeds: 2 }, "compat");
  const counts = { pairs: 0, skipped: 0, breaks: 0, undecided: 0, internal: 0, witnesses: 0,
    verified: 0, examples: 0, rejected: 0, unreported: 0 };
  const failures = [];
  const undecidedKinds = new Map();
  const fail = text => {
    failures.push(text);
  };
  for (let n = o.first; counts.pairs < o.pairs && n < o.first + o.pairs * 4; n++) {
    const rng = new Rng(BigInt(n) * 7919n + 13n);
    const schema = randomSchema(n);
    const inMain = rng.below(2) === 0;
    const edited = edit(rng, inMain ? schema.main : schema.lib);
    if (!edited) continue;
    const dir = path.join(o.work, `p${n}`);
    fs.rmSync(dir, { recursive: true, force: true });
    for (const v of ["old", "new", "w", "x"]) fs.mkdirSync(path.join(dir, v), { recursive: true });
    const oldFiles = [path.join(dir, "old/main.pvx"), path.join(dir, "old/lib.pvx")];
    const newFiles = [path.join(dir, "new/main.pvx"), path.join(dir, "new/lib.pvx")];
    fs.writeFileSync(oldFiles[0], schema.main);
    fs.writeFileSync(oldFiles[1], schema.lib);
    fs.writeFileSync(newFiles[0], inMain ? edited.text : schema.main);
    fs.writeFileSync(newFiles[1], inMain ? schema.lib : edited.text);
    const versions = { old: [oldFiles[0], "+", oldFiles[1]], new: [newFiles[0], "+", newFiles[1]] };
    const texts = { old: [schema.main, schema.lib], new: [fs.readFileSync(newFiles[0], "utf8"), fs.readFileSync(newFiles[1], "utf8")] };
    // Both must pass the strict checks.
    if (run(o.binary, ["--lint", ...versions.new]).status !== 0) {
      counts.skipped++;
      continue;
    }
    counts.pairs++;
    const root = schema.main.match(/^struct (\S+) \{/m)[1];
    const cmp = run(o.binary, ["--compat=full", `--type=shop.orders::${root}`, `--old=${oldFiles[0]}`,
      `--old-lib=${oldFiles[1]}`, `--witness-dir=${path.join(dir, "w")}`, ...versions.new]);
    const reported = { backward: false, forward: false };
    for (const line of cmp.out.split("\n")) {
      const broke = line.match(/: breaks (backward|forward) compatibility; witness (\d+-(\S+)\.msg)/);
      const undecided = line.match(/: cannot decide: .* \((backward|forward)\)/);
      if (/internal error/.test(line)) {
        counts.internal++;
        fail(`pair ${n} (${edited.words}): ${line}`);
      }
      if (undecided) {
        const kind = line.replace(/.*cannot decide: /, "").replace(/ \(.*/, "").replace(/ [A-Za-z0-9_-]+ (added|removed)/, " $1").replace(/from .*/, "");
        undecidedKinds.set(`${kind} (${undecided[1]})`, (undecidedKinds.get(`${kind} (${undecided[1]})`) || 0) + 1);
        counts.undecided++;
        reported[undecided[1]] = true;
      }
      if (!broke) continue;
      counts.breaks++;
      reported[broke[1]] = true;
      // The witness: a message of the one version the other rejects.
      counts.witnesses++;
      const file = path.join(dir, "w", broke[2]);
      const from = broke[1] === "backward" ? "old" : "new";
      const to = from === "old" ? "new" : "old";
      const names = qualified(texts[from], broke[3]);
      const ok = names.some(q => {
        const a = run(o.binary, [`--check=${file}`, `--type=${q}`, ...versions[from]]);
        if (a.status !== 0) return false;
        const b = run(o.binary, [`--check=${file}`, `--type=${q}`, ...versions[to]]);
        return b.status === 1 || /No top-level definition/.test(b.out);
      });
      if (ok) counts.verified++;
      else fail(`pair ${n} (${edited.words}): witness ${broke[2]} not verified`);
    }
    if (cmp.status === 1 && !reported.backward && !reported.forward && !/breaking change/.test(cmp.out)) {
      fail(`pair ${n} (${edited.words}): the comparison failed: ${cmp.out.trim().split("\n").slice(-3).join(" | ")}`);
      continue;
    }
    // Examples of each version under the other.
    for (const [from, to, way] of [["old", "new", "backward"], ["new", "old", "forward"]]) {
      const files = [];
      for (let s = 0; s < o.seeds; s++) {
        const file = path.join(dir, "x", `${from}-${s}.txt`);
        if (run(o.binary, [`--example=${file}`, `--seed=${s * 31 + 1}`, ...versions[from]]).status === 0) {
          files.push(file);
        }
      }
      counts.examples += files.length;
      if (!files.length) continue;
      const r = run(o.binary, [...files.map(f => `--check=${f}`), ...versions[to]]);
      const rejected = files.filter(f => r.out.includes(`${f}(`));
      counts.rejected += rejected.length;
      if (rejected.length && !reported[way]) {
        counts.unreported++;
        fail(`pair ${n} (${edited.words}): ${way} break unreported: ${rejected[0]}: ${r.out.split("\n").find(l => l.includes(rejected[0]))}`);
      }
    }
    if (!failures.length || failures.length > o.shown) fs.rmSync(dir, { recursive: true, force: true });
  }
  console.log(`pairs: ${counts.pairs} (skipped ${counts.skipped}), breaks reported: ${counts.breaks}, ` +
    `witnesses verified: ${counts.verified} of ${counts.witnesses}, undecided: ${counts.undecided}, ` +
    `internal errors: ${counts.internal}, examples: ${counts.examples}, rejected by the other version: ` +
    `${counts.rejected}, unreported breaks found: ${counts.unreported}`);
  if (o.shown > 0) {
    const kinds = [...undecidedKinds].sort((x, y) => y[1] - x[1]).map(([k, v]) => `${v} ${k}`);
    if (kinds.length) console.log(`undecided: ${kinds.join("; ")}`);
  }
  for (const f of failures.slice(0, o.shown)) console.log(`FAILED ${f}`);
  console.log(`compat pairs: ${counts.pairs - failures.length} passed, ${failures.length} failed`);
  process.exit(failures.length ? 1 : 0);
}

main();
