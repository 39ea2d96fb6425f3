#include "app/back_ends.h"

#include "abnf/default_grammar.h"
#include "abnf/strict_grammar.h"
#include "compat/compat.h"
#include "docpages/docpages.h"
#include "json/json_bridge.h"
#include "listing/definitions.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "postparse/schema_checks.h"
#include "support/atomic_file.h"

namespace qrv {

namespace {

// Where an output file named on the command line is opened: "-" is
// standard output.
const char* opened_as(const std::string& name) {
    return name == standard_stream ? "/dev/stdout" : name.c_str();
}

int write_grammar(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    const char* output = j.output ? opened_as(*j.output) : nullptr;
    grammar_settings settings;
    settings.list_unreferenced = !j.options.quiet;
    settings.strict = j.options.strict_abnf;
    settings.threads = j.options.threads;
    settings.header_time = j.header_time;
    if (!j.options.message_type.empty()) {
        settings.root = find_message_type(model, j.options.message_type);
        if (settings.root == nullptr) {
            error_note(diag, "error: No top-level definition named %s\n",
                       j.options.message_type.c_str());
            return 1;
        }
    }
    return write_output(model, diag, output, settings, written);
}

int check_messages(const job& j, const run_context& model, diagnostics& diag, bool*) {
    return check_message_files(model, diag, j.options.check_files, j.options.message_type,
                               j.options.closed);
}

// The strict checks (an example is a sentence of the strict grammar, which
// exists only when they pass), the definition, the size of its shortest
// message, then the message, written whole or not at all.
int write_example_file(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    if (check_strict_grammar(model, diag) > 0) {
        error_note(diag, "error: The definitions fail the strict checks: no example written\n");
        return 1;
    }
    const element* definition = model.elements;
    if (!j.options.message_type.empty()) {
        definition = find_message_type(model, j.options.message_type);
        if (definition == nullptr) {
            error_note(diag, "error: No top-level definition named %s\n",
                       j.options.message_type.c_str());
            return 1;
        }
    }
    // Known before the file is opened: nothing is written then. A
    // definition without a finite message failed the strict checks, which
    // give the same answer (encoding/finite_messages.h).
    const example_maker maker(*definition);
    if (maker.status() == example_status::too_large) {
        error_note(diag,
                   "error: The shortest message of %s is larger than %llu bytes: no example "
                   "written\n",
                   definition->name().c_str(), static_cast<unsigned long long>(example_size_limit));
        return 1;
    }
    const char* path = opened_as(j.options.example);
    atomic_file file;
    if (!file.open(path)) {
        error_note(diag, "error: Unable to create file: %s\n", path);
        return 1;
    }
    // Writing stops at the first write that fails; the old file stays.
    if (maker.write(j.options.seed, file.stream()) != example_status::ready || !file.commit()) {
        file.abandon();
        error_note(diag, "error: Unable to write file: %s\n", path);
        return 1;
    }
    *written = true;
    return 0;
}

// Post-parse found no error: the strict checks, then what only a lint
// reports.
int lint_schema(const job&, const run_context& model, diagnostics& diag, bool*) {
    const auto before = diag.error_count;
    check_strict_grammar(model, diag);
    report_member_findings(model, diag);
    return diag.error_count > before ? 1 : 0;
}

// The listing is data: it goes to standard output, the diagnostics
// elsewhere (app/run.cpp).
int list_back_end(const job& j, const run_context& model, diagnostics& diag, bool*) {
    atomic_file file;
    if (!file.open("/dev/stdout")) {
        error_note(diag, "error: Unable to write file: %s\n", standard_stream);
        return 1;
    }
    list_definitions(model, diag, file.stream(), j.options.error_format == diagnostic_format::json);
    if (!file.commit()) {
        error_note(diag, "error: Unable to write file: %s\n", standard_stream);
        return 1;
    }
    return 0;
}

json_settings json_settings_of(const job& j) {
    json_settings s;
    s.type_name = j.options.message_type;
    s.closed = j.options.closed;
    s.lines = j.options.json_lines;
    s.output = output_file(j).value_or(standard_stream);
    return s;
}

int to_json_back_end(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    const int status = to_json_files(model, diag, j.options.to_json_files, json_settings_of(j));
    *written = status == 0;
    return status;
}

int from_json_back_end(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    if (j.options.from_json_files.size() > 1) {
        error_note(diag, "error: --from-json takes one JSON file: it makes one message\n");
        return 1;
    }
    const int status =
        from_json_file(model, diag, j.options.from_json_files.front(), json_settings_of(j));
    *written = status == 0;
    return status;
}

int json_schema_back_end(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    const int status = write_json_schema(model, diag, json_settings_of(j));
    *written = status == 0;
    return status;
}

// The documentation page: the reference of the definitions read, with
// their comments, which the front end kept for this run.
int doc_back_end(const job& j, const run_context& model, diagnostics& diag, bool* written) {
    return write_doc_file(model, diag, j.options.doc, written);
}

// The two versions compared; nothing is written but the witnesses.
int compare_back_end(const job& j, const run_context& old_model, const run_context& new_model,
                     diagnostics& diag) {
    compat_settings settings;
    using direction = run_options::compat_direction;
    settings.mode = j.options.compat == direction::forward ? compat_mode::forward
                    : j.options.compat == direction::full  ? compat_mode::full
                                                           : compat_mode::backward;
    settings.type = j.options.message_type;
    settings.witness_dir = j.options.witness_dir;
    settings.undecided_ok = j.options.compat_undecided_ok;
    settings.list_compatible = j.options.compat_list;
    settings.inputs = j.sources;
    settings.inputs.push_back(j.options.old_main);
    settings.inputs.insert(settings.inputs.end(), j.options.old_libraries.begin(),
                           j.options.old_libraries.end());
    return compare_versions(old_model, new_model, diag, settings);
}

const back_end back_ends[] = {
    {output_kind::grammar, nullptr, true, write_grammar, nullptr},
    {output_kind::check, "check", false, check_messages, nullptr},
    {output_kind::example, "example", true, write_example_file, nullptr},
    {output_kind::lint, "lint", false, lint_schema, report_missing_modules},
    {output_kind::list, "list", false, list_back_end, nullptr},
    {output_kind::to_json, "to-json", false, to_json_back_end, nullptr},
    {output_kind::from_json, "from-json", false, from_json_back_end, nullptr},
    {output_kind::json_schema, "json-schema", true, json_schema_back_end, nullptr},
    {output_kind::doc, "doc", true, doc_back_end, nullptr},
    {output_kind::compat, "compat", false, nullptr, nullptr, compare_back_end},
};

}  // namespace

const back_end& back_end_for(output_kind kind) {
    for (const back_end& b : back_ends) {
        if (b.kind == kind) return b;
    }
    return back_ends[0];
}

std::optional<std::string> output_file(const job& j) {
    switch (j.output_made()) {
        case output_kind::grammar: return j.output;
        case output_kind::example: return j.options.example;
        case output_kind::doc: return j.options.doc;
        case output_kind::check:
        case output_kind::lint:
        case output_kind::list:
        case output_kind::compat: return std::nullopt;
        // The conversions write to --output, or to standard output.
        case output_kind::to_json:
        case output_kind::from_json: return j.named_output.value_or(standard_stream);
        case output_kind::json_schema: return j.options.json_schema;
    }
    return std::nullopt;
}

}  // namespace qrv
