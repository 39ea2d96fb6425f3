// Independent validation of the translator's ABNF output.
//
//   node validate.mjs --binary BUILD/pvx2abnf [--root REPO] [--work DIR]
//
// 1. Grammars: the translation of the bundled example, every expected
//    output file under tests/golden/*/*/expected/ (*.abnf) and the
//    translation of every sample definition under samples/ are loaded with
//    two independent ABNF parsers, apg-js and abnf. Any syntax error,
//    undefined rule or unexpected duplicate rule fails the run. The side
//    file supplement.abnf supplies what the output itself leaves open.
// 2. Messages: for each samples/NAME.pvx, the hand-written messages of
//    samples/NAME.msg must be accepted (or rejected) by the root rule of its
//    grammar. apg-js commits to the first alternative that matches and
//    repeats greedily, which rejects valid messages of these grammars, so
//    acceptance uses a general Earley parser (nearley) fed with rules
//    converted from the syntax tree that abnf builds.
//
// 3. Strict grammars (--strict-abnf): the strict translation of the bundled
//    example, of every golden case that writes a grammar, of the expected
//    files of the strict golden cases, of the samples and of at least 200
//    schemas from the seeded generator random_schema.mjs are loaded with
//    apg-js and abnf with no side file at all: any syntax error,
//    duplicate (also one differing only by case), undefined rule, prose
//    value or attribute error (left recursion, a rule without a finite
//    sentence) fails. The messages of samples/NAME.strict.msg (and
//    samples/orders.strict.msg for the bundled example) are parsed as UTF-8
//    bytes, the terminals of the strict grammar.
//
// Exits 0 when everything holds, 1 otherwise.

import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";

import apgJs from "apg-js";
import { parseString } from "abnf";
import nearley from "nearley";

import { randomSchema } from "./random_schema.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));

// ---------------------------------------------------------------------------
// Command line

function parseArguments(argv) {
  const options = { root: path.resolve(here, "..", ".."), work: null, binary: null, schemas: 200 };
  for (let i = 0; i < argv.length; i++) {
    const next = () => {
      if (i + 1 >= argv.length) throw new Error(`${argv[i]} needs a value`);
      return argv[++i];
    };
    if (argv[i] === "--binary") options.binary = path.resolve(next());
    else if (argv[i] === "--root") options.root = path.resolve(next());
    else if (argv[i] === "--work") options.work = path.resolve(next());
    else if (argv[i] === "--schemas") options.schemas = Number(next());
    else throw new Error(`unknown argument ${argv[i]}`);
  }
  if (!options.binary) throw new Error("--binary is required");
  if (!Number.isInteger(options.schemas) || options.schemas < 0) throw new Error("--schemas needs a count");
  if (!options.work) options.work = fs.mkdtempSync("/tmp/pvx2abnf-validate-");
  return options;
}

// ---------------------------------------------------------------------------
// Lexical walk over ABNF text

const NAME_START = /[A-Za-z]/;
const NAME_CHAR = /[A-Za-z0-9-]/;

// Walks the ABNF text and calls visit.name(name, offset) for every rule
// name and visit.prose(text, offset) for every prose value; comments,
// quoted strings and numeric values are skipped. A visitor returning a
// string replaces the token. Returns the rewritten text.
export function rewriteTokens(text, visit) {
  let out = "";
  let i = 0;
  while (i < text.length) {
    const c = text[i];
    let end = i + 1;
    let replacement;
    if (c === ";") {
      while (end < text.length && text[end] !== "\n") end++;
    } else if (c === '"') {
      while (end < text.length && text[end] !== '"' && text[end] !== "\n") end++;
      end++;
    } else if (c === "<") {
      while (end < text.length && text[end] !== ">" && text[end] !== "\n") end++;
      end++;
      if (visit.prose) replacement = visit.prose(text.slice(i, end), i);
    } else if (c === "%") {
      while (end < text.length && /[A-Za-z0-9.-]/.test(text[end])) end++;
    } else if (/[0-9]/.test(c)) {
      while (end < text.length && /[0-9]/.test(text[end])) end++;
    } else if (NAME_START.test(c)) {
      while (end < text.length && NAME_CHAR.test(text[end])) end++;
      if (visit.name) replacement = visit.name(text.slice(i, end), i);
    }
    end = Math.min(end, text.length);
    out += typeof replacement === "string" ? replacement : text.slice(i, end);
    i = end;
  }
  return out;
}

