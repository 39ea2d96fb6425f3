// The agreement of the example writer, the message checker and the strict
// grammar, judged by an independent recogniser.
//
//   node agreement.mjs --binary BUILD/pvx2abnf [--work DIR] [--schemas N]
//                      [--seeds K] [--mutations M] [--first S] [--show N]
//
// For each of N schemas of the seeded generator random_schema.mjs (from
// schema S on) and each of K example seeds:
// 1. pvx2abnf writes the strict grammar and an example message
//    (--example, --seed). The grammar's first rule, converted for nearley's
//    Earley parser, must accept the example, byte for byte, and so must the
//    checker (--check).
// 2. M mutations of the example (a byte deleted, or a byte inserted, at a
//    seeded place) go to both: every mutation the recogniser rejects, the
//    checker must reject too. The checker may be the stricter of the two
//    (it also checks values: ranges, sizes, dates ...); those cases are
//    counted and shown, not failed.
//
// Prints the figures and "agreement: N passed, N failed"; exits 0 when
// nothing failed.

import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

import nearley from "nearley";

import { compileMessages, loadWithAbnf, readMessages } from "./validate.mjs";
import { randomSchema, Rng } from "./random_schema.mjs";
import { parseRunArguments } from "./run_arguments.mjs";

// Bytes that mean something in the encoding, and some that never do.
const INSERTED = Buffer.from("{}=,()'\"[]^~-+:.09aZe \n\\/*\x00\xff\xc3", "latin1");

export function mutate(message, rng) {
  if (message.length > 0 && rng.below(2) === 0) {
    const at = rng.below(message.length);
    return { text: Buffer.concat([message.subarray(0, at), message.subarray(at + 1)]), what: `byte ${at} deleted` };
  }
  const at = rng.below(message.length + 1);
  const byte = INSERTED[rng.below(INSERTED.length)];
  return {
    text: Buffer.concat([message.subarray(0, at), Buffer.from([byte]), message.subarray(at)]),
    what: `byte 0x${byte.toString(16)} inserted at ${at}`,
  };
}

// nearley keeps every derivation of a state apart, so a message that can be
// read in many ways (white space that either of two optional rules may
// take, lists of union values whose extension parameter alternative takes
// in commas and braces too) costs it time and memory exponential in its
// length. A recogniser needs each Earley item once per column: items of the
// same rule, position and origin are one, provided they carry the same
// counts (the only data the converted grammar computes: the counters of
// bounded repetitions). So the items are merged as they are made; the
// parser is otherwise nearley's own.
let merging = false;
function mergeEarleyItems(grammar) {
  if (merging) return;
  merging = true;
  const probe = new nearley.Parser(grammar);
  const column = probe.table[0];
  const State = column.states[0].constructor;
  const Column = column.constructor;
  const nextState = State.prototype.nextState;
  State.prototype.nextState = function (child) {
    const s = nextState.call(this, child);
    s.counts = (this.counts ?? "") + (typeof child.data === "number" ? `,${child.data}` : ",");
    return s;
  };
  let ids = 0;
  const ruleIds = new WeakMap();
  Column.prototype.complete = function (left, right) {
    const copy = left.nextState(right);
    let id = ruleIds.get(copy.rule);
    if (id === undefined) ruleIds.set(copy.rule, (id = ids++));
    const key = `${id}:${copy.dot}:${copy.reference}:${copy.counts}`;
    this.items ??= new Set();
    if (this.items.has(key)) return;
    this.items.add(key);
    this.states.push(copy);
  };
}

// Still, the judge gives up (undecided) past this many items.
const MAX_STATES = 2000000;

export function judge(grammar, bytes) {
  mergeEarleyItems(grammar);
  const parser = new nearley.Parser(grammar);
  const text = bytes.toString("latin1");
  try {
    if (text.length === 0) parser.feed("");
    let states = 0;
    for (let i = 0; i < text.length; i++) {
      parser.feed(text[i]);
      states += parser.table[parser.table.length - 1].states.length;
      if (states > MAX_STATES) return { ok: null, where: `undecided at offset ${i}` };
    }
  } catch (error) {
    return { ok: false, where: `stopped at offset ${error.offset}` };
  }
  return parser.results.length > 0 ? { ok: true } : { ok: false, where: "message ended early" };
}

