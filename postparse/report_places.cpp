// The post-parse diagnostics that name a place in the sources: a reference
// that cannot be resolved, an import of a module no source declares, a plug
// target that cannot be found. With file positions they carry the line of
// the file and the column of the name, and a help text with the close
// names in scope or the file that declares a missing module.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "postparse/post_parse.h"
#include "support/diagnostics.h"
#include "support/read_file.h"
#include "support/source_positions.h"

namespace qrv {

namespace {

// The type keywords a reference may have been meant to be.
constexpr std::string_view type_keywords[] = {
    "struct",   "union",  "combi", "void",  "bool",           "int",     "float",
    "single",   "double", "oid",   "ascii", "unquoted-ascii", "unicode", "bytes",
    "embedded", "const",  "ipv4",  "ipv6",  "date",           "time",
};

// What the alias of a reference stands for in module `m`: the alias
// itself when no import or extends statement gives it.
std::string_view module_of_alias(run_context& run, const module_record* m, std::string_view alias) {
    std::string_view name = alias;
    if (m != nullptr) run.names.find_alias(m->imports, alias, &name);
    return name;
}

// The import or extends statement of `m` that names module `name`, or null.
const module_ref* statement_of(const module_record* m, std::string_view alias) {
    for (const module_ref* list : {m->imports, m->extends}) {
        for (const module_ref* r = list; r != nullptr; r = r->next) {
            if (r->alias == alias || r->module_name == alias) return r;
        }
    }
    return nullptr;
}

// Adds the names of the definitions of `m`; a list that grows beyond what a
// search may look at is not filled further (no search is made then).
void add_top_names(std::vector<std::string>& out, const module_record* m, std::string_view prefix) {
    if (m == nullptr) return;
    for (const element* e = m->elements; e != nullptr; e = e->next()) {
        if (out.size() > max_suggestion_candidates) return;
        out.push_back(std::string(prefix) + std::string(e->name().view()));
    }
}

// The names a reference in module `m` may have been meant to be: the
// definitions of `m` and the type keywords, and each definition of an
// imported module under its alias.
std::vector<std::string> names_in_scope(run_context& run, const module_record* m) {
    std::vector<std::string> names;
    add_top_names(names, m, "");
    for (std::string_view k : type_keywords) names.emplace_back(k);
    for (const module_ref* r = m != nullptr ? m->imports : nullptr; r != nullptr; r = r->next) {
        const std::string alias(r->alias == " " ? r->module_name.view() : r->alias.view());
        add_top_names(names, run.names.find_module(run.modules, r->module_name.view()),
                      alias + "::");
    }
    return names;
}

// The close names of `name` among `names`: a qualified candidate is also
// compared by its name alone, so that a reference that lacks its module
// finds it.
std::string suggest(diagnostics& diag, std::string_view name,
                    const std::vector<std::string>& names) {
    if (!may_suggest(diag, names.size())) return {};
    std::vector<std::string_view> views(names.begin(), names.end());
    std::vector<std::string> close = close_names(name, views);
    if (close.empty() && name.find("::") == std::string_view::npos) {
        for (std::string_view n : views) {
            const std::size_t colons = n.rfind("::");
            if (colons != std::string_view::npos && n.substr(colons + 2) == name) {
                close.emplace_back(n);
            }
        }
        if (close.size() > 3) close.resize(3);
    }
    return did_you_mean(close);
}

// Whether `text` holds a module statement for `name`: "module" and the name
// as words, a ';' after it.
bool declares_module(std::string_view text, std::string_view name) {
    for (std::size_t at = find_token(text, "module"); at != std::string_view::npos;
         at = find_token(text, "module", at + 1)) {
        std::size_t i = at + 6;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (text.compare(i, name.size(), name) != 0) continue;
        std::size_t j = i + name.size();
        if (find_token(text.substr(i, name.size()), name) != 0) continue;
        while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
        if (j < text.size() && text[j] == ';') return true;
    }
    return false;
}

// A source file beside `source_path` (a regular *.pvx file, not one of the
// run's sources) that declares module `name`; empty when there is none.
std::string file_declaring(const run_context& run, std::string_view source_path,
                           std::string_view name) {
    const std::size_t slash = source_path.rfind('/');
    const std::string folder = slash == std::string_view::npos
                                   ? std::string()
                                   : std::string(source_path.substr(0, slash + 1));
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return {};
    std::vector<std::string> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file(entry->d_name);
        if (file.size() < 5 || file.substr(file.size() - 4) != ".pvx") continue;
        const std::string path = folder + std::string(file);
        bool read_already = false;
        for (const module_record* m = run.modules; m != nullptr; m = m->next) {
            if (m->path == path) read_already = true;
        }
        struct stat info {};
        // Small regular files only: a folder of large schemas is not read.
        if (read_already || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_size > (8 << 20)) {
            continue;
        }
        std::string text;
        if (read_whole_file(path.c_str(), text) && declares_module(text, name)) {
            found.push_back(path);
        }
    }
    ::closedir(dir);
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    return found.front();
}

// The help for an import of module `name` that no source declares.
std::string missing_module_help(run_context& run, diagnostics& diag, const module_record* m,
                                std::string_view name) {
    std::string file = file_declaring(run, m->path.view(), name);
    if (!file.empty()) {
        return "module " + std::string(name) + " is declared in " + file +
               ": name it on the command line as '+ " + file + "'";
    }
    std::vector<std::string> modules;
    for (const module_record* other = run.modules; other != nullptr; other = other->next) {
        if (!other->name.empty()) modules.emplace_back(other->name.view());
    }
    std::vector<std::string_view> views(modules.begin(), modules.end());
    std::string help;
    if (may_suggest(diag, views.size())) help = did_you_mean(close_names(name, views));
    if (help.empty()) help = "name the file that declares it after a '+' on the command line";
    return help;
}

}  // namespace