// Rules defined with "=" (not "=/"): a name at the start of a line.
export function definitions(text) {
  const found = [];
  rewriteTokens(text, {
    name(name, offset) {
      if (offset > 0 && text[offset - 1] !== "\n") return undefined;
      const rest = text.slice(offset + name.length).match(/^[ \t]*=(\/?)/);
      if (rest && rest[1] === "") {
        found.push({ name, line: text.slice(0, offset).split("\n").length });
      }
      return undefined;
    },
  });
  return found;
}

// ---------------------------------------------------------------------------
// The side file

export function readSupplement(file) {
  const text = fs.readFileSync(file, "utf8");
  const prose = new Map();
  const duplicates = new Map();
  const invalid = new Map();
  for (const line of text.split("\n")) {
    let m = line.match(/^;@prose\s+(<[^>]*>)\s+([A-Za-z][A-Za-z0-9-]*)\s*$/);
    if (m) {
      prose.set(m[1], m[2]);
      continue;
    }
    m = line.match(/^;@duplicate\s+([A-Za-z][A-Za-z0-9-]*)\s+([A-Za-z][A-Za-z0-9-]*)\s*$/);
    if (m) {
      duplicates.set(m[1], m[2]);
      continue;
    }
    m = line.match(/^;@invalid\s+(\S+)\s+(.+)$/);
    if (m) {
      invalid.set(m[1], m[2]);
      continue;
    }
    if (line.startsWith(";@")) throw new Error(`${file}: unknown directive: ${line}`);
  }
  const rules = definitions(text).map(d => d.name);
  return { text, prose, duplicates, invalid, rules };
}

// ---------------------------------------------------------------------------
// Preparing one grammar

// Applies the side file to a copy of the grammar. Returns the text to load,
// the notes about known quirks and the problems that fail the grammar.
export function prepare(grammar, supplement) {
  const notes = [];
  const problems = [];

  // Duplicate definitions: exact ones are always wrong; case-only ones must
  // be listed in the side file.
  const seen = new Map();
  const renames = new Map();
  for (const def of definitions(grammar)) {
    const key = def.name.toUpperCase();
    const earlier = seen.get(key);
    if (!earlier) {
      seen.set(key, def);
      continue;
    }
    if (earlier.name === def.name) {
      problems.push(`rule ${def.name} is defined twice (lines ${earlier.line} and ${def.line})`);
    } else if (supplement.duplicates.has(def.name)) {
      renames.set(def.name, supplement.duplicates.get(def.name));
      notes.push(
        `known: ${def.name} differs from ${earlier.name} only by case; ` +
          `loaded as ${renames.get(def.name)}`
      );
    } else {
      problems.push(
        `rule ${def.name} (line ${def.line}) differs from ${earlier.name} ` +
          `(line ${earlier.line}) only by case`
      );
    }
  }

  let text = rewriteTokens(grammar, {
    name: name => renames.get(name),
    prose(value, offset) {
      const line = grammar.slice(0, offset).split("\n").length;
      const replacement = supplement.prose.get(value);
      if (replacement === undefined) {
        problems.push(`prose value ${value} (line ${line}) has no replacement`);
        return undefined;
      }
      notes.push(`known: prose value ${value} loaded as ${replacement}`);
      return replacement;
    },
  });

  // Side rules join only where the grammar leaves them undefined.
  const defined = new Set([...seen.keys()]);
  const supplementDefs = definitions(supplement.text);
  const lines = supplement.text.split("\n");
  const wanted = [];
  supplementDefs.forEach((def, k) => {
    if (defined.has(def.name.toUpperCase())) return;
    // A side rule runs from its line up to the next side rule's comment or
    // definition.
    const stop = k + 1 < supplementDefs.length ? supplementDefs[k + 1].line - 1 : lines.length;
    const body = [];
    for (let n = def.line - 1; n < stop; n++) {
      if (n > def.line - 1 && !/^[ \t]/.test(lines[n])) break;
      body.push(lines[n]);
    }
    wanted.push(body.join("\n"));
  });
  if (!text.endsWith("\n")) text += "\n";
  text += "\n; ---- side definitions of the validator ----\n" + wanted.join("\n") + "\n";
  return { text, notes, problems };
}

// ---------------------------------------------------------------------------
// A strict grammar is loaded as it stands: no duplicates, not even by case,
// and no prose values; then both parsers.

