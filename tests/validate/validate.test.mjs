// Checks of the validator itself: it must notice broken grammars, apply the
// side file exactly, and its Earley conversion must keep ABNF's meaning.
import assert from "node:assert/strict";
import path from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

import { randomSchema } from "./random_schema.mjs";
import {
  accepts,
  checkStrict,
  checkStrictTogether,
  checkWithApg,
  compileMessages,
  loadWithAbnf,
  prepare,
  readSupplement,
} from "./validate.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const supplement = readSupplement(path.join(here, "supplement.abnf"));
const none = { text: "", prose: new Map(), duplicates: new Map(), invalid: new Map(), rules: [] };

function language(grammar) {
  const loaded = loadWithAbnf(grammar, "test");
  assert.deepEqual(loaded.problems, []);
  const compiled = compileMessages(loaded.rules);
  return message => accepts(compiled, message).ok;
}

test("both parsers report words run together into an undefined rule", () => {
  const grammar = 'S = ( "t" EQUAL DQUOTE 1*5UTF8 DQUOTERBRCE )\nEQUAL = "="\nDQUOTE = %x22\nUTF8 = %x61\n';
  assert.match(checkWithApg(grammar).join("\n"), /DQUOTERBRCE/);
  assert.match(loadWithAbnf(grammar, "test").problems.join("\n"), /DQUOTERBRCE is not defined/);
});

test("both parsers report a placeholder that is not ABNF", () => {
  const grammar = 'S = ( "f" EQUAL TYPE??? )\nEQUAL = "="\n';
  assert.notEqual(checkWithApg(grammar).length, 0);
  assert.notEqual(loadWithAbnf(grammar, "test").problems.length, 0);
});

test("duplicates: exact ones and unlisted case-only ones fail, listed ones are renamed", () => {
  assert.match(prepare("a = %x61\na = %x62\n", none).problems.join(), /defined twice/);
  assert.match(prepare("a = %x61\nA = %x62\n", none).problems.join(), /only by case/);

  const grammar = 'S = SAFE-CHAR safe-char\nsafe-char = "x"\nSAFE-CHAR = "y" ; SAFE-CHAR\nT = "SAFE-CHAR"\n';
  const prepared = prepare(grammar, supplement);
  assert.deepEqual(prepared.problems, []);
  assert.match(prepared.text, /^S = SAFE-CHAR-2 safe-char$/m);
  assert.match(prepared.text, /^SAFE-CHAR-2 = "y" ; SAFE-CHAR$/m);
  assert.match(prepared.text, /^T = "SAFE-CHAR"$/m);
});

test("prose values are replaced only when the side file names them", () => {
  assert.match(prepare("c = <anything>\n", none).problems.join(), /<anything>/);
  const prepared = prepare('c = "/*" <any except */> "*/"\n', supplement);
  assert.deepEqual(prepared.problems, []);
  assert.match(prepared.text, /^c = "\/\*" c-comment-text "\*\/"$/m);
  assert.match(prepared.text, /^c-comment-text /m);
});

test("side rules join only where the grammar leaves a name undefined", () => {
  const prepared = prepare('S = UTF8 SafeChar\nUTF8 = %x41\nsafe-char = "s"\n', supplement);
  assert.doesNotMatch(prepared.text, /^UTF8 +=.*10FFFF/m);
  assert.match(prepared.text, /^SafeChar +=/m);
});

test("the comment body of the side file stops before the first */", () => {
  const grammar = 'S = "/*" <any except */> "*/"\nsafe-char = "s"\nDQUOTE = %x22\n';
  const inComment = language(prepare(grammar, supplement).text);
  assert.equal(inComment("/* a ** b */"), true);
  assert.equal(inComment("/***/"), true);
  assert.equal(inComment("/* a */ b */"), false);
});

