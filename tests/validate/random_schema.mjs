// A small seeded generator of Pavex schemas for the strict grammar checks.
//
//   randomSchema(seed) -> { main, lib }
//
// Two source files, four modules: structures, unions and combinations with
// bodies declared in place (some repeated, nested up to three levels),
// every simple kind with and without constraints, cardinalities of every
// form, version brackets, references within a module and across modules
// through import aliases, references back to the root, plug statements,
// names that clash across modules, by case, with "_" against "-" and with
// the common rules' names, tags holding quotes, braces and bytes above
// 0x7E, and members of one body that share a tag. Every schema passes the strict checks by construction: ranges and
// cardinalities are in order, untagged members are integers at the start
// of a body (one in a union, up to two in a structure), and a required member refers only to a definition made
// later in the run's order, so no structure contains itself through
// required members. The same seed gives the same schema on every machine.
//
//   node random_schema.mjs SEED    prints the two files

const MASK = (1n << 64n) - 1n;

// splitmix64, as bench/gen_schema.py uses it.
export class Rng {
  constructor(seed) {
    this.state = BigInt(seed) & MASK;
  }
  next() {
    this.state = (this.state + 0x9e3779b97f4a7c15n) & MASK;
    let z = this.state;
    z = ((z ^ (z >> 30n)) * 0xbf58476d1ce4e5b9n) & MASK;
    z = ((z ^ (z >> 27n)) * 0x94d049bb133111ebn) & MASK;
    return z ^ (z >> 31n);
  }
  below(n) {
    return Number(this.next() % BigInt(n));
  }
  chance(percent) {
    return this.below(100) < percent;
  }
  pick(list) {
    return list[this.below(list.length)];
  }
}

// Names a definition may take: some clash with each other (by case, or
// once "_" becomes "-") or with the common rules of the strict grammar.
const CLASHING = [
  "Item", "ITEM", "item", "Point", "date", "time", "bool", "float", "comment", "OWS", "DIGIT",
  "UTF8", "SafeChar", "safe-char", "extension-params", "Base64-line", "hex4", "Order_items",
  "Order-items", "Order", "Root-braced", "Msg", "msg", "Node_1", "node-1",
];
const WORDS = ["id", "count", "name", "label", "flags", "size", "code", "value", "note", "kind",
  "level", "owner", "stamp", "items", "class", "int", "x_y", "a-b"];
const ODD_TAGS = ['a"b', "x{y", "p'q", "k(v", "s[0", "t%2", "e\u00e9t", "w\\z", "q\u20ac"];
const CONST_TEXTS = ["OK", "EUR", "end of data", "v-1", "A\u00e9", "x{y", 'q"t', "n/a"];

function simpleType(rng) {
  const lo = rng.below(50);
  const hi = lo + rng.below(200);
  switch (rng.below(19)) {
    case 0: return `int<${lo}..${hi}>`;
    case 1: return `int<-${hi}..${lo}>`;
    case 2: return `int<-${hi}..-${lo}>`;
    case 3: return rng.pick(["float", "float<single>", "float<double>"]);
    case 4: return "oid";
    case 5: return rng.pick(["ascii", `ascii<${lo}..${hi}>`, `ascii<${lo + 1}>`, `ascii<1..8 /[a-z]*/>`]);
    case 6: return rng.pick(["unquoted-ascii", `unquoted-ascii<${lo + 1}..${hi + 1}>`, `unquoted-ascii<4>`]);
    case 7: return rng.pick(["unicode", `unicode<${lo}..${hi}>`, `unicode<${lo + 1}>`]);
    case 8: return rng.pick(["bytes", `bytes<${lo}..${hi * 3}>`, "bytes<171>", "bytes<0>", "bytes<0..57>"]);
    case 9: return `const<${rng.pick(CONST_TEXTS)}>`;
    case 10: return "ipv4";
    case 11: return "ipv6";
    case 12: return "date";
    case 13: return "time";
    case 14: return rng.pick(["embedded", `embedded<${lo}..${hi}>`, "embedded<(any text)>"]);
    case 15: return "bool";
    case 16: return `int<${hi}>`;
    case 17: return "int<8b>";
    default: return "int<0..4294967295>";
  }
}

function cardinality(rng, required) {
  const n = rng.below(4);
  const m = n + rng.below(4);
  const forms = required
    ? ["", "", "", "[+]", `[${n + 1}]`, `[${n + 1}..${m + 2}]`, `[${n + 1}..*]`]
    : ["", "[?]", "[*]", "[+]", `[${n}]`, `[${n}..${m}]`, `[${n}..*]`, "[0..1]", "[0]"];
  return rng.pick(forms);
}

