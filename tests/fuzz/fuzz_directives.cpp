// The directive-file reader on a fixed model of two modules.
#include <memory>

#include "frontend/source.h"
#include "fuzz_common.h"

namespace {

const char source[] =
    "pavex module A;\n"
    "struct Msg { struct hdr { int<0..9> id; }; bool flag; };\n"
    "int<0..1> x;\n"
    "endmodule;\n"
    "pavex module B.c;\n"
    "struct Other { date d; };\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qrv;
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    diag.console = fuzz::null_console();
    try {
        (void)read_source_text(*run, diag, "in.pvx", source, nullptr);
        read_directives_text(*run, diag, "in.pvx", "in.pvxcfg",
                             std::string_view(reinterpret_cast<const char*>(data), size));
        free_model(*run);
    } catch (const fatal_stop&) {
    }
    return 0;
}
