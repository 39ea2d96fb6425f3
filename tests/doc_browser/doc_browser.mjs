// Opens documentation pages in the system's headless Chromium and checks
// what a reader would find: no console error, every internal link finds
// its id, the search box filters, every diagram has a size. A screenshot
// of each page is kept in the scratch folder.
//
//   node doc_browser.mjs --binary PVX2ABNF --examples DIR --gen GEN_SCHEMA.PY --scratch DIR
import { execFileSync } from "node:child_process";
import { mkdirSync, rmSync } from "node:fs";
import { join } from "node:path";
import { chromium } from "playwright-core";

const opts = {};
for (let i = 2; i < process.argv.length; i += 2) opts[process.argv[i].slice(2)] = process.argv[i + 1];
const chromiumPath = opts.chromium ?? "/usr/bin/chromium";
rmSync(opts.scratch, { recursive: true, force: true });
mkdirSync(opts.scratch, { recursive: true });

function makePage(name, args) {
  const page = join(opts.scratch, name + ".html");
  execFileSync(opts.binary, ["-q", "--doc=" + page, ...args], { stdio: ["ignore", "pipe", "inherit"] });
  return page;
}

// The bundled example with its library, and a random schema of 1,000 definitions.
const pages = [
  { name: "example", file: makePage("example", [join(opts.examples, "orders.pvx"), "+", join(opts.examples, "common.pvx")]),
    query: "orderrequest", full: true },
];
execFileSync("python3", [opts.gen, "--out", join(opts.scratch, "random"), "-n", "1000", "--formats", "pvx"]);
pages.push({ name: "random-1000", file: makePage("random-1000", [join(opts.scratch, "random", "main.pvx")]), query: "msg12" });
// The page of the 10,000-definition benchmark schema is only timed: how
// long it takes to open (under 3 s on an idle machine of two cores).
execFileSync("python3", [opts.gen, "--out", join(opts.scratch, "bench"), "-n", "10000", "--formats", "pvx"]);
const benchPage = makePage("random-10000", [join(opts.scratch, "bench", "main.pvx")]);

const browser = await chromium.launch({
  executablePath: chromiumPath,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log("FAIL: " + what);
  }
}