const isRequired = card => card === "" || card === "[+]" || /^\[[1-9]/.test(card);

class Generator {
  constructor(seed) {
    this.rng = new Rng(seed);
    this.defs = []; // every top-level definition, in the run's order
    this.shared = null; // the tag members of the body being written may share
  }

  tag(name) {
    const rng = this.rng;
    // Members of a body that share a tag: the reader must find which one
    // a value belongs to.
    if (this.shared && rng.chance(40)) return ` as ${this.shared}`;
    if (rng.chance(12)) return ` as ${rng.pick(ODD_TAGS)}`;
    if (rng.chance(8)) return ` as t-${name}`;
    return "";
  }

  // A reference to a definition: `from` is the index of the definition
  // being written; a required one points only to a later definition.
  reference(from, module, required) {
    const rng = this.rng;
    const candidates = this.defs.filter(
      d => (d.module === module || module.imports.has(d.module)) && (!required || d.index > from)
    );
    if (!candidates.length) return null;
    const d = rng.pick(candidates);
    return d.module === module ? d.name : `${module.imports.get(d.module)}::${d.name}`;
  }

  member(from, module, name, depth, lines, indent) {
    const rng = this.rng;
    const roll = rng.below(100);
    let card = cardinality(rng, false);
    if (roll < 18 && depth < 3) {
      const kind = rng.pick(["struct", "struct", "union", "combi"]);
      if (kind === "combi") card = rng.pick(["", "[?]", "[2]", "[*]"]);
      lines.push(`${indent}${kind} ${name}${card ? " " + card : ""}${this.tag(name)} {`);
      this.body(from, module, kind, depth + 1, lines, indent + "    ");
      lines.push(`${indent}};`);
      return;
    }
    if (roll < 38) {
      const target = this.reference(from, module, isRequired(card));
      if (target) {
        lines.push(`${indent}${target} ${name}${card ? " " + card : ""}${this.tag(name)};`);
        return;
      }
    }
    let type = simpleType(rng);
    if (rng.chance(5)) type = "void";
    lines.push(`${indent}${type} ${name}${card ? " " + card : ""}${this.tag(name)};`);
  }

  body(from, module, kind, depth, lines, indent) {
    const rng = this.rng;
    const count = kind === "union" ? 1 + rng.below(3) : rng.below(5);
    if (kind === "combi") {
      for (let i = 0; i < count; i++) {
        const piece = rng.pick([
          `int<0..${rng.pick([9, 99, 65535])}>`,
          `const<${rng.pick(["X", "-", "ab", "V1"])}>`,
          `unquoted-ascii<${1 + rng.below(5)}>`,
        ]);
        lines.push(`${indent}${piece} c${i};`);
      }
      return count;
    }
    let first = 0;
    if (rng.chance(30)) {
      // One untagged integer, standing first (in a union: in braces when
      // constrained); in a structure sometimes two, whose digits may run
      // together.
      lines.push(`${indent}int<0..${rng.pick([9, 999])}> u as ?;`);
      first = 1;
      if (kind === "struct" && rng.chance(30)) {
        lines.push(`${indent}int<${rng.pick(["0..9", "0..50", "1..999"])}> v as ?;`);
      }
    }
    const outerShared = this.shared;
    this.shared = rng.chance(25) ? rng.pick(["sx", "t", "Item"]) : null;
    let bracketed = false;
    for (let i = first; i < count; i++) {
      if (kind === "struct" && !bracketed && i > first && rng.chance(12)) {
        lines.push(`${indent}[`);
        bracketed = true;
      }
      const name = i % 3 === 2 ? rng.pick(WORDS) + i : `m${i}`;
      this.member(from, module, name, depth, lines, indent);
    }
    if (bracketed) lines.push(`${indent}]`);
    this.shared = outerShared;
    return count;
  }

  definition(module, index) {
    const rng = this.rng;
    const lines = [];
    const d = this.defs[index];
    if (d.kind === "simple") {
      lines.push(`${simpleType(rng)} ${d.name};`);
    } else {
      lines.push(`${d.kind} ${d.name} {`);
      d.members = this.body(index, module, d.kind, 1, lines, "    ");
      lines.push("};");
    }
    return lines.join("\n");
  }

  generate() {
    const rng = this.rng;
    const modules = [
      { name: "shop.orders", file: "main", imports: new Map() },
      { name: "shop.audit", file: "main", imports: new Map() },
      { name: "shop.common", file: "lib", imports: new Map() },
      { name: "shop.base_types", file: "lib", imports: new Map() },
    ];
    modules[0].imports.set(modules[2], "cmn").set(modules[3], "bt").set(modules[1], "aud");
    modules[1].imports.set(modules[0], "ord").set(modules[2], "cmn");
    modules[2].imports.set(modules[3], "bt");

    // Definitions: names unique within a module, clashing across them.
    let index = 0;
    for (const module of modules) {
      const used = new Set();
      const count = 1 + rng.below(3);
      for (let i = 0; i < count; i++) {
        let name;
        do {
          name = rng.chance(45) ? rng.pick(CLASHING) : `D${index}x${rng.below(1000)}`;
        } while (used.has(name));
        used.add(name);
        const kind = index === 0 ? "struct" : rng.pick(["struct", "struct", "union", "combi", "simple"]);
        this.defs.push({ module, name, kind, index: index++ });
      }
    }
    // References from a module reach only modules it imports; required
    // ones only definitions later in the run's order, which is module order.
    const texts = { main: [], lib: [] };
    for (const module of modules) {
      const out = [`pavex module ${module.name};`];
      for (const [target, alias] of module.imports) out.push(`import ${target.name} as ${alias};`);
      for (const d of this.defs) if (d.module === module) out.push(this.definition(module, d.index));
      const structs = this.defs.filter(d => d.module === module && d.kind === "struct" && d.members > 0);
      if (structs.length && rng.chance(40)) {
        const target = rng.pick(structs);
        out.push(`plug\n    ascii<1..9> plugged [?];\n    ${simpleType(rng)} extra [*];\ninto ${target.name};`);
      }
      out.push("endmodule;");
      texts[module.file].push(out.join("\n\n"));
    }
    return { main: texts.main.join("\n\n") + "\n", lib: texts.lib.join("\n\n") + "\n" };
  }
}

export function randomSchema(seed) {
  return new Generator(seed).generate();
}

if (process.argv[1] && process.argv[1].endsWith("random_schema.mjs")) {
  const schema = randomSchema(Number(process.argv[2] ?? 0));
  process.stdout.write(`// main.pvx\n${schema.main}\n// lib.pvx\n${schema.lib}`);
}
