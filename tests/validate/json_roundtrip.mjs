// The JSON bridge judged by round trips and by an independent JSON Schema
// validator (ajv).
//
//   node json_roundtrip.mjs --binary BUILD/pvx2abnf [--work DIR] [--schemas N]
//                           [--seeds K] [--mutations M] [--first S] [--show N]
//
// For each of N schemas of the seeded generator random_schema.mjs (from
// schema S on) and each of K example seeds, with M the example's message
// (--example):
// 1. from-json(to-json(M)) passes --check, and to-json of it is
//    byte-identical to to-json(M);
// 2. ajv accepts to-json(M) against the --json-schema output;
// 3. M mutations of to-json(M), each one value moved just out of what its
//    schema allows (an integer past its range, a text or Base64 data past
//    its size, an array one item past its count): whenever --from-json
//    (the checker's readers of the values) rejects the mutated JSON, ajv
//    rejects it too;
// 4. the same change made to the message in the text encoding, where it
//    can be placed (integers and texts outside combinations: the message
//    of another allowed value shows where the value stands): whenever
//    --check rejects the changed message, ajv rejects the mutated JSON.
// Mutations the checker accepts are counted apart.
//
// Prints the figures and "json round trip: N passed, N failed"; exits 0
// when nothing failed.

import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";

import Ajv2020 from "ajv/dist/2020.js";

import { randomSchema, Rng } from "./random_schema.mjs";
import { parseRunArguments } from "./run_arguments.mjs";

const quote = s => `'${s.replace(/'/g, "'\\''")}'`;

function runScript(file, lines) {
  fs.writeFileSync(file, lines.join("\n") + "\n");
  execFileSync("sh", [file], { env: { ...process.env, SOURCE_DATE_EPOCH: "1700000000" }, maxBuffer: 1 << 28 });
}

// The schema that applies at a place: $ref followed, a oneOf of integer
// forms taken by the JSON type of the value.
function resolve(root, schema, value) {
  for (let guard = 0; schema && guard < 100; guard++) {
    if (schema.$ref) {
      schema = root.$defs[decodeURIComponent(schema.$ref.slice("#/$defs/".length))];
      continue;
    }
    if (schema.oneOf && schema.oneOf.every(s => s.type && !s.properties)) {
      schema = schema.oneOf.find(s => s.type === (typeof value === "string" ? "string" : "integer")) ?? schema.oneOf[0];
      continue;
    }
    if (schema.oneOf && value && typeof value === "object" && !Array.isArray(value)) {
      const key = Object.keys(value)[0];
      const branch = schema.oneOf.find(s => s.required && s.required[0] === key);
      if (!branch) return null;
      return { union: branch };
    }
    return schema;
  }
  return schema;
}

// Every place of a value in the JSON with the schema that applies to it,
// and whether it stands in a combination (whose values touch).
function places(root, schema, value, at, out, combined = false) {
  const s = resolve(root, schema, value);
  if (!s) return;
  if (s.union) {
    const key = Object.keys(value)[0];
    places(root, s.union.properties[key], value[key], [...at, key], out, combined);
    return;
  }
  if (Array.isArray(value)) {
    out.push({ at, schema: s, value, combined });
    value.forEach((v, i) => places(root, s.items, v, [...at, i], out, combined));
    return;
  }
  if (value && typeof value === "object") {
    const inner = combined || (s.$comment ?? "").startsWith("a combination");
    for (const [k, v] of Object.entries(value)) {
      if (s.properties && s.properties[k]) places(root, s.properties[k], v, [...at, k], out, inner);
    }
    return;
  }
  out.push({ at, schema: s, value, combined });
}