// What a strict grammar must not hold, found in its text: duplicate rules
// (also by case) and prose values.
export function strictTextProblems(grammar) {
  const problems = [];
  const seen = new Map();
  for (const def of definitions(grammar)) {
    const key = def.name.toUpperCase();
    const earlier = seen.get(key);
    if (!earlier) {
      seen.set(key, def);
    } else if (earlier.name === def.name) {
      problems.push(`rule ${def.name} is defined twice (lines ${earlier.line} and ${def.line})`);
    } else {
      problems.push(`rule ${def.name} (line ${def.line}) differs from ${earlier.name} (line ${earlier.line}) only by case`);
    }
  }
  rewriteTokens(grammar, {
    prose(value, offset) {
      problems.push(`prose value ${value} (line ${grammar.slice(0, offset).split("\n").length})`);
      return undefined;
    },
  });
  return problems;
}

export function checkStrict(grammar, source) {
  const problems = strictTextProblems(grammar);
  problems.push(...checkWithApg(grammar, { strict: true }));
  const loaded = loadWithAbnf(grammar, source);
  problems.push(...loaded.problems);
  return { rules: loaded.rules, problems };
}

// The common rules end every strict grammar, from the line that defines
// extension-params on.
export function splitStrict(grammar) {
  const m = grammar.match(/^extension-params[ \t]*=/m);
  return m ? { own: grammar.slice(0, m.index), common: grammar.slice(m.index) } : null;
}

// Many strict grammars checked as one, since apg-js takes about 12 us a
// character and the common rules are most of a small grammar: every
// grammar must end in the same common rules (`common`), which then stand
// once; each grammar's own rules follow one another, every name a grammar
// defines (and every reference to it) prefixed by "gK-", so that no two
// grammars can meet. Renaming keeps every error the parsers can find: a
// reference to a name the grammar does not define keeps its spelling and
// stays undefined, a rule keeps its attributes; duplicates, also with the
// common rules, and prose values are found in each grammar's own text.
// Returns the problems of each grammar, in order.
export function checkStrictTogether(grammars, common) {
  const problems = grammars.map(g => strictTextProblems(g.text));
  let text = "";
  let firstHeader = null;
  grammars.forEach((g, k) => {
    const parts = splitStrict(g.text);
    if (!parts || parts.common !== common) {
      problems[k].push("its common rules differ from those of the bundled example");
      return;
    }
    const defined = new Set(definitions(parts.own).map(d => d.name.toUpperCase()));
    let own = rewriteTokens(parts.own, { name: n => (defined.has(n.toUpperCase()) ? `g${k}-${n}` : undefined) });
    // A header of comment lines that is the same as one already in the
    // text needs no second reading.
    const header = own.match(/^(?:;[^\n]*\n|\r?\n)*/)[0];
    if (k > 0 && header === firstHeader) own = own.slice(header.length);
    if (k === 0) firstHeader = header;
    text += own;
  });
  text += common;
  // One parser error can hide others (apg-js computes no attributes after
  // one), so when the grammars together show any, each is checked alone.
  const found = [...checkWithApg(text, { strict: true }), ...loadWithAbnf(text, "strict grammars").problems];
  if (found.length) {
    grammars.forEach((g, k) => {
      const known = new Set(problems[k]);
      problems[k].push(...checkStrict(g.text, g.label).problems.filter(p => !known.has(p)));
    });
  }
  return problems;
}

// ---------------------------------------------------------------------------
// The two grammar checks

// With `strict`, apg-js takes RFC 5234 as it stands (CR LF line ends, no
// superset features).
export function checkWithApg(text, { strict = false } = {}) {
  const api = new apgJs.apgApi(text);
  api.generate(strict);
  const problems = api.errors.map(e => `apg-js: line ${e.line + 1}: ${e.msg}`);
  if (api.errors.some(e => /attribute error/.test(e.msg))) {
    // Name the rules: left nested right cyclic finite empty, "e" for error.
    const attributes = ["left recursive", "nested", "right", "cyclic", "without a finite sentence", "empty"];
    for (const line of api.displayAttributeErrors().split("\n")) {
      const m = line.match(/^\d+:\d+:([tfe](?: [tfe]){5}):[^:]*:[^:]*:(.+)$/);
      if (!m) continue;
      const flags = m[1].split(" ");
      const what = attributes.filter((_, k) => flags[k] === "e").join(", ");
      if (what) problems.push(`apg-js: rule ${m[2].trim()} is ${what}`);
    }
  }
  return problems;
}

