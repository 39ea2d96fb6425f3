#include "app/file_checks.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_set>

#include "depfile/depfile.h"

namespace qrv {

namespace {

bool has_definition_suffix(std::string_view name) {
    return name.ends_with(".pvx") || name.ends_with(".pvxcfg");
}

// A file that exists, by device and inode.
struct file_key {
    std::uint64_t device;
    std::uint64_t inode;
    bool operator==(const file_key&) const = default;
};

struct file_key_hash {
    std::size_t operator()(const file_key& k) const {
        return std::hash<std::uint64_t>()(k.inode * 0x9e3779b97f4a7c15ULL ^ k.device);
    }
};

}  // namespace

// A file that exists under a name (or behind a link whose target has a
// name) of a definition or directive file is refused as an output: the
// usual slip is a "+" left out or an output name put where a source goes.
bool refuse_definition_file(diagnostics& diag, const char* path) {
    struct stat info {};
    if (::lstat(path, &info) != 0) return false;
    std::string target;
    if (!has_definition_suffix(path) &&
        !(follow_links(path, target) && has_definition_suffix(target))) {
        return false;
    }
    note(diag, "error: Refusing to overwrite a definition file: %s\n", path);
    return true;
}

run_inputs list_inputs(const std::vector<std::string>& sources) {
    run_inputs inputs;
    // The sources listed so far that exist: a long list of libraries is
    // checked in one pass, not each against all before it.
    std::unordered_set<file_key, file_key_hash> seen;
    for (const std::string& path : sources) {
        input_file source;
        static_cast<file_identity&>(source) = identify_file(path.c_str());
        if (source.exists && !seen.insert(file_key{source.device, source.inode}).second) {
            inputs.again.push_back(true);
            continue;
        }
        inputs.again.push_back(false);
        const std::string directives = path + "cfg";
        input_file directive_file;
        static_cast<file_identity&>(directive_file) = identify_file(directives.c_str());
        directive_file.is_directive_file = true;
        inputs.files.push_back(std::move(source));
        inputs.files.push_back(std::move(directive_file));
    }
    return inputs;
}

bool output_is_safe(diagnostics& diag, const run_inputs& inputs, const char* output) {
    const file_identity out = identify_file(output);
    for (const input_file& in : inputs.files) {
        if (same_file(in, out)) {
            note(diag, "error: Output file is also an input file: %s\n", output);
            return false;
        }
    }
    return !refuse_definition_file(diag, output);
}

std::vector<std::string> prerequisites(const run_inputs& inputs) {
    std::vector<std::string> files;
    for (const input_file& in : inputs.files) {
        if (!in.is_directive_file || (in.exists && in.regular)) files.push_back(in.path);
    }
    return files;
}

// The rule would take the grammar's place if the dependency file were the
// output. Checked before anything is read or written.
bool depfile_is_safe(diagnostics& diag, const run_inputs& inputs, const char* depfile,
                     const char* output) {
    if (!output_is_safe(diag, inputs, depfile)) return false;
    if (same_file(identify_file(depfile), identify_file(output))) {
        note(diag, "error: The dependency file is the output file: %s\n", depfile);
        return false;
    }
    return depfile_names_writable(diag, output, prerequisites(inputs));
}

}  // namespace qrv
