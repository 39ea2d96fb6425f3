// The HTML page: one file with its style, its diagrams and a small script
// inline, so that it shows the same from a file, offline, or printed.
#include <string>
#include <unordered_map>

#include "docpages/docpages.h"
#include "docpages/railroad.h"

namespace qrv {

namespace {

const char page_style[] = R"css(
:root{--bg:#fff;--fg:#1d2430;--muted:#5b6575;--line:#d5dae2;--panel:#f5f7fa;--accent:#0b5cad;
--term:#fff4d6;--term-line:#b08a1e;--rule:#e4efff;--rule-line:#3d6fb0;--mark:#fff3a8}
@media (prefers-color-scheme:dark){:root{--bg:#14181f;--fg:#dde3ec;--muted:#9aa5b5;--line:#353d4a;
--panel:#1c222b;--accent:#79b4ff;--term:#3a3220;--term-line:#c9a64a;--rule:#1f2d44;
--rule-line:#6d9ee0;--mark:#4a4320}}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--fg);font:15px/1.5 system-ui,-apple-system,"Segoe UI",sans-serif}
a{color:var(--accent);text-decoration:none}a:hover{text-decoration:underline}
header{position:sticky;top:0;z-index:2;background:var(--bg);border-bottom:1px solid var(--line);
padding:.6rem 1.2rem;display:flex;flex-wrap:wrap;gap:.4rem 1.2rem;align-items:baseline}
header h1{font-size:1.25rem;margin:0}
header .count{color:var(--muted);font-size:.9rem}
#filter{margin-left:auto;min-width:16rem;padding:.35rem .6rem;font:inherit;color:var(--fg);
background:var(--panel);border:1px solid var(--line);border-radius:6px}
.layout{display:grid;grid-template-columns:minmax(14rem,20rem) 1fr;gap:0}
nav{border-right:1px solid var(--line);padding:1rem 1.2rem;font-size:.9rem;max-height:calc(100vh - 3.2rem);
overflow:auto;position:sticky;top:3.2rem}
nav h2{font-size:1rem;margin:.2rem 0 .6rem}
nav h3{font-size:.85rem;margin:1rem 0 .2rem;color:var(--muted);font-family:ui-monospace,monospace}
nav ul{list-style:none;margin:0;padding:0}nav ul ul{padding-left:.9rem}
nav li{margin:.1rem 0}
nav .desc{color:var(--muted);font-size:.85rem}
main{padding:1rem 1.6rem;min-width:0}
section.module>h2{font-size:1.2rem;border-bottom:2px solid var(--line);padding-bottom:.2rem;margin-top:1.6rem}
.file{color:var(--muted);font-size:.85rem;font-family:ui-monospace,monospace}
article.def{border:1px solid var(--line);border-radius:8px;padding:.6rem 1rem;margin:1rem 0;
content-visibility:auto;contain-intrinsic-size:auto 420px}
article.def:target{outline:3px solid var(--mark)}
article.def h3{margin:.1rem 0 .4rem;font-size:1.05rem;font-family:ui-monospace,monospace}
.kind{display:inline-block;font-size:.75rem;padding:0 .45rem;border-radius:4px;background:var(--panel);
border:1px solid var(--line);color:var(--muted);margin-right:.4rem;vertical-align:middle}
.self{color:var(--muted);margin-left:.3rem;font-size:.85rem}
h4{font-size:.8rem;text-transform:uppercase;letter-spacing:.05em;color:var(--muted);margin:.9rem 0 .3rem}
div.members{overflow-x:auto}
table{border-collapse:collapse;width:100%;font-size:.88rem}
th,td{text-align:left;border-bottom:1px solid var(--line);padding:.25rem .5rem;vertical-align:top}
th{background:var(--panel);font-weight:600}
td code,.mono{font-family:ui-monospace,monospace;font-size:.85rem}
td.mono{white-space:nowrap}
td.d1{padding-left:1.6rem}td.d2{padding-left:2.6rem}td.d3{padding-left:3.6rem}
.badge{font-size:.72rem;border:1px solid var(--line);border-radius:4px;padding:0 .3rem;margin-right:.2rem;white-space:nowrap}
.diagram{overflow-x:auto;margin:.2rem 0 .6rem}
.diagram figcaption{font-size:.8rem;color:var(--muted);font-family:ui-monospace,monospace}
svg.rr{display:block}
svg.rr path{fill:none;stroke:var(--fg);stroke-width:1.4}
svg.rr rect{fill:var(--term);stroke:var(--term-line)}
svg.rr a rect,.rr-defs rect{fill:var(--rule);stroke:var(--rule-line)}
.rr-defs .t rect{fill:var(--term);stroke:var(--term-line)}
.rr-defs{position:absolute}
.rr-defs text{font:12px ui-monospace,monospace;fill:var(--fg);text-anchor:middle}
svg.rr text{font:12px ui-monospace,monospace;fill:var(--fg);text-anchor:middle}
svg.rr text.rr-label{font-size:10px;fill:var(--muted)}
svg.rr a:hover rect,svg.rr a:hover use{stroke-width:2.2}
pre{background:var(--panel);border:1px solid var(--line);border-radius:6px;padding:.5rem .7rem;
overflow-x:auto;font:.85rem/1.4 ui-monospace,monospace;margin:.2rem 0}
.none{color:var(--muted);font-style:italic}
.notice{border-left:4px solid var(--term-line);background:var(--panel);padding:.5rem .8rem}
ul.used{margin:.2rem 0;padding-left:1.2rem;columns:2 18rem}
@media (max-width:800px){.layout{grid-template-columns:1fr}nav{position:static;max-height:none;border-right:0}}
@media print{header{position:static}#filter,.self{display:none}.layout{display:block}
nav{position:static;max-height:none;border:0;columns:2}article.def{break-inside:avoid;content-visibility:visible}
a{color:inherit}body{font-size:11pt}pre,.diagram{overflow:visible}}
)css";

const char page_script[] = R"js(
(function () {
  var box = document.getElementById("filter");
  var count = document.getElementById("shown");
  var defs = document.querySelectorAll("article.def");
  var entries = document.querySelectorAll("nav li[data-k]");
  var modules = document.querySelectorAll("section.module");
  var words = [];
  for (var i = 0; i < defs.length; i++) words.push(defs[i].getAttribute("data-k"));
  function apply() {
    var q = box.value.trim().toLowerCase();
    var shown = 0, i;
    for (i = 0; i < defs.length; i++) {
      var hit = q === "" || words[i].indexOf(q) !== -1;
      defs[i].hidden = !hit;
      if (hit) shown++;
    }
    for (i = 0; i < entries.length; i++) {
      entries[i].hidden = q !== "" && entries[i].getAttribute("data-k").indexOf(q) === -1;
    }
    for (i = 0; i < modules.length; i++) {
      modules[i].hidden = q !== "" && modules[i].querySelector("article.def:not([hidden])") === null;
    }
    count.textContent = q === "" ? defs.length + " definitions" : shown + " of " + defs.length + " definitions";
  }
  box.addEventListener("input", apply);
  if (box.value !== "") apply();
  // A large page keeps each definition's details as text until it is near the view.
  function draw(a) {
    var s = a.querySelector("script.later");
    if (s !== null) { s.insertAdjacentHTML("afterend", s.textContent); s.remove(); }
  }
  var later = [];
  for (i = 0; i < defs.length; i++) if (defs[i].querySelector("script.later") !== null) later.push(defs[i]);
  window.drawAllDefinitions = function () { later.forEach(draw); };
  window.addEventListener("beforeprint", window.drawAllDefinitions);
  if (later.length > 0 && "IntersectionObserver" in window) {
    var seen = new IntersectionObserver(function (es) {
      es.forEach(function (e) { if (e.isIntersecting) { draw(e.target); seen.unobserve(e.target); } });
    }, { rootMargin: "1200px 0px" });
    later.forEach(function (a) { seen.observe(a); });
  } else {
    window.drawAllDefinitions();
  }
})();
)js";

void escape(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Pages of more definitions than this draw each definition's details when
// it comes into view.
constexpr std::size_t inline_definitions = 2000;

class page {
public:
    page(const doc_reference& ref, std::FILE* file)
        : ref_(ref), file_(file), deferred_(ref.definitions.size() > inline_definitions) {
        for (std::size_t i = 0; i < ref.rules.size(); ++i)
            rule_index_.emplace(lower(ref.rules[i].name),
                                i);  // names compare without regard to case
    }

    void write() {
        put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta name=\"color-scheme\" content=\"light dark\">\n<title>");
        text(ref_.title);
        put(" — definitions</title>\n<style>");
        put(page_style);
        put("</style>\n</head>\n<body>\n<header>\n<h1>");
        text(ref_.title);
        put("</h1>\n<span class=\"count\" id=\"shown\">");
        put(std::to_string(ref_.definitions.size()));
        put(" definitions</span>\n<input type=\"search\" id=\"filter\" placeholder=\"Filter "
            "definitions\" aria-label=\"Filter definitions\" autocomplete=\"off\">\n</header>\n"
            "<div class=\"layout\">\n");

        index();
        put("<main>\n");
        if (!ref_.notice.empty()) {
            put("<p class=\"notice\">");
            text(ref_.notice);
            put("</p>\n");
        }
        for (const doc_module& m : ref_.modules) module(m);
        common_rules();
        put("</main>\n</div>\n");
        // A large page draws the boxes of its rules and terminals once for
        // every diagram (a small one keeps each box's text where it stands).
        if (deferred_) {
            std::vector<std::string> names;
            for (const abnf_rule& r : ref_.rules) names.push_back(r.name);
            put(shared_box_defs(names, shared_));
            put("\n");
        }
        put("<script>");
        put(page_script);
        put("</script>\n</body>\n</html>\n");
    }

private:
    void put(std::string_view s) { out_.append(s); }
    // The text so far goes to the file once there is enough of it.
    void flush_some(std::size_t at_least = 1 << 20) {
        if (out_.size() < at_least) return;
        std::fwrite(out_.data(), 1, out_.size(), file_);
        out_.clear();
    }

public:
    void finish() { flush_some(0); }

private:
    void text(std::string_view s) { escape(out_, s); }
    void link(std::string_view id, std::string_view label) {
        put("<a href=\"#");
        text(id);
        put("\">");
        text(label);
        put("</a>");
    }

    void comment(const std::string& c, const char* cls) {
        for (const std::string& p : paragraphs(c)) {
            put("<p class=\"");
            put(cls);
            put("\">");
            text(p);
            put("</p>\n");
        }
    }

    static std::string search_key(const doc_definition& d) {
        std::string key = lower(d.qualified) + " " + d.kind;
        for (const doc_member& m : d.members) {
            key += ' ';
            key += lower(m.name);
        }
        return key;
    }

    void index() {
        put("<nav aria-label=\"Modules\">\n<h2>Modules</h2>\n");
        for (const doc_file& f : ref_.files) {
            if (f.modules.empty() && f.description.empty()) continue;
            put("<h3>");
            text(f.path);
            put("</h3>\n");
            comment(f.description, "desc");
            put("<ul>\n");
            for (int mi : f.modules) {
                const doc_module& m = ref_.modules[static_cast<std::size_t>(mi)];
                put("<li>");
                link(m.id, m.name);
                put("\n<ul>\n");
                for (int di : m.definitions) {
                    const doc_definition& d = ref_.definitions[static_cast<std::size_t>(di)];
                    put("<li data-k=\"");
                    text(lower(d.qualified));
                    put("\">");
                    link(d.anchor, d.name);
                    put("</li>\n");
                }
                put("</ul></li>\n");
            }
            put("</ul>\n");
        }
        put("</nav>\n");
    }

    void module(const doc_module& m) {
        put("<section class=\"module\" id=\"");
        text(m.id);
        put("\">\n<h2>Module ");
        text(m.name);
        put("</h2>\n<p class=\"file\">");
        text(m.file);
        put("</p>\n");
        for (int di : m.definitions) definition(ref_.definitions[static_cast<std::size_t>(di)]);
        put("</section>\n");
    }

    void definition(const doc_definition& d) {
        put("<article class=\"def\" id=\"");
        text(d.anchor);
        put("\" data-k=\"");
        text(search_key(d));
        put("\">\n<h3><span class=\"kind\">");
        text(d.kind);
        put("</span>");
        text(d.qualified);
        put("<a class=\"self\" href=\"#");
        text(d.anchor);
        put("\" aria-label=\"Link to this definition\">#</a></h3>\n");
        comment(d.comment, "doc");
        // On a large page the rest is kept as text until the definition
        // comes near the view (or the page is printed): the browser then
        // parses only what is looked at.
        if (deferred_) put("<script type=\"text/html\" class=\"later\">\n");
        if (d.target >= 0) {
            put("<p>Stands for ");
            const doc_definition& t = ref_.definitions[static_cast<std::size_t>(d.target)];
            link(t.anchor, t.qualified);
            put(".</p>\n");
        }
        if (!d.bounds.empty()) {
            put("<p>Value: ");
            text(d.bounds);
            put(".</p>\n");
        }
        if (!d.members.empty()) members(d);
        if (!d.rules.empty()) {
            put("<h4>Syntax</h4>\n");
            for (std::size_t r : d.rules) diagram(r, r != d.rules.front());
        }
        put("<h4>Example</h4>\n");
        if (!d.example.empty()) {
            put("<pre class=\"example\"><code>");
            text(d.example);
            put("</code></pre>\n");
        } else {
            put("<p class=\"none\">");
            text(d.no_example);
            put("</p>\n");
        }
        put("<h4>Used by</h4>\n");
        if (d.used_by.empty()) {
            put("<p class=\"none\">No definition refers to it.</p>\n");
        } else {
            put("<ul class=\"used\">\n");
            for (int u : d.used_by) {
                const doc_definition& by = ref_.definitions[static_cast<std::size_t>(u)];
                put("<li>");
                link(by.anchor, by.qualified);
                put("</li>\n");
            }
            put("</ul>\n");
        }
        if (deferred_) put("</script>\n");
        put("</article>\n");
        flush_some();
    }

    void members(const doc_definition& d) {
        put("<h4>Members</h4>\n<div "
            "class=\"members\">\n<table>\n<thead><tr><th>Member</th><th>Tag</th><th>Type</th>"
            "<th>Range or size</th><th>Cardinality</th><th>Optional / extension</th>"
            "<th>Description</th></tr></thead>\n<tbody>\n");
        for (const doc_member& m : d.members) {
            put("<tr><td class=\"mono");
            if (m.depth > 0) {
                put(" d");
                put(std::to_string(m.depth < 3 ? m.depth : 3));
            }
            put("\">");
            text(m.name);
            put("</td><td class=\"mono\">");
            if (m.tag.empty()) {
                put("<span class=\"none\">untagged</span>");
            } else {
                text(m.tag);
            }
            put("</td><td class=\"mono\">");
            if (m.target >= 0) {
                link(ref_.definitions[static_cast<std::size_t>(m.target)].anchor, m.type);
            } else {
                text(m.type);
            }
            put("</td><td>");
            text(m.bounds);
            put("</td><td class=\"mono\">");
            text(m.cardinality);
            put("</td><td>");
            if (m.optional) put("<span class=\"badge\">optional</span>");
            if (m.extension) put("<span class=\"badge\">extension</span>");
            if (!m.plugged_by.empty()) {
                put("<span class=\"badge\">plugged by ");
                const std::string* id = module_id(m.plugged_by);
                if (id != nullptr) {
                    link(*id, m.plugged_by);
                } else {
                    text(m.plugged_by);
                }
                put("</span>");
            }
            put("</td><td>");
            const std::vector<std::string> ps = paragraphs(m.comment);
            for (std::size_t i = 0; i < ps.size(); ++i) {
                if (i > 0) put("<br>");
                text(ps[i]);
            }
            put("</td></tr>\n");
        }
        put("</tbody>\n</table>\n</div>\n");
    }

    const std::string* module_id(const std::string& name) const {
        for (const doc_module& m : ref_.modules) {
            if (m.name == name) return &m.id;
        }
        return nullptr;
    }

    void diagram(std::size_t r, bool own_id) {
        const abnf_rule& rule = ref_.rules[r];
        put("<figure class=\"diagram\"");
        if (own_id) {
            put(" id=\"");
            text(ref_.rule_ids[r]);
            put("\"");
        }
        put(">\n");
        put("<figcaption>");
        text(rule.name);
        put("</figcaption>\n");
        put(railroad_svg(
            parse_abnf(rule.definition),
            [this](std::string_view name) {
                const auto at = rule_index_.find(lower(name));
                return at == rule_index_.end() ? std::string() : "#" + ref_.rule_ids[at->second];
            },
            760, deferred_ ? &shared_ : nullptr));
        put("\n</figure>\n");
    }

    void common_rules() {
        bool any = false;
        for (std::size_t r = 0; r < ref_.rules.size(); ++r) {
            if (ref_.rule_owner[r] >= 0) continue;
            if (!any) {
                put("<section class=\"common\" id=\"common-rules\">\n<h2>Common rules</h2>\n"
                    "<p>The rules every grammar of the text encoding closes with.</p>\n");
                any = true;
            }
            diagram(r, true);
        }
        if (any) put("</section>\n");
    }

    const doc_reference& ref_;
    std::FILE* file_;
    const bool deferred_;
    std::string out_;
    std::unordered_map<std::string, std::size_t> rule_index_;
    rr_shared_boxes shared_;
};

}  // namespace

void write_html_page(const doc_reference& ref, std::FILE* out) {
    page p(ref, out);
    p.write();
    p.finish();
}

}  // namespace qrv
