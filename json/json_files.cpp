// The JSON modes of a run: message files to JSON, a JSON file to a message,
// the JSON Schema. Each writes its output whole, only when every input
// converted, through atomic_file; standard output gets it at the end.
#include <cstdio>
#include <string>

#include "abnf/strict_grammar.h"
#include "json/json_bridge.h"
#include "json/json_text.h"
#include "support/atomic_file.h"
#include "support/file_identity.h"
#include "support/read_file.h"
#include "support/source_positions.h"

namespace qrv {

namespace {

// The definition the messages are of; null after an error, reported.
const element* message_type(const run_context& run, diagnostics& diag, const json_settings& s,
                            const char* what) {
    // Messages are read in the language of the strict grammar, which
    // exists only for definitions that pass its checks.
    if (check_strict_grammar(run, diag) > 0) {
        error_note(diag, "error: The definitions fail the strict checks: %s\n", what);
        return nullptr;
    }
    const element* type = run.elements;
    if (!s.type_name.empty()) {
        type = find_message_type(run, s.type_name);
        if (type == nullptr) {
            error_note(diag, "error: No top-level definition named %s\n", s.type_name.c_str());
        }
    } else if (type == nullptr) {
        error_note(diag, "error: No definition to convert messages of\n");
    }
    return type;
}

bool read_input(diagnostics& diag, const std::string& path, std::string& bytes, const char* what) {
    // "-" is standard input.
    const bool read =
        path == "-" ? read_standard_input(bytes) : read_whole_file(path.c_str(), bytes);
    if (!read) {
        error_note(diag, "error: Unable to read %s: %s\n", what, path.c_str());
        return false;
    }
    if (diag.format == diagnostic_format::pretty && diag.sources != nullptr) {
        diag.sources->keep(path, bytes);
    }
    return true;
}

// `text` into the output file, whole.
bool write_whole(diagnostics& diag, const std::string& output, std::string_view text) {
    const char* path = output == "-" ? "/dev/stdout" : output.c_str();
    atomic_file file;
    if (!file.open(path)) {
        error_note(diag, "error: Unable to create file: %s\n", output.c_str());
        return false;
    }
    if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size() || !file.commit()) {
        file.abandon();
        error_note(diag, "error: Unable to write file: %s\n", output.c_str());
        return false;
    }
    return true;
}

// An output that is one of the inputs would replace what it was made from.
bool output_is_an_input(diagnostics& diag, const std::string& output,
                        const std::vector<std::string>& inputs) {
    if (output == "-") return false;
    const file_identity out = identify_file(output.c_str());
    if (!out.exists || !out.regular) return false;
    for (const std::string& in : inputs) {
        if (in != "-" && same_file(out, identify_file(in.c_str()))) {
            error_note(diag, "error: The output file is an input: %s\n", output.c_str());
            return true;
        }
    }
    return false;
}

// The whole of a temporary file that was written.
bool read_back(std::FILE* f, std::string& out) {
    if (std::fflush(f) != 0 || std::fseek(f, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
    out.resize(static_cast<std::size_t>(size));
    return std::fread(out.data(), 1, out.size(), f) == out.size();
}

}  // namespace

int to_json_files(const run_context& run, diagnostics& diag, const std::vector<std::string>& files,
                  const json_settings& settings) {
    const element* type = message_type(run, diag, settings, "no message converted");
    if (type == nullptr || output_is_an_input(diag, settings.output, files)) return 1;
    // A file is written as the JSON is made, into its temporary; standard
    // output, which cannot be taken back, gets it once every message has
    // converted.
    const bool streamed = settings.output != "-" && !names_standard_output(settings.output);
    atomic_file file;
    if (streamed && !file.open(settings.output.c_str())) {
        error_note(diag, "error: Unable to create file: %s\n", settings.output.c_str());
        return 1;
    }
    std::string out;
    std::size_t converted = 0;
    std::size_t undecided = 0;
    bool write_failed = false;
    for (const std::string& path : files) {
        std::string bytes;
        if (!read_input(diag, path, bytes, "message file")) continue;
        bool failed = false;
        const check_result result =
            message_to_json(*type, bytes, settings.closed, settings.lines, out,
                            streamed ? file.stream() : nullptr, &failed);
        write_failed = write_failed || failed;
        if (result.verdict == check_verdict::valid) {
            ++converted;
        } else {
            if (result.verdict == check_verdict::undecided) ++undecided;
            report_verdict(diag, path, result);
        }
    }
    note(diag, "%zu of %zu message(s) converted to JSON\n", converted, files.size());
    if (converted < files.size()) {
        file.abandon();
        error_note(diag, "error: Not every message converted: nothing written\n");
        return converted + undecided < files.size() ? 1 : 2;
    }
    if (!streamed) return write_whole(diag, settings.output, out) ? 0 : 1;
    if (write_failed || !file.commit()) {
        file.abandon();
        error_note(diag, "error: Unable to write file: %s\n", settings.output.c_str());
        return 1;
    }
    return 0;
}

int from_json_file(const run_context& run, diagnostics& diag, const std::string& file,
                   const json_settings& settings) {
    const element* type = message_type(run, diag, settings, "no message written");
    if (type == nullptr || output_is_an_input(diag, settings.output, {file})) return 1;
    std::string json;
    if (!read_input(diag, file, json, "JSON file")) return 1;
    std::string out;
    json_error error;
    // The message is kept in a temporary file while the JSON is read, and
    // read back once the JSON is let go: the two are never in memory at
    // once. Without a temporary file, it is kept in memory.
    std::FILE* spill = std::tmpfile();
    bool made = json_to_text(*type, json, settings.closed, out, error, spill);
    if (made) {
        std::string().swap(json);
        if (spill != nullptr && !read_back(spill, out)) {
            error = {0, "", "the message cannot be kept while it is checked (a read failed)"};
            made = false;
        }
        if (made) made = message_checks(*type, out, settings.closed, error);
    }
    if (spill != nullptr) std::fclose(spill);
    if (!made) {
        std::int64_t line = 0;
        std::int64_t column = 0;
        json::position_of(json, error.offset, line, column);
        report_at_column(diag, file.c_str(), line, column, SEV_ERROR, error.message, error.path);
        error_note(diag, "error: The JSON is not a message of %s: nothing written\n",
                   type->name().c_str());
        return 1;
    }
    return write_whole(diag, settings.output, out) ? 0 : 1;
}

int write_json_schema(const run_context& run, diagnostics& diag, const json_settings& settings) {
    const element* type = message_type(run, diag, settings, "no JSON Schema written");
    if (type == nullptr) return 1;
    return write_whole(diag, settings.output, json_schema_of(run, *type, settings.closed) + "\n")
               ? 0
               : 1;
}

}  // namespace qrv