test("bounded repetitions keep their bounds", () => {
  const inRange = language('S = 2*3"a" "b"\n');
  assert.deepEqual(["ab", "aab", "aaab", "aaaab"].map(inRange), [false, true, true, false]);
  const exact = language("S = 3%x30-39\n");
  assert.deepEqual(["12", "123", "1234"].map(exact), [false, true, false]);
  const upTo = language('S = *2( "x" / "y" ) "."\n');
  assert.deepEqual([".", "xy.", "xyx."].map(upTo), [true, true, false]);
});

test("quoted strings ignore case, numeric values do not", () => {
  const words = language('S = "True" %x41\n');
  assert.deepEqual(["TrueA", "tRUEA", "Truea"].map(words), [true, true, false]);
});

test("choices among ambiguous alternatives do not blow up and need the whole text", () => {
  const parens = language('S = 1*( "(" / %x28-2B / p ) "."\np = "(" / "*"\n');
  const start = Date.now();
  assert.equal(parens("(".repeat(60) + "."), true);
  assert.equal(parens("(".repeat(60)), false);
  assert.ok(Date.now() - start < 5000);
});

test("characters beyond the first plane count as one character", () => {
  const one = language("S = DQUOTE 1UTF8 DQUOTE\nDQUOTE = %x22\nUTF8 = %x00-21 / %x23-10FFFF\n");
  assert.equal(one('"\u{1F600}"'), true);
  assert.equal(one('"ab"'), false);
});

// ---- strict grammars

const crlf = text => text.replace(/\n/g, "\r\n");
const common = crlf('extension-params = "x"\nEQUAL = "="\nDQUOTE = %x22\n');

test("strict grammars are checked as RFC 5234 has it: CR LF line ends, no duplicate by case", () => {
  assert.deepEqual(checkStrict(crlf('S = "a"\n'), "t").problems, []);
  assert.match(checkStrict('S = "a"\n', "t").problems.join("\n"), /CRLF/);
  assert.match(checkStrict(crlf('S = "a"\ns = "b"\n'), "t").problems.join("\n"), /only by case/);
  assert.match(checkStrict(crlf("S = <prose>\n"), "t").problems.join("\n"), /prose value/);
  assert.match(checkStrict(crlf('S = T / "a"\nT = S "b"\n'), "t").problems.join("\n"), /rule S is left recursive/);
});

test("grammars checked together keep each one's faults to itself", () => {
  const good = crlf('; header\nS = "a" EQUAL T\nT = DQUOTE\n') + common;
  const grammars = [
    { label: "good", text: good },
    { label: "undefined", text: crlf('; header\nS = "a" U\n') + common },
    { label: "left", text: crlf('; header\nS = T / "a"\nT = S "b"\n') + common },
    { label: "clash", text: crlf('; header\nS = "a"\nequal = "b"\n') + common },
    { label: "good again", text: good },
    { label: "other common", text: crlf('S = "a"\n') + common.replace('"x"', '"y"') },
  ];
  const problems = checkStrictTogether(grammars, common);
  assert.deepEqual(problems[0], []);
  assert.match(problems[1].join("\n"), /rule U is not defined/);
  assert.match(problems[2].join("\n"), /left recursive/);
  assert.match(problems[3].join("\n"), /only by case/);
  assert.deepEqual(problems[4], []);
  assert.match(problems[5].join("\n"), /common rules differ/);
});

test("strict messages are read as UTF-8 bytes", () => {
  const grammar = crlf(
    "S = DQUOTE 1UTF8 DQUOTE\nDQUOTE = %x22\nUTF8 = %x00-21 / %x23-7F / UTF8-2\nUTF8-2 = %xC2-DF %x80-BF\n"
  );
  const loaded = loadWithAbnf(grammar, "test");
  const bytes = compileMessages(loaded.rules, { bytes: true });
  assert.equal(accepts(bytes, '"\u00e9"').ok, true);
  assert.equal(accepts(bytes, '"ab"').ok, false);
});

test("the random schemas are the same for a seed and differ between seeds", () => {
  assert.deepEqual(randomSchema(7), randomSchema(7));
  assert.notDeepEqual(randomSchema(7), randomSchema(8));
  assert.match(randomSchema(7).main, /^pavex module shop\.orders;/);
});