export function loadWithAbnf(text, source) {
  let rules;
  try {
    rules = parseString(text, source, false);
  } catch (error) {
    return { rules: null, problems: [`abnf: ${error.message.split("\n")[0]}`] };
  }
  const problems = [];
  const reported = new Set();
  for (const ref of rules.refs) {
    const key = ref.name.toUpperCase();
    if (!Object.prototype.hasOwnProperty.call(rules.defs, key) && !reported.has(key)) {
      reported.add(key);
      problems.push(`abnf: line ${ref.loc.start.line}: rule ${ref.name} is not defined`);
    }
  }
  return { rules, problems };
}

// ---------------------------------------------------------------------------
// Conversion of the abnf syntax tree into a nearley grammar

const NIL = () => null;

function letterCases(cp) {
  const ch = String.fromCodePoint(cp);
  if (!/[A-Za-z]/.test(ch)) return [[cp, cp]];
  const upper = ch.toUpperCase().codePointAt(0);
  const lower = ch.toLowerCase().codePointAt(0);
  return [
    [upper, upper],
    [lower, lower],
  ];
}

function charMatcher(ranges) {
  const sorted = ranges.slice().sort((a, b) => a[0] - b[0]);
  return {
    ranges: sorted,
    test: token => sorted.some(([lo, hi]) => token.cp >= lo && token.cp <= hi),
    toString: () => sorted.map(([lo, hi]) => (lo === hi ? `%x${lo.toString(16)}` : `%x${lo.toString(16)}-${hi.toString(16)}`)).join(" / "),
  };
}

export class NearleyConverter {
  constructor(rules) {
    this.rules = rules;
    this.productions = [];
    this.count = 0;
    this.classes = new Map();
    this.classBusy = new Set();
  }

  static ruleSymbol(name) {
    return `R:${name.toUpperCase()}`;
  }

  fresh(hint) {
    this.count += 1;
    return `A:${this.count}:${hint}`;
  }

  add(name, symbols, postprocess = NIL) {
    this.productions.push({ name, symbols, postprocess });
  }

  // The set of single characters a node stands for, or null when it is not
  // a plain set of characters. Alternatives of such sets are merged into one
  // test, so overlapping ranges do not make a character ambiguous.
  charClass(node) {
    switch (node.type) {
      case "range":
        return [[node.first, node.last]];
      case "caseSensitveString": {
        const cps = Array.from(node.str);
        return cps.length === 1 ? [[cps[0].codePointAt(0), cps[0].codePointAt(0)]] : null;
      }
      case "caseInsensitveString": {
        const cps = Array.from(node.str);
        return cps.length === 1 ? letterCases(cps[0].codePointAt(0)) : null;
      }
      case "group":
        return this.charClass(node.alt);
      case "alternation": {
        const all = [];
        for (const alt of node.alts) {
          const c = this.charClass(alt);
          if (!c) return null;
          all.push(...c);
        }
        return all;
      }
      case "ruleref": {
        const key = node.name.toUpperCase();
        if (this.classes.has(key)) return this.classes.get(key);
        const rule = this.rules.defs[key];
        if (!rule || this.classBusy.has(key)) return null;
        this.classBusy.add(key);
        const c = this.charClass(rule.def);
        this.classBusy.delete(key);
        this.classes.set(key, c);
        return c;
      }
      default:
        return null;
    }
  }

  // One symbol standing for the node.
  symbol(node) {
    const cls = this.charClass(node);
    if (cls) return charMatcher(cls);
    switch (node.type) {
      case "ruleref":
        if (!this.rules.defs[node.name.toUpperCase()]) throw new Error(`rule ${node.name} is not defined`);
        return NearleyConverter.ruleSymbol(node.name);
      case "group":
        return this.symbol(node.alt);
      case "alternation": {
        const name = this.fresh("alt");
        for (const alt of node.alts) this.add(name, this.sequence(alt));
        return name;
      }
      case "concatenation":
      case "caseSensitveString":
      case "caseInsensitveString": {
        const name = this.fresh("seq");
        this.add(name, this.sequence(node));
        return name;
      }
      case "repetition":
        return this.repetition(node);
      case "prose":
        throw new Error(`prose value <${node.str}> cannot be parsed`);
      default:
        throw new Error(`unsupported ABNF element ${node.type}`);
    }
  }

