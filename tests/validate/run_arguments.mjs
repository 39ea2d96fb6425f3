// The command line of the random-schema runs (agreement.mjs,
// json_roundtrip.mjs, compat_pairs.mjs): --binary B, --work DIR and the
// counts each run takes, given with their defaults.
import fs from "node:fs";
import path from "node:path";

// `counts` maps each count option (without its dashes) to its default;
// --show sets `shown`. Without --work the files go to a fresh folder
// named after `prefix`.
export function parseRunArguments(argv, counts, prefix) {
  const options = { work: null, binary: null, shown: 5 };
  for (const [name, value] of Object.entries(counts)) options[name] = value;
  for (let i = 0; i < argv.length; i++) {
    const next = () => {
      if (i + 1 >= argv.length) throw new Error(`${argv[i]} needs a value`);
      return argv[++i];
    };
    const name = argv[i].startsWith("--") ? argv[i].slice(2) : "";
    if (name === "binary") options.binary = path.resolve(next());
    else if (name === "work") options.work = path.resolve(next());
    else if (name === "show" || Object.hasOwn(counts, name)) {
      const v = Number(next());
      if (!Number.isInteger(v) || v < 0) throw new Error(`--${name} needs a count`);
      options[name === "show" ? "shown" : name] = v;
    } else {
      throw new Error(`unknown argument ${argv[i]}`);
    }
  }
  if (!options.binary) throw new Error("--binary is required");
  if (!options.work) options.work = fs.mkdtempSync(`/tmp/pvx2abnf-${prefix}-`);
  return options;
}