// The value of `p` moved one step past a bound its schema states, or null
// when the schema states none that can be passed. Where the same change can
// be made to the message in the text encoding, `probe` is another value the
// schema allows, whose text tells where the value stands in the message,
// and `edit` makes the change there.
function pastBound(p, rng) {
  const s = p.schema;
  const v = p.value;
  const options = [];
  if (Array.isArray(v)) {
    if (s.maxItems !== undefined && v.length > 0) {
      options.push(() => ({ moved: Array.from({ length: s.maxItems + 1 }, (_, i) => v[i % v.length]) }));
    }
    if (s.minItems !== undefined && s.minItems > 0) options.push(() => ({ moved: v.slice(0, s.minItems - 1) }));
    return options.length ? options[rng.below(options.length)]() : null;
  }
  const touching = p.combined;
  if (s.type === "integer" && typeof v === "number") {
    const probe = touching ? undefined : [s.minimum, s.maximum].find(x => x !== undefined && x !== v);
    // The digits (and sign) around the place where the probe differs.
    const edit = moved => (text, from, to) => {
      const digit = c => c >= 0x30 && c <= 0x39;
      while (from > 0 && (digit(text[from - 1]) || text[from - 1] === 0x2d)) from--;
      while (to < text.length && digit(text[to])) to++;
      return Buffer.concat([text.subarray(0, from), Buffer.from(String(moved)), text.subarray(to)]);
    };
    if (s.maximum !== undefined) options.push(() => ({ moved: s.maximum + 1, probe, edit: edit(s.maximum + 1) }));
    if (s.minimum !== undefined) options.push(() => ({ moved: s.minimum - 1, probe, edit: edit(s.minimum - 1) }));
  }
  if (s.type === "string" && typeof v === "string") {
    const base64 = s.pattern && s.pattern.startsWith("^([A-Za-z0-9+/]{4})*");
    if (s.maxLength !== undefined) {
      options.push(() => {
        if (base64) {
          let moved = v;
          while (moved.length <= s.maxLength) moved = "AAAA" + moved;
          return { moved };
        }
        // Letters added at the end; the probe changes the last character,
        // so the text of the message has them added after it.
        const chars = [...v];
        const extra = "a".repeat(s.maxLength + 1 - chars.length);
        if (chars.length === 0 || touching) return { moved: v + extra };
        const last = chars[chars.length - 1];
        const probe = chars.slice(0, -1).join("") + (last === "a" ? "b" : "a");
        const edit = (text, from, to) => Buffer.concat([text.subarray(0, to), Buffer.from(extra), text.subarray(to)]);
        return { moved: v + extra, probe, edit };
      });
    }
    if (s.minLength !== undefined && s.minLength > 0 && !base64) options.push(() => ({ moved: [...v].slice(0, s.minLength - 1).join("") }));
  }
  return options.length ? options[rng.below(options.length)]() : null;
}

// Where two texts differ: from the first byte that differs to the last.
function differing(a, b) {
  let from = 0;
  while (from < a.length && from < b.length && a[from] === b[from]) from++;
  let back = 0;
  while (back < a.length - from && back < b.length - from && a[a.length - 1 - back] === b[b.length - 1 - back]) back++;
  return [from, a.length - back];
}

function setAt(doc, at, value) {
  if (at.length === 0) return value;
  let o = doc;
  for (const k of at.slice(0, -1)) o = o[k];
  o[at[at.length - 1]] = value;
  return doc;
}