  // The symbols of a node in sequence.
  sequence(node) {
    switch (node.type) {
      case "concatenation":
        return node.elements.flatMap(e => this.sequence(e));
      case "caseInsensitveString":
        return Array.from(node.str).map(ch => charMatcher(letterCases(ch.codePointAt(0))));
      case "caseSensitveString":
        return Array.from(node.str).map(ch => charMatcher([[ch.codePointAt(0), ch.codePointAt(0)]]));
      case "group":
        return node.alt.type === "concatenation" ? this.sequence(node.alt) : [this.symbol(node.alt)];
      default:
        return [this.symbol(node)];
    }
  }

  repetition(node) {
    if (node.rep.type !== "repeat") throw new Error(`unsupported repetition ${node.rep.type}`);
    const min = node.rep.min;
    const max = node.rep.max; // null: unbounded
    const item = this.symbol(node.el);
    if (min === 1 && max === 1) return item;
    const name = this.fresh(`rep${min}-${max ?? ""}`);
    if (max === null || max === min) {
      const head = Array(min).fill(item);
      if (max === null) {
        // name -> item{min} | name item
        this.add(name, head);
        this.add(name, [name, item]);
      } else {
        this.add(name, head);
      }
      return name;
    }
    // min..max with a finite max: count the items and drop the derivations
    // that go beyond the bounds.
    const counter = this.fresh("count");
    this.add(counter, [], () => 0);
    this.add(counter, [counter, item], (d, _ref, reject) => (d[0] + 1 > max ? reject : d[0] + 1));
    this.add(name, [counter], (d, _ref, reject) => (d[0] < min ? reject : null));
    return name;
  }

  convert(start) {
    for (const [key, rule] of Object.entries(this.rules.defs)) {
      const name = NearleyConverter.ruleSymbol(key);
      const def = rule.def;
      if (def.type === "alternation") {
        for (const alt of def.alts) this.add(name, this.sequence(alt));
      } else {
        this.add(name, this.sequence(def));
      }
    }
    return {
      Lexer: new CodePointLexer(),
      ParserRules: this.productions,
      ParserStart: NearleyConverter.ruleSymbol(start),
    };
  }
}

// Feeds a message to nearley one code point at a time.
class CodePointLexer {
  reset(data) {
    this.points = Array.from(data);
    this.index = 0;
  }

  next() {
    if (this.index >= this.points.length) return undefined;
    const value = this.points[this.index++];
    return { value, text: value, cp: value.codePointAt(0), offset: this.index - 1 };
  }

  save() {
    return {};
  }

  formatError(token) {
    return `unexpected ${JSON.stringify(token.value)} at offset ${token.offset}`;
  }

  has() {
    return true;
  }
}

// Feeds a message to nearley one byte of its UTF-8 text at a time.
class ByteLexer extends CodePointLexer {
  reset(data) {
    this.points = Array.from(Buffer.from(data, "utf8"), b => String.fromCharCode(b));
    this.index = 0;
  }
}

export function compileMessages(rules, { bytes = false } = {}) {
  const compiled = new NearleyConverter(rules).convert(rules.first);
  if (bytes) compiled.Lexer = new ByteLexer();
  return nearley.Grammar.fromCompiled(compiled);
}

// Whether the whole message is a sentence of the start rule. On rejection,
// `where` tells how far the parser got.
export function accepts(grammar, message) {
  const parser = new nearley.Parser(grammar);
  try {
    parser.feed(message);
  } catch (error) {
    return { ok: false, where: `stopped at offset ${error.offset}` };
  }
  return parser.results.length > 0 ? { ok: true } : { ok: false, where: "message ended early" };
}

// ---------------------------------------------------------------------------
// Sample messages: "--- accept: label" or "--- reject: label" headers, each
// followed by the message's lines. Lines before the first header and
// trailing blank lines of a message are not part of it.

export function readMessages(file) {
  const samples = [];
  let current = null;
  fs.readFileSync(file, "utf8")
    .split("\n")
    .forEach((line, n) => {
      const header = line.match(/^--- (accept|reject): (.*)$/);
      if (header) {
        current = { expect: header[1], label: header[2], line: n + 1, lines: [] };
        samples.push(current);
      } else if (current) {
        current.lines.push(line);
      }
    });
  for (const sample of samples) {
    while (sample.lines.length && sample.lines[sample.lines.length - 1] === "") sample.lines.pop();
    sample.text = sample.lines.join("\n");
  }
  return samples;
}

// ---------------------------------------------------------------------------
// The run

