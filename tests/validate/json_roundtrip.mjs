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
//    schema allows (an integer past its range, a text or Base64 data one
//    character past its size, an array one item past its count): whenever
//    the bridge's own checks (the checker's readers, through --from-json)
//    reject the mutated value, ajv rejects it too. A mutation the checker
//    accepts is counted apart (its schema said more than the checker).
//
// Prints the figures and "json round trip: N passed, N failed"; exits 0
// when nothing failed.

import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";

import Ajv2020 from "ajv/dist/2020.js";

import { randomSchema } from "./random_schema.mjs";

function parseArguments(argv) {
  const options = { work: null, binary: null, schemas: 60, seeds: 3, mutations: 3, first: 0, shown: 5 };
  for (let i = 0; i < argv.length; i++) {
    const next = () => {
      if (i + 1 >= argv.length) throw new Error(`${argv[i]} needs a value`);
      return argv[++i];
    };
    const count = name => {
      const v = Number(next());
      if (!Number.isInteger(v) || v < 0) throw new Error(`--${name} needs a count`);
      return v;
    };
    if (argv[i] === "--binary") options.binary = path.resolve(next());
    else if (argv[i] === "--work") options.work = path.resolve(next());
    else if (argv[i] === "--schemas") options.schemas = count("schemas");
    else if (argv[i] === "--seeds") options.seeds = count("seeds");
    else if (argv[i] === "--mutations") options.mutations = count("mutations");
    else if (argv[i] === "--first") options.first = count("first");
    else if (argv[i] === "--show") options.shown = count("show");
    else throw new Error(`unknown argument ${argv[i]}`);
  }
  if (!options.binary) throw new Error("--binary is required");
  if (!options.work) options.work = fs.mkdtempSync("/tmp/pvx2abnf-json-");
  return options;
}

// splitmix64, as random_schema.mjs has it.
const MASK = (1n << 64n) - 1n;
class Rng {
  constructor(seed) {
    this.state = BigInt(seed) & MASK;
  }
  below(n) {
    this.state = (this.state + 0x9e3779b97f4a7c15n) & MASK;
    let z = this.state;
    z = ((z ^ (z >> 30n)) * 0xbf58476d1ce4e5b9n) & MASK;
    z = ((z ^ (z >> 27n)) * 0x94d049bb133111ebn) & MASK;
    return Number((z ^ (z >> 31n)) % BigInt(n));
  }
}

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

// Every place of a value in the JSON with the schema that applies to it.
function places(root, schema, value, at, out) {
  const s = resolve(root, schema, value);
  if (!s) return;
  if (s.union) {
    const key = Object.keys(value)[0];
    places(root, s.union.properties[key], value[key], [...at, key], out);
    return;
  }
  if (Array.isArray(value)) {
    out.push({ at, schema: s, value });
    value.forEach((v, i) => places(root, s.items, v, [...at, i], out));
    return;
  }
  if (value && typeof value === "object") {
    for (const [k, v] of Object.entries(value)) {
      if (s.properties && s.properties[k]) places(root, s.properties[k], v, [...at, k], out);
    }
    return;
  }
  out.push({ at, schema: s, value });
}

// The value of `p` moved one step past a bound its schema states, or null
// when the schema states none that can be passed.
function pastBound(p, rng) {
  const s = p.schema;
  const options = [];
  if (Array.isArray(p.value)) {
    if (s.maxItems !== undefined && p.value.length > 0) {
      options.push(() => Array.from({ length: s.maxItems + 1 }, (_, i) => p.value[i % p.value.length]));
    }
    if (s.minItems !== undefined && s.minItems > 0) options.push(() => p.value.slice(0, s.minItems - 1));
    return options.length ? options[rng.below(options.length)]() : null;
  }
  if (s.type === "integer" && typeof p.value === "number") {
    if (s.maximum !== undefined) options.push(() => s.maximum + 1);
    if (s.minimum !== undefined) options.push(() => s.minimum - 1);
  }
  if (s.type === "string" && typeof p.value === "string") {
    const base64 = s.pattern && s.pattern.startsWith("^([A-Za-z0-9+/]{4})*");
    const filler = base64 ? "AAAA" : p.value.length ? [...p.value][0] : "a";
    if (s.maxLength !== undefined) {
      options.push(() => {
        let v = p.value;
        while ([...v].length <= s.maxLength) v += filler;
        return v;
      });
    }
    if (s.minLength !== undefined && s.minLength > 0 && !base64) options.push(() => [...p.value].slice(0, s.minLength - 1).join(""));
  }
  return options.length ? options[rng.below(options.length)]() : null;
}

function setAt(doc, at, value) {
  if (at.length === 0) return value;
  let o = doc;
  for (const k of at.slice(0, -1)) o = o[k];
  o[at[at.length - 1]] = value;
  return doc;
}

function main() {
  const options = parseArguments(process.argv.slice(2));
  const started = Date.now();
  const work = options.work;
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  const failures = [];
  const counts = { schemas: 0, messages: 0, bytes: 0, identical: 0, checked: 0, accepted: 0, mutations: 0, bothReject: 0, checkerAccepts: 0 };

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
        const moved = pastBound(p, rng);
        if (moved === null) continue;
        const mutated = setAt(structuredClone(doc), p.at, moved);
        const name = path.join(s.dir, `ex${e}-m${m}.json`);
        fs.writeFileSync(name, JSON.stringify(mutated, null, 2) + "\n");
        mutations.push({ label: `${label} mutation ${m} (${p.at.join(".")}: ${JSON.stringify(p.value).slice(0, 40)} -> ${JSON.stringify(moved).slice(0, 40)})`, name, doc: mutated, validate, dir: s.dir });
        mutationScript.push(`cd ${quote(s.dir)} && ${quote(options.binary)} -q --from-json=${quote(name)} --output=${quote(name + ".msg")} main.pvx + lib.pvx > ${quote(name + ".txt")} 2>&1 || true`);
      }
    }
  }
  if (mutationScript.length) runScript(path.join(work, "mutations.sh"), mutationScript);
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
  for (const s of shown) console.log(`  accepted by the checker: ${s}`);
  for (const f of failures.slice(0, 20)) console.log(`FAILED: ${f}`);
  console.log(`json round trip: ${counts.messages * 3 + counts.mutations - failures.length} passed, ${failures.length} failed`);
  process.exit(failures.length ? 1 : 0);
}

main();