void report_missing_module(run_context& run, diagnostics& diag, const module_record* m,
                           const module_ref& ref) {
    if (!run.missing_modules_reported.insert(&ref).second) return;
    const std::string_view name = ref.module_name.view();
    const source_place place = place_in_module(run, diag, m, ref.line, name);
    const std::string help = diag.file_positions ? missing_module_help(run, diag, m, name) : "";
    report_place_f(diag, place, SEV_ERROR, help, "No source declares module %s",
                   ref.module_name.c_str());
}

void report_unresolved(run_context& run, diagnostics& diag, module_record* m, element* e) {
    const std::string_view link = e->link().view();
    const char* file = e->module() != nullptr ? e->module()->path.c_str() : nullptr;
    if (!diag.file_positions) {
        report_at(diag, file, e->line(), SEV_ERROR, "Unable to expand definition of -%s- in -%s-\n",
                  e->link().c_str(), e->c_name().c_str());
        return;
    }
    const module_record* home = e->module() != nullptr ? e->module() : m;
    const std::size_t colons = link.find("::");
    if (colons != std::string_view::npos && diag.one_per_mistake) {
        // A reference through an import of a module that no source
        // declares: one error at the import, for all its references.
        const std::string_view alias = link.substr(0, colons);
        const std::string_view module_name = module_of_alias(run, home, alias);
        const module_ref* ref = statement_of(home, alias);
        if (ref != nullptr && run.names.find_module(run.modules, module_name) == nullptr) {
            report_missing_module(run, diag, home, *ref);
            return;
        }
    }
    const std::string help =
        diag.suggestions_left > 0 ? suggest(diag, link, names_in_scope(run, home)) : std::string();
    source_place place = place_of(run, diag, *e, link);
    report_place_f(diag, place, SEV_ERROR, help, "Unable to expand definition of -%s- in -%s-\n",
                   e->link().c_str(), e->c_name().c_str());
}

void report_unplugged(run_context& run, diagnostics& diag, module_record* m, const into_entry& t,
                      bool found) {
    source_place place = place_in_module(run, diag, m, t.line, t.target.view());
    std::string help;
    if (diag.file_positions && diag.suggestions_left > 0) {
        // The close names of the target among the definitions in scope.
        std::vector<std::string> names;
        add_top_names(names, m, "");
        for (const module_record* other = run.modules; other != nullptr; other = other->next) {
            if (other->name.empty()) continue;
            add_top_names(names, other, std::string(other->name.view()) + "::");
        }
        help = suggest(diag, t.target.view(), names);
    }
    if (found) {
        report_place_f(diag, place, SEV_ERROR, help,
                       "Can not plug -%s-.  It is not struct or union.\n", t.target.c_str());
    } else {
        report_place_f(diag, place, SEV_ERROR, help, "Unable to locate definition -%s-\n",
                       t.target.c_str());
    }
}

}  // namespace qrv