function translate(options, args, cwd) {
  try {
    return execFileSync(options.binary, args, {
      cwd,
      encoding: "utf8",
      env: { ...process.env, SOURCE_DATE_EPOCH: "1700000000" },
    });
  } catch (error) {
    throw new Error(`${options.binary} ${args.join(" ")} failed: ${error.message}`);
  }
}

// The words of a golden case's cmd line: blanks separate them, quotes
// group them.
export function shellWords(line) {
  const words = [];
  let word = null;
  for (let i = 0; i < line.length; i++) {
    const c = line[i];
    if (c === "'" || c === '"') {
      const end = line.indexOf(c, i + 1);
      if (end < 0) throw new Error(`unbalanced quote in ${JSON.stringify(line)}`);
      word = (word ?? "") + line.slice(i + 1, end);
      i = end;
    } else if (/\s/.test(c)) {
      if (word !== null) words.push(word);
      word = null;
    } else {
      word = (word ?? "") + c;
    }
  }
  if (word !== null) words.push(word);
  return words;
}

// The golden cases that write a grammar: their folder, their arguments,
// whether they run in strict mode, and the expected grammar files.
function collectGolden(root) {
  const found = [];
  const golden = path.join(root, "tests", "golden");
  if (!fs.existsSync(golden)) return found;
  const walk = (dir, files) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true }).sort((a, b) => a.name.localeCompare(b.name))) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(full, files);
      else if (entry.name.endsWith(".abnf")) files.push(full);
    }
    return files;
  };
  for (const theme of fs.readdirSync(golden).sort()) {
    const themeDir = path.join(golden, theme);
    if (!fs.statSync(themeDir).isDirectory()) continue;
    for (const name of fs.readdirSync(themeDir).sort()) {
      const dir = path.join(themeDir, name);
      const expected = path.join(dir, "expected");
      if (!fs.existsSync(expected) || !fs.statSync(expected).isDirectory()) continue;
      const files = walk(expected, []);
      if (!files.length) continue;
      const args = shellWords(fs.readFileSync(path.join(dir, "cmd"), "utf8").trim());
      found.push({ dir, args, strict: args.includes("--strict-abnf"), expected, files });
    }
  }
  return found;
}

// ---------------------------------------------------------------------------
// Strict grammars

// The strict grammars to load: [{ label, file, messages?, refused? }].
function strictGrammars(options) {
  const grammars = [];
  const work = path.join(options.work, "strict");
  fs.mkdirSync(work, { recursive: true });

  const bundled = path.join(work, "orders.abnf");
  translate(options, ["--strict-abnf", "examples/orders.pvx", "+", "examples/common.pvx", bundled], options.root);
  grammars.push({
    label: "strict: bundled example",
    file: bundled,
    messages: path.join(here, "samples", "orders.strict.msg"),
  });

  const samplesDir = path.join(here, "samples");
  for (const name of fs.readdirSync(samplesDir).filter(n => n.endsWith(".pvx")).sort()) {
    const out = path.join(work, name.replace(/\.pvx$/, ".abnf"));
    translate(options, ["--strict-abnf", name, out], samplesDir);
    const messages = path.join(samplesDir, name.replace(/\.pvx$/, ".strict.msg"));
    grammars.push({ label: `strict: sample ${name}`, file: out, messages: fs.existsSync(messages) ? messages : null });
  }

  // Samples of forms only the strict grammar has.
  const strictDir = path.join(samplesDir, "strict");
  for (const name of fs.readdirSync(strictDir).filter(n => n.endsWith(".pvx")).sort()) {
    const out = path.join(work, `strict-${name.replace(/\.pvx$/, ".abnf")}`);
    translate(options, ["--strict-abnf", name, out], strictDir);
    grammars.push({
      label: `strict: sample strict/${name}`,
      file: out,
      messages: path.join(strictDir, name.replace(/\.pvx$/, ".msg")),
    });
  }

  // The golden cases: the expected files of the strict ones, and every other
  // one run again in strict mode on a copy of its inputs.
  for (const c of collectGolden(options.root)) {
    const label = path.relative(options.root, c.dir);
    if (c.strict) {
      for (const file of c.files) grammars.push({ label: `strict: ${path.relative(options.root, file)}`, file });
      continue;
    }
    const copy = path.join(work, "golden", label);
    fs.rmSync(copy, { recursive: true, force: true });
    fs.cpSync(c.dir, copy, { recursive: true });
    for (const file of c.files) fs.rmSync(path.join(copy, path.relative(c.expected, file)), { force: true });
    const run = spawnSync(options.binary, ["--strict-abnf", ...c.args], {
      cwd: copy,
      encoding: "utf8",
      env: { ...process.env, SOURCE_DATE_EPOCH: "1700000000" },
    });
    for (const file of c.files) {
      const written = path.join(copy, path.relative(c.expected, file));
      const entry = { label: `strict: ${label} (inputs)`, file: written };
      if (!fs.existsSync(written)) {
        entry.refused = (run.stdout || "").split("\n").filter(l => / : error: /.test(l)).slice(0, 1).join("");
      }
      grammars.push(entry);
    }
  }

  // The random schemas, translated by one shell script (a process per
  // schema from node costs more than the translation).
  const randomDir = path.join(work, "random");
  fs.rmSync(randomDir, { recursive: true, force: true });
  const quote = s => `'${s.replace(/'/g, "'\\''")}'`;
  const script = [];
  for (let seed = 0; seed < options.schemas; seed++) {
    const dir = path.join(randomDir, String(seed));
    fs.mkdirSync(dir, { recursive: true });
    const schema = randomSchema(seed);
    fs.writeFileSync(path.join(dir, "main.pvx"), schema.main);
    fs.writeFileSync(path.join(dir, "lib.pvx"), schema.lib);
    script.push(`cd ${quote(dir)} && ${quote(options.binary)} --strict-abnf main.pvx + lib.pvx out.abnf > stdout.txt`);
  }
  if (script.length) {
    fs.writeFileSync(path.join(randomDir, "translate.sh"), script.join("\n") + "\n");
    execFileSync("sh", [path.join(randomDir, "translate.sh")], {
      env: { ...process.env, SOURCE_DATE_EPOCH: "1700000000" },
    });
  }
  for (let seed = 0; seed < options.schemas; seed++) {
    const dir = path.join(randomDir, String(seed));
    const stdout = fs.readFileSync(path.join(dir, "stdout.txt"), "utf8");
    grammars.push({ label: `strict: random schema ${seed}`, file: path.join(dir, "out.abnf"), stdout, together: true });
  }
  return grammars;
}