for (const p of pages) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 1000 } });
  const page = await context.newPage();
  const errors = [];
  const requests = [];
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", (e) => errors.push(String(e)));
  page.on("request", (r) => { if (!r.url().startsWith("file://")) requests.push(r.url()); });
  const started = Date.now();
  await page.goto("file://" + p.file, { waitUntil: "load" });
  const loaded = Date.now() - started;

  // Everything a large page keeps for later is drawn.
  await page.evaluate(() => window.drawAllDefinitions && window.drawAllDefinitions());

  const links = await page.evaluate(() => {
    const missing = [];
    let count = 0;
    for (const a of document.querySelectorAll("a[href]")) {
      const href = a.getAttribute("href");
      if (!href.startsWith("#")) { missing.push("not internal: " + href); continue; }
      count++;
      if (document.getElementById(decodeURIComponent(href.slice(1))) === null) missing.push(href);
    }
    const ids = new Set();
    const twice = [];
    for (const e of document.querySelectorAll("[id]")) {
      if (ids.has(e.id)) twice.push(e.id);
      ids.add(e.id);
    }
    return { count, missing, twice };
  });
  check(links.count > 0, `${p.name}: no internal links at all`);
  check(links.missing.length === 0, `${p.name}: links without their id: ${links.missing.slice(0, 5).join(", ")}`);
  check(links.twice.length === 0, `${p.name}: ids given twice: ${links.twice.slice(0, 5).join(", ")}`);

  const diagrams = await page.evaluate(() => {
    const svgs = [...document.querySelectorAll("svg.rr")];
    const empty = svgs.filter((s) => { const r = s.getBoundingClientRect(); return !(r.width > 0 && r.height > 0); });
    // A rule's box is a link; a box drawn once for the page must be there.
    const uses = [...document.querySelectorAll("svg.rr use")];
    const unlinked = [...document.querySelectorAll("svg.rr rect[rx='2']")].filter((r) => r.closest("a") === null)
      .concat(uses.filter((u) => { const t = document.getElementById(u.getAttribute("href").slice(1)); return t !== null && !t.classList.contains("t") && u.closest("a") === null; }));
    const lost = uses.filter((u) => document.getElementById(u.getAttribute("href").slice(1)) === null);
    return { count: svgs.length, empty: empty.length, unlinked: unlinked.length, lost: lost.length };
  });
  check(diagrams.count > 0, `${p.name}: no diagrams`);
  check(diagrams.empty === 0, `${p.name}: ${diagrams.empty} of ${diagrams.count} diagrams have no size`);
  check(diagrams.unlinked === 0, `${p.name}: ${diagrams.unlinked} rule boxes without a link`);
  check(diagrams.lost === 0, `${p.name}: ${diagrams.lost} boxes used but not drawn for the page`);

  // The search box filters as one types, and shows everything again when cleared.
  const total = await page.locator("article.def").count();
  await page.locator("#filter").pressSequentially(p.query, { delay: 5 });
  const visible = await page.evaluate(() => [...document.querySelectorAll("article.def")].filter((a) => !a.hidden).map((a) => a.id));
  check(visible.length > 0 && visible.length < total, `${p.name}: filtering by "${p.query}" shows ${visible.length} of ${total}`);
  const counted = await page.locator("#shown").textContent();
  check(counted.startsWith(visible.length + " of " + total), `${p.name}: the count says "${counted}"`);
  await page.locator("#filter").fill("");
  await page.locator("#filter").dispatchEvent("input");
  const again = await page.evaluate(() => [...document.querySelectorAll("article.def")].filter((a) => !a.hidden).length);
  check(again === total, `${p.name}: after clearing the filter ${again} of ${total} show`);

  // Following a link shows its target.
  const target = await page.evaluate(() => {
    const a = document.querySelector("td a[href^='#']");
    return a ? a.getAttribute("href") : null;
  });
  if (target !== null) {
    await page.locator(`td a[href='${target}']`).first().click();
    const shown = await page.evaluate((id) => {
      const e = document.getElementById(decodeURIComponent(id.slice(1)));
      const r = e.getBoundingClientRect();
      return location.hash === id && r.top < window.innerHeight && r.bottom > 0;
    }, target);
    check(shown, `${p.name}: following ${target} does not show it`);
    await page.evaluate(() => window.scrollTo(0, 0));
  }

  await page.screenshot({ path: join(opts.scratch, p.name + ".png"), fullPage: p.full === true });
  check(errors.length === 0, `${p.name}: console errors: ${errors.slice(0, 3).join(" | ")}`);
  check(requests.length === 0, `${p.name}: the page fetched ${requests.slice(0, 3).join(", ")}`);
  console.log(`${p.name}: ${total} definitions, ${links.count} links, ${diagrams.count} diagrams, opened in ${loaded} ms`);
  await context.close();
}
{
  const context = await browser.newContext({ viewport: { width: 1280, height: 1000 } });
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  const times = [];
  for (let i = 0; i < 3; i++) {
    const started = Date.now();
    await page.goto("file://" + benchPage, { waitUntil: "load", timeout: 120000 });
    times.push(Date.now() - started);
  }
  check(errors.length === 0, `random-10000: page errors: ${errors.slice(0, 3).join(" | ")}`);
  await page.screenshot({ path: join(opts.scratch, "random-10000.png") });
  console.log(`random-10000: opened in ${Math.min(...times)} ms at best of 3 (${times.join(", ")} ms)`);
  await context.close();
}
await browser.close();
console.log(failures === 0 ? "doc browser checks: all passed" : `doc browser checks: ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
