// Whole runs on the small stack a library caller's thread may have: 256 KB.
// The stack is mapped here with a guard page below it and painted first, so
// that an overflow fails the test at once and the depth used can be read
// off the paint afterwards.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "abnf/default_grammar.h"
#include "cli_support.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"
#include "test_model.h"

namespace qrv::testing {
namespace {

// Every pass walks nesting with a stack on the heap, so this holds in every
// build, the sanitizer builds with their larger frames included.
constexpr std::size_t caller_stack = 256 * 1024;
constexpr std::size_t stack_size = caller_stack;
constexpr unsigned char paint = 0xa5;

void* run_task(void* arg) {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
}

// Runs `task` on a stack of `stack_size` bytes; returns how many bytes of it
// were used.
std::size_t run_on_small_stack(std::function<void()> task) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    void* map = ::mmap(nullptr, stack_size + page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    EXPECT_NE(map, MAP_FAILED);
    if (map == MAP_FAILED) return 0;
    auto* base = static_cast<unsigned char*>(map);
    ::mprotect(base, page, PROT_NONE);  // an overflow faults here
    unsigned char* stack = base + page;
    std::memset(stack, paint, stack_size);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, stack, stack_size);
    pthread_t thread;
    EXPECT_EQ(pthread_create(&thread, &attr, run_task, &task), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    std::size_t untouched = 0;
    while (untouched < stack_size && stack[untouched] == paint) ++untouched;
    ::munmap(map, stack_size + page);
    return stack_size - untouched;
}

// Member bodies nested `levels` deep: struct n0 { struct n1 { ... bool leaf; }; };
std::string nested_bodies(int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "struct n" + std::to_string(i) + " {\n";
    s += "bool leaf;\n";
    for (int i = 0; i < levels; ++i) s += "};\n";
    return s;
}

void show(const char* what, std::size_t used) {
    std::printf("[ stack    ] %s: %zu bytes\n", what, used);
}

// The top level of a module is the first of the 1000 levels a body may
// have, so 999 member bodies nest inside it.
constexpr int deepest = max_body_depth - 1;

TEST(small_stack, the_deepest_nesting_runs_through_the_whole_program) {
    // Qualified names of members nested this deep pass 255 characters, so
    // the run stops in post-parse with its message, after the parser and
    // the other post-parse steps went all the way down.
    const auto dir = scratch_dir("small-stack");
    write_file(dir / "deep.pvx", nested_bodies(deepest));
    cli_result r;
    const std::size_t used = run_on_small_stack([&] {
        r = run_cli({(dir / "deep.pvx").string(), (dir / "deep.abnf").string()});
    });
    show("whole run, 999 nested bodies", used);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\n0 error(s), 0 warning(s)\n"), std::string::npos);
    EXPECT_NE(r.out.find("FATAL: Constructed type name is too long: n0_n1_n2_"), std::string::npos);
    EXPECT_LT(used, stack_size);

    // One level more is refused with its message, on the same stack.
    write_file(dir / "deeper.pvx", nested_bodies(deepest + 1));
    run_on_small_stack([&] {
        r = run_cli({(dir / "deeper.pvx").string(), (dir / "deeper.abnf").string()});
    });
    EXPECT_NE(r.out.find("error: Nesting exceeds 1000 levels"), std::string::npos);
}

TEST(small_stack, each_pass_on_the_deepest_nesting) {
    const std::string source = nested_bodies(deepest);
    auto run = std::make_unique<run_context>();
    diagnostics diag;
    init_run_context(*run);
    console_capture console;
    diag.console = console.file();

    std::size_t used = run_on_small_stack(
        [&] { EXPECT_EQ(read_source_text(*run, diag, "deep.pvx", source, nullptr), 0); });
    show("parser", used);
    EXPECT_LT(used, stack_size);

    // The post-parse steps up to the qualified names, which would stop the run.
    used = run_on_small_stack([&] {
        mark_main_module(run->modules->elements);
        derive_prefixes(*run, diag);
        plug_extensions(*run, diag);
        resolve_references(*run, diag);
        join_modules(*run);
        collect_union_members(*run);
        mark_recursive_and_rename(*run, diag, run->elements);
    });
    show("post-parse", used);
    EXPECT_LT(used, stack_size);
    EXPECT_EQ(diag.error_count, 0);

    // The rule writer on all 999 bodies, written one inside the other.
    std::string grammar;
    used =
        run_on_small_stack([&] { write_abnf_to_memory(*run, diag, grammar_settings{}, grammar); });
    show("rule writer", used);
    EXPECT_LT(used, stack_size);
    EXPECT_NE(grammar.find("\"leaf\" EQUAL bool"), std::string::npos);
    EXPECT_EQ(console.text().find("ERROR:"), std::string::npos);
}

// The stack the rule writer needs does not grow with the nesting it writes.
TEST(small_stack, the_rule_writer_needs_the_same_stack_at_any_depth) {
    auto written = [](int levels) {
        auto run = std::make_unique<run_context>();
        diagnostics diag;
        init_run_context(*run);
        console_capture console;
        diag.console = console.file();
        EXPECT_EQ(read_source_text(*run, diag, "n.pvx", nested_bodies(levels), nullptr), 0);
        join_modules(*run);
        std::string grammar;
        const std::size_t used = run_on_small_stack(
            [&] { write_abnf_to_memory(*run, diag, grammar_settings{}, grammar); });
        EXPECT_NE(grammar.find("\"leaf\" EQUAL bool"), std::string::npos);
        return used;
    };
    const std::size_t shallow = written(3);
    const std::size_t deep = written(deepest);
    show("rule writer, 3 levels", shallow);
    show("rule writer, 999 levels", deep);
    EXPECT_LT(deep, shallow + 2048);
}

}  // namespace
}  // namespace qrv::testing