function validateStrict(options, failures) {
  const counts = { grammars: 0, loaded: 0, refused: 0, messages: 0, messagesPassed: 0 };
  const grammars = strictGrammars(options);
  const together = grammars.filter(g => g.together && fs.existsSync(g.file));
  if (together.length) {
    const reference = splitStrict(fs.readFileSync(grammars[0].file, "utf8"));
    const texts = together.map(g => ({ label: g.label, text: fs.readFileSync(g.file, "utf8") }));
    checkStrictTogether(texts, reference ? reference.common : "").forEach((problems, k) => {
      together[k].problems = problems;
    });
  }
  for (const g of grammars) {
    counts.grammars++;
    if (g.refused !== undefined) {
      counts.refused++;
      console.log(`ok   grammar ${g.label} (refused by the strict checks: ${g.refused || "no grammar written"})`);
      continue;
    }
    if (!fs.existsSync(g.file)) {
      failures.push(`${g.label}: no output file was written${g.stdout ? `:\n${g.stdout}` : ""}`);
      console.log(`FAIL grammar ${g.label}`);
      continue;
    }
    const checked = g.together ? { problems: g.problems } : checkStrict(fs.readFileSync(g.file, "utf8"), g.label);
    if (checked.problems.length) {
      failures.push(`${g.label}:\n    ${checked.problems.join("\n    ")}`);
      console.log(`FAIL grammar ${g.label}`);
      continue;
    }
    counts.loaded++;
    if (!g.label.startsWith("strict: random")) console.log(`ok   grammar ${g.label}`);
    if (!g.messages) continue;
    const grammar = compileMessages(checked.rules, { bytes: true });
    for (const sample of readMessages(g.messages)) {
      counts.messages++;
      const result = accepts(grammar, sample.text);
      const want = sample.expect === "accept";
      const where = `${path.relative(options.root, g.messages)}:${sample.line}`;
      if (result.ok === want) {
        counts.messagesPassed++;
        console.log(`ok   ${sample.expect} ${sample.label}`);
      } else {
        const why = result.ok ? "accepted" : `rejected (${result.where})`;
        failures.push(`${where}: message "${sample.label}" should be ${sample.expect}ed but was ${why}`);
        console.log(`FAIL ${sample.expect} ${sample.label}`);
      }
    }
  }
  console.log(`ok   ${options.schemas} random schemas translated in strict mode and loaded together`);
  return counts;
}