function main() {
  const options = parseRunArguments(process.argv.slice(2), { schemas: 60, seeds: 3, mutations: 3, first: 0 }, "json");
  const started = Date.now();
  const work = options.work;
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const failures = [];
  const counts = {
    schemas: 0, messages: 0, bytes: 0, identical: 0, checked: 0, accepted: 0,
    mutations: 0, bothReject: 0, checkerAccepts: 0, textMutations: 0, textBothReject: 0, textCheckerAccepts: 0,
  };

  // The examples, the schema, the JSON, and back: one shell script.
  const script = [];
  const schemas = [];
  for (let k = 0; k < options.schemas; k++) {
    const seed = options.first + k;
    const dir = path.join(work, String(seed));
    fs.mkdirSync(dir);
    const schema = randomSchema(seed);
    fs.writeFileSync(path.join(dir, "main.pvx"), schema.main);
    fs.writeFileSync(path.join(dir, "lib.pvx"), schema.lib);
    const run = `cd ${quote(dir)} && ${quote(options.binary)} -q`;
    script.push(`${run} --json-schema=schema.json main.pvx + lib.pvx > schema.txt 2>&1`);
    for (let s = 0; s < options.seeds; s++) {
      script.push(`${run} --example=ex${s}.msg --seed=${s} main.pvx + lib.pvx > example${s}.txt 2>&1`);
      script.push(`${run} --to-json=ex${s}.msg --output=ex${s}.json main.pvx + lib.pvx > tojson${s}.txt 2>&1`);
      script.push(`${run} --from-json=ex${s}.json --output=back${s}.msg main.pvx + lib.pvx > fromjson${s}.txt 2>&1`);
      script.push(`${run} --check=back${s}.msg main.pvx + lib.pvx > check${s}.txt 2>&1`);
      script.push(`${run} --to-json=back${s}.msg --output=back${s}.json main.pvx + lib.pvx > again${s}.txt 2>&1`);
    }
    script.push("true");
    schemas.push({ seed, dir });
  }
  runScript(path.join(work, "make.sh"), script);

  const ajv = new Ajv2020({ allErrors: false, strict: false, unicodeRegExp: true });
  const mutationScript = [];
  const mutations = [];
  for (const s of schemas) {
    const schemaFile = path.join(s.dir, "schema.json");
    if (!fs.existsSync(schemaFile)) {
      // A schema the strict checks refuse has no examples either.
      if (fs.existsSync(path.join(s.dir, "ex0.msg"))) failures.push(`schema ${s.seed}: no JSON Schema was written`);
      continue;
    }
    counts.schemas++;
    const root = JSON.parse(fs.readFileSync(schemaFile, "utf8"));
    let validate;
    try {
      validate = ajv.compile(root);
    } catch (error) {
      failures.push(`schema ${s.seed}: ajv cannot compile the JSON Schema: ${error.message}`);
      continue;
    }
    const rng = new Rng(s.seed);
    for (let e = 0; e < options.seeds; e++) {
      const ex = path.join(s.dir, `ex${e}.msg`);
      if (!fs.existsSync(ex)) continue;  // no example (too large, no finite message)
      counts.messages++;
      counts.bytes += fs.statSync(ex).size;
      const label = `schema ${s.seed} seed ${e}`;
      const json = path.join(s.dir, `ex${e}.json`);
      if (!fs.existsSync(json)) {
        failures.push(`${label}: no JSON: ${fs.readFileSync(path.join(s.dir, `tojson${e}.txt`), "utf8")}`);
        continue;
      }
      const back = path.join(s.dir, `back${e}.msg`);
      if (!fs.existsSync(back)) {
        failures.push(`${label}: the JSON does not convert back: ${fs.readFileSync(path.join(s.dir, `fromjson${e}.txt`), "utf8")}`);
        continue;
      }
      if (!fs.readFileSync(path.join(s.dir, `check${e}.txt`), "utf8").includes("1 of 1 message(s) valid")) {
        failures.push(`${label}: the message from the JSON does not check: ${back}`);
      } else {
        counts.checked++;
      }
      const again = path.join(s.dir, `back${e}.json`);
      if (fs.existsSync(again) && fs.readFileSync(again).equals(fs.readFileSync(json))) {
        counts.identical++;
      } else {
        failures.push(`${label}: to-json(from-json(to-json(M))) differs from to-json(M): ${json}`);
      }
      const doc = JSON.parse(fs.readFileSync(json, "utf8"));
      if (validate(doc)) {
        counts.accepted++;
      } else {
        failures.push(`${label}: ajv rejects the JSON: ${ajv.errorsText(validate.errors)}: ${json}`);
        continue;
      }
      const found = [];
      places(root, root, doc, [], found);
      for (let m = 0; m < options.mutations && found.length; m++) {
        const p = found[rng.below(found.length)];
        const change = pastBound(p, rng);
        if (change === null) continue;
        const { moved } = change;
        const mutated = setAt(structuredClone(doc), p.at, moved);
        const name = path.join(s.dir, `ex${e}-m${m}.json`);
        fs.writeFileSync(name, JSON.stringify(mutated, null, 2) + "\n");
        const run = `cd ${quote(s.dir)} && ${quote(options.binary)} -q`;
        mutations.push({ label: `${label} mutation ${m} (${p.at.join(".")}: ${JSON.stringify(p.value).slice(0, 40)} -> ${JSON.stringify(moved).slice(0, 40)})`, name, doc: mutated, validate, dir: s.dir, back, change });
        mutationScript.push(`${run} --from-json=${quote(name)} --output=${quote(name + ".msg")} main.pvx + lib.pvx > ${quote(name + ".txt")} 2>&1 || true`);
        if (change.probe !== undefined) {
          fs.writeFileSync(name + ".probe", JSON.stringify(setAt(structuredClone(doc), p.at, change.probe)) + "\n");
          mutationScript.push(`${run} --from-json=${quote(name + ".probe")} --output=${quote(name + ".probe.msg")} main.pvx + lib.pvx > /dev/null 2>&1 || true`);
        }
      }
    }
  }
  if (mutationScript.length) runScript(path.join(work, "mutations.sh"), mutationScript);

  // The same changes in the text encoding: the message from the JSON with
  // the value changed where the probe's message differs from it, checked
  // by --check, one run per schema.
  const textual = new Map();
  for (const m of mutations) {
    if (m.change.probe === undefined || !fs.existsSync(m.name + ".probe.msg")) continue;
    const text = fs.readFileSync(m.back);
    const [from, to] = differing(text, fs.readFileSync(m.name + ".probe.msg"));
    if (from >= to) continue;
    m.text = m.name + ".text.msg";
    fs.writeFileSync(m.text, m.change.edit(text, from, to));
    if (!textual.has(m.dir)) textual.set(m.dir, []);
    textual.get(m.dir).push(m);
  }
  const checkScript = [];
  const shownText = [];
  for (const [dir, list] of textual) {
    const files = list.map(m => `--check=${quote(m.text)}`).join(" ");
    checkScript.push(`cd ${quote(dir)} && ${quote(options.binary)} -q ${files} main.pvx + lib.pvx > text-check.txt 2>&1 || true`);
  }
  if (checkScript.length) runScript(path.join(work, "text-check.sh"), checkScript);
  for (const [dir, list] of textual) {
    const rejected = new Set();
    for (const line of fs.readFileSync(path.join(dir, "text-check.txt"), "utf8").split("\n")) {
      const found = line.match(/^(.*)\(\d+,\d+\) : error: /);
      if (found) rejected.add(path.resolve(dir, found[1]));
    }
    for (const m of list) {
      counts.textMutations++;
      if (!rejected.has(path.resolve(m.text))) {
        counts.textCheckerAccepts++;
        if (shownText.length < options.shown) shownText.push(`${m.label}: ${m.text}`);
        continue;
      }
      if (m.validate(m.doc)) {
        failures.push(`${m.label}: the checker rejects the message ${m.text}, ajv accepts its JSON ${m.name}`);
      } else {
        counts.textBothReject++;
      }
    }
  }

  const shown = [];
  for (const m of mutations) {
    counts.mutations++;
    const checkerRejects = !fs.existsSync(m.name + ".msg");
    const ajvRejects = !m.validate(m.doc);
    if (checkerRejects && ajvRejects) counts.bothReject++;
    if (checkerRejects && !ajvRejects) failures.push(`${m.label}: the checker rejects the value, ajv accepts it: ${m.name}`);
    if (!checkerRejects) {
      counts.checkerAccepts++;
      if (shown.length < options.shown) shown.push(m.label);
    }
  }

  const seconds = ((Date.now() - started) / 1000).toFixed(1);
  console.log(`${counts.schemas} schemas, ${counts.messages} messages (${counts.bytes} bytes) in ${seconds} s`);
  console.log(`round trips: ${counts.checked} pass --check, ${counts.identical} byte-identical JSON; ajv accepts ${counts.accepted}`);
  console.log(`mutations: ${counts.mutations}, rejected by both ${counts.bothReject}, accepted by the checker ${counts.checkerAccepts}`);
  console.log(`the same in the text encoding: ${counts.textMutations}, rejected by --check and ajv ${counts.textBothReject}, accepted by --check ${counts.textCheckerAccepts}`);
  for (const s of shown) console.log(`  accepted by the checker: ${s}`);
  for (const s of shownText) console.log(`  accepted by --check: ${s}`);
  for (const f of failures.slice(0, 20)) console.log(`FAILED: ${f}`);
  const judged = counts.messages * 3 + counts.mutations + counts.textMutations;
  console.log(`json round trip: ${judged - failures.length} passed, ${failures.length} failed`);
  process.exit(failures.length ? 1 : 0);
}

main();