const quote = s => `'${s.replace(/'/g, "'\\''")}'`;

function runScript(file, lines) {
  fs.writeFileSync(file, lines.join("\n") + "\n");
  execFileSync("sh", [file], { env: { ...process.env, SOURCE_DATE_EPOCH: "1700000000" }, maxBuffer: 1 << 28 });
}

// The files the checker rejected, from its report lines
// "FILE(line,col) : error: ...".
function rejectedFiles(stdout) {
  const rejected = new Set();
  for (const line of stdout.split("\n")) {
    const m = line.match(/^(.*)\(\d+,\d+\) : error: /);
    if (m) rejected.add(m[1]);
  }
  return rejected;
}

function main() {
  const options = parseRunArguments(process.argv.slice(2), { schemas: 100, seeds: 2, mutations: 4, first: 0 }, "agreement");
  const started = Date.now();
  const work = options.work;
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const help = execFileSync(options.binary, ["--help"], { encoding: "utf8" });
  const haveChecker = help.includes("--check");

  // The judge's own check: the hand-written messages of the bundled
  // example, accepted and rejected as they say.
  const failures = [];
  const here = path.dirname(fileURLToPath(import.meta.url));
  const root = path.resolve(here, "..", "..");
  const bundled = path.join(work, "orders.abnf");
  execFileSync(options.binary, ["--strict-abnf", "examples/orders.pvx", "+", "examples/common.pvx", bundled], { cwd: root });
  const orders = compileMessages(loadWithAbnf(fs.readFileSync(bundled, "latin1"), "orders").rules);
  let samples = 0;
  for (const sample of readMessages(path.join(here, "samples", "orders.strict.msg"))) {
    samples++;
    const verdict = judge(orders, Buffer.from(sample.text, "utf8"));
    if (verdict.ok !== (sample.expect === "accept")) failures.push(`the judge gets the sample "${sample.label}" wrong`);
  }

  // Translations and examples, in one shell script.
  const schemas = [];
  const script = [];
  for (let k = 0; k < options.schemas; k++) {
    const seed = options.first + k;
    const dir = path.join(work, String(seed));
    fs.mkdirSync(dir);
    const schema = randomSchema(seed);
    fs.writeFileSync(path.join(dir, "main.pvx"), schema.main);
    fs.writeFileSync(path.join(dir, "lib.pvx"), schema.lib);
    const run = `cd ${quote(dir)} && ${quote(options.binary)}`;
    script.push(`${run} --strict-abnf main.pvx + lib.pvx out.abnf > grammar.txt`);
    for (let s = 0; s < options.seeds; s++) {
      script.push(`${run} --example=ex${s}.msg --seed=${s} main.pvx + lib.pvx > example${s}.txt`);
    }
    schemas.push({ seed, dir });
  }
  runScript(path.join(work, "make.sh"), script);

  // The messages to judge: each example and its mutations.
  const counts = { pairs: 0, examples: 0, bytes: 0, mutations: 0, bothReject: 0, bothAccept: 0, stricter: 0, undecided: 0, checkerUndecided: 0 };
  const stricter = [];
  const judged = [];
  for (const s of schemas) {
    const grammarFile = path.join(s.dir, "out.abnf");
    if (!fs.existsSync(grammarFile)) {
      failures.push(`schema ${s.seed}: no strict grammar was written`);
      continue;
    }
    const loaded = loadWithAbnf(fs.readFileSync(grammarFile, "latin1"), `schema ${s.seed}`);
    if (loaded.problems.length) {
      failures.push(`schema ${s.seed}: ${loaded.problems.join("; ")}`);
      continue;
    }
    const grammar = compileMessages(loaded.rules);
    const rng = new Rng(s.seed);
    for (let e = 0; e < options.seeds; e++) {
      counts.pairs++;
      const file = path.join(s.dir, `ex${e}.msg`);
      if (!fs.existsSync(file)) {
        failures.push(`schema ${s.seed} seed ${e}: no example was written:\n${fs.readFileSync(path.join(s.dir, `example${e}.txt`), "utf8")}`);
        continue;
      }
      const message = fs.readFileSync(file);
      counts.examples++;
      counts.bytes += message.length;
      const verdict = judge(grammar, message);
      if (verdict.ok === null) {
        counts.undecided++;
        continue;
      }
      if (!verdict.ok) failures.push(`schema ${s.seed} seed ${e}: the recogniser rejects the example (${verdict.where}): ${file}`);
      judged.push({ label: `schema ${s.seed} seed ${e} example`, file, example: true, dir: s.dir });
      for (let m = 0; m < options.mutations; m++) {
        const mutation = mutate(message, rng);
        const name = path.join(s.dir, `ex${e}-m${m}.msg`);
        fs.writeFileSync(name, mutation.text);
        const ok = judge(grammar, mutation.text).ok;
        if (ok === null) {
          counts.undecided++;
          continue;
        }
        counts.mutations++;
        judged.push({ label: `schema ${s.seed} seed ${e} mutation ${m} (${mutation.what})`, file: name, dir: s.dir, recogniser: ok });
      }
    }
  }

  // The checker, one run per schema with every message of it.
  if (haveChecker) {
    const bySchema = new Map();
    for (const j of judged) {
      if (!bySchema.has(j.dir)) bySchema.set(j.dir, []);
      bySchema.get(j.dir).push(j);
    }
    const check = [];
    for (const [dir, list] of bySchema) {
      const files = list.map(j => `--check=${quote(path.basename(j.file))}`).join(" ");
      check.push(`cd ${quote(dir)} && ${quote(options.binary)} ${files} main.pvx + lib.pvx > check.txt; true`);
    }
    runScript(path.join(work, "check.sh"), check);
    for (const [dir, list] of bySchema) {
      const report = fs.readFileSync(path.join(dir, "check.txt"), "latin1");
      // A run that ends without its closing count crashed or stopped.
      if (!/^\d+ of \d+ message\(s\) valid/m.test(report)) {
        failures.push(`${dir}: the checker ended without its report`);
        continue;
      }
      for (const m of report.matchAll(/^(.*): undecided: /gm)) {
        counts.checkerUndecided++;
        if (list.some(j => j.example && path.basename(j.file) === m[1])) {
          failures.push(`${dir}: the checker could not decide the example ${m[1]}`);
        }
      }
      const rejected = rejectedFiles(report);
      for (const j of list) {
        const checkerOk = !rejected.has(path.basename(j.file));
        if (j.example) {
          if (!checkerOk) failures.push(`${j.label}: the checker rejects the example: ${j.file}`);
          continue;
        }
        if (!j.recogniser && checkerOk) {
          failures.push(`${j.label}: the recogniser rejects it, the checker accepts it: ${j.file}`);
        } else if (!j.recogniser) {
          counts.bothReject++;
        } else if (checkerOk) {
          counts.bothAccept++;
        } else {
          counts.stricter++;
          if (stricter.length < options.shown) stricter.push(j);
        }
      }
    }
  }

  const seconds = ((Date.now() - started) / 1000).toFixed(1);
  console.log(
    `examples: ${counts.examples} of ${counts.pairs} schema/seed pairs written (${counts.bytes} bytes), ` +
      `accepted by the recogniser${haveChecker ? " and the checker" : ""}`
  );
  if (haveChecker) {
    console.log(
      `mutations: ${counts.mutations}; both reject ${counts.bothReject}, both accept ${counts.bothAccept}, ` +
        `only the checker rejects ${counts.stricter}`
    );
    for (const j of stricter) {
      const line = fs.readFileSync(path.join(j.dir, "check.txt"), "latin1").split("\n").find(l => l.startsWith(path.basename(j.file) + "("));
      console.log(`  checker stricter: ${j.label}: ${line}`);
    }
  } else {
    console.log("mutations: not judged, this build has no message checker (--check)");
  }
  console.log(`undecided by the recogniser (too many readings), not judged: ${counts.undecided}`);
  console.log(`undecided by the checker (its search gave up), not judged: ${counts.checkerUndecided}`);
  console.log(`time: ${seconds} s`);
  for (const f of failures) console.log(`FAIL ${f}`);
  const total = samples + counts.pairs + (haveChecker ? counts.mutations : 0);
  console.log(`agreement: ${total - failures.length} passed, ${failures.length} failed`);
  return failures.length ? 1 : 0;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  try {
    process.exitCode = main();
  } catch (error) {
    console.log(`FAIL ${error.stack}`);
    process.exitCode = 1;
  }
}