function main() {
  const options = parseArguments(process.argv.slice(2));
  const supplement = readSupplement(path.join(here, "supplement.abnf"));
  fs.mkdirSync(options.work, { recursive: true });
  const failures = [];
  const knownNotes = new Set();

  // The grammars to load.
  const grammars = [];
  const bundled = path.join(options.work, "orders.abnf");
  translate(options, ["examples/orders.pvx", "+", "examples/common.pvx", bundled], options.root);
  grammars.push({ label: "bundled example (examples/orders.pvx + examples/common.pvx)", file: bundled });
  for (const c of collectGolden(options.root)) {
    if (c.strict) continue;
    for (const file of c.files) grammars.push({ label: path.relative(options.root, file), file, golden: true });
  }
  const samplesDir = path.join(here, "samples");
  const samples = fs
    .readdirSync(samplesDir)
    .filter(name => name.endsWith(".pvx"))
    .sort();
  for (const name of samples) {
    const out = path.join(options.work, name.replace(/\.pvx$/, ".abnf"));
    translate(options, [name, out], samplesDir);
    grammars.push({ label: `sample ${name}`, file: out, messages: path.join(samplesDir, name.replace(/\.pvx$/, ".msg")) });
  }

  let grammarsPassed = 0;
  let grammarsKnownInvalid = 0;
  let messagesPassed = 0;
  let messagesTotal = 0;
  for (const g of grammars) {
    if (!fs.existsSync(g.file)) {
      failures.push(`${g.label}: no output file was written`);
      continue;
    }
    const prepared = prepare(fs.readFileSync(g.file, "utf8"), supplement);
    prepared.notes.forEach(note => knownNotes.add(note));
    const problems = [...prepared.problems, ...checkWithApg(prepared.text)];
    const loaded = loadWithAbnf(prepared.text, g.label);
    problems.push(...loaded.problems);
    const knownInvalid = g.golden && supplement.invalid.get(g.label);
    if (knownInvalid !== undefined) {
      if (problems.length) {
        knownNotes.add(`known: ${g.label} is not ABNF as written: ${knownInvalid} (${problems[0]})`);
        grammarsKnownInvalid++;
        console.log(`ok   grammar ${g.label} (known not to load)`);
      } else {
        failures.push(`${g.label}: listed in the side file as not ABNF, but loads cleanly`);
        console.log(`FAIL grammar ${g.label}`);
      }
      continue;
    }
    if (problems.length) {
      failures.push(`${g.label}:\n    ${problems.join("\n    ")}`);
      console.log(`FAIL grammar ${g.label}`);
      continue;
    }
    grammarsPassed++;
    console.log(`ok   grammar ${g.label}`);

    if (!g.messages) continue;
    const grammar = compileMessages(loaded.rules);
    for (const sample of readMessages(g.messages)) {
      messagesTotal++;
      const result = accepts(grammar, sample.text);
      const want = sample.expect === "accept";
      const where = `${path.relative(options.root, g.messages)}:${sample.line}`;
      if (result.ok === want) {
        messagesPassed++;
        console.log(`ok   ${sample.expect} ${sample.label}`);
      } else {
        const why = result.ok ? "accepted" : `rejected (${result.where})`;
        failures.push(`${where}: message "${sample.label}" should be ${sample.expect}ed but was ${why}`);
        console.log(`FAIL ${sample.expect} ${sample.label}`);
      }
    }
  }

  const strict = validateStrict(options, failures);

  for (const note of [...knownNotes].sort()) console.log(note);
  for (const failure of failures) console.log(`FAIL ${failure}`);
  console.log(
    `grammars: ${grammarsPassed} of ${grammars.length} loaded cleanly by apg-js and abnf, ` +
      `${grammarsKnownInvalid} known not to load; ` +
      `messages: ${messagesPassed} of ${messagesTotal} as expected`
  );
  console.log(
    `strict grammars: ${strict.loaded} of ${strict.grammars} loaded cleanly by apg-js and abnf with no side file, ` +
      `${strict.refused} refused by the strict checks; ` +
      `strict messages: ${strict.messagesPassed} of ${strict.messages} as expected`
  );
  const checks = grammars.length + messagesTotal + strict.grammars + strict.messages;
  console.log(`validate: ${checks - failures.length} passed, ${failures.length} failed`);
  return failures.length === 0 ? 0 : 1;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  try {
    process.exitCode = main();
  } catch (error) {
    console.log(`FAIL ${error.message}`);
    process.exitCode = 1;
  }
}
