// The output step's file handling: whole runs of the program in a scratch
// folder, with an output that is new, an old grammar, a link, one of the
// inputs, a definition file or a folder, chosen by the first input byte.
// The rest of the input is the main source, and optionally a directive file
// after the two bytes NUL and newline. After every run:
//   - no input file has changed, and no temporary is left;
//   - an old output that was not replaced is as it was, and a link is still
//     the same link;
//   - a replaced output is a complete grammar (it ends with the common rules).
// A file size limit of 16 MB stands in for a full disk (and keeps grammars
// that double with every nesting level from filling one).
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "abnf/default_grammar.h"
#include "app/run.h"
#include "fuzz_common.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch;

std::string read_all(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void write_all(const fs::path& p, std::string_view data) {
    std::ofstream f(p, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void check(bool ok) {
    if (!ok) __builtin_trap();
}

enum output_kind {
    NEW_FILE,
    OLD_GRAMMAR,
    LINK_TO_OLD_GRAMMAR,
    DANGLING_LINK,
    MAIN_SOURCE,
    DIRECTIVE_FILE,
    OTHER_DEFINITION_FILE,
    FOLDER,
    LINK_TO_SOURCE,
    kind_count,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/pvx-fuzz-files-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    scratch = pattern;
    std::atexit([] {
        std::error_code error;
        fs::remove_all(scratch, error);
    });
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {16u << 20, 16u << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    if (size == 0) return 0;
    const unsigned choice = data[0];
    std::vector<std::string_view> parts = fuzz::split_input(data + 1, size - 1);
    const auto kind = static_cast<output_kind>(choice % kind_count);
    const bool library = (choice & 0x10) != 0;     // + lib.pvx
    const bool main_again = (choice & 0x20) != 0;  // + in.pvx as well
    const bool help = (choice & 0x40) != 0;        // -? <output> instead of a run
    const bool read_only = (choice & 0x80) != 0;   // the old grammar is 0444

    for (const auto& entry : fs::directory_iterator(scratch)) fs::remove_all(entry.path());
    std::map<std::string, std::string> inputs;
    auto put = [&](const char* name, std::string_view text) {
        write_all(scratch / name, text);
        inputs[name] = std::string(text);
    };
    put("in.pvx", parts[0]);
    if (parts.size() > 1) put("in.pvxcfg", parts[1]);
    put("lib.pvx", "pavex module lib;\nstruct L { bool b; };\n");
    put("other.pvx", "struct O { bool b; };\n");

    const std::string old_grammar = "an old grammar\n";
    std::string output = "out.abnf";
    fs::path old_file;  // where an old grammar stands, if any
    switch (kind) {
        case NEW_FILE: break;
        case OLD_GRAMMAR: old_file = scratch / "out.abnf"; break;
        case LINK_TO_OLD_GRAMMAR:
            old_file = scratch / "target.abnf";
            fs::create_symlink("target.abnf", scratch / "out.abnf");
            break;
        case DANGLING_LINK: fs::create_symlink("gone.abnf", scratch / "out.abnf"); break;
        case MAIN_SOURCE: output = "in.pvx"; break;
        case DIRECTIVE_FILE: output = "in.pvxcfg"; break;
        case OTHER_DEFINITION_FILE: output = "other.pvx"; break;
        case FOLDER: fs::create_directory(scratch / "out.abnf"); break;
        case LINK_TO_SOURCE: fs::create_symlink("lib.pvx", scratch / "out.abnf"); break;
        default: break;
    }
    if (!old_file.empty()) {
        write_all(old_file, old_grammar);
        ::chmod(old_file.c_str(), read_only ? 0444 : 0640);
    }

    std::vector<std::string> args = {"pvx2abnf"};
    auto in_scratch = [&](const std::string& name) { return (scratch / name).string(); };
    if (help) {
        args.push_back("-?");
        args.push_back(in_scratch(output));
    } else {
        // The old statuses: a status other than 0 then means that nothing was
        // written, which is what the checks below hold the output to. (By
        // default a run whose sources hold errors fails and still writes.)
        args.push_back("--legacy-status");
        args.push_back(in_scratch("in.pvx"));
        if (library) {
            args.push_back("+");
            args.push_back(in_scratch("lib.pvx"));
        }
        if (main_again) {
            args.push_back("+");
            args.push_back(in_scratch("in.pvx"));
        }
        args.push_back(in_scratch(output));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int status = pvx2abnf_main(static_cast<int>(args.size()), argv.data(),
                                     fuzz::null_console(), fuzz::null_console());

    // No input changed, whatever the output was.
    for (const auto& [name, text] : inputs) check(read_all(scratch / name) == text);
    // No temporary is left, and links stay links.
    for (const auto& entry : fs::directory_iterator(scratch)) {
        check(entry.path().filename().string()[0] != '.');
    }
    if (kind == LINK_TO_OLD_GRAMMAR || kind == DANGLING_LINK || kind == LINK_TO_SOURCE) {
        check(fs::is_symlink(scratch / "out.abnf"));
    }
    if (!old_file.empty()) {
        const std::string now = read_all(old_file);
        if (status != 0) check(now == old_grammar);
        if (now != old_grammar) {
            check(status == 0);
            if (help) {
                check(now.find("Pavex 2 ABNF Converter") != std::string::npos);
            } else {
                check(now.ends_with(common_rules()));
            }
        }
    }
    return 0;
}
