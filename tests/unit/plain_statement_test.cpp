// Member statements read in one pass must leave exactly what reading them
// token by token leaves. A comment in front of a statement makes the
// parser read it token by token and changes nothing else, so each random
// source is read as it is and with a comment at the start of every line,
// and the two runs must agree on every element, every message and the
// result.
#include "frontend/plain_statement.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "console_capture.h"
#include "frontend/lexer.h"
#include "frontend/source.h"
#include "model/model.h"
#include "support/read_file.h"
#include "test_model.h"

namespace qrv {
namespace {

std::string describe(const element* chain, int depth = 0) {
    std::ostringstream out;
    for (const element* e = chain; e != nullptr; e = e->next()) {
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << e->line() << ' '
            << static_cast<int>(e->kind) << " name=" << e->name().view()
            << " tag=" << e->tag().view() << " c=" << e->c_name().view()
            << " link=" << e->link().view() << " range=" << e->constrained << e->min_negative
            << e->min << ".." << e->max_negative << e->max << " z=" << e->z_suffix
            << " card=" << e->has_cardinality << e->cardinality_min << ".." << e->cardinality_max
            << (e->cardinality_unbounded ? "*" : "") << " plugin=" << e->plugin << '\n';
        out << describe(e->children(), depth + 1);
    }
    return out.str();
}

// What a source leaves, read from memory or from the file `path` that
// holds it.
std::string read_and_describe(const std::string& source, const char* path = "t.pvx",
                              bool from_file = false) {
    run_context run;
    diagnostics diag;
    init_run_context(run);
    testing::console_capture captured;
    diag.console = captured.file();
    const std::int64_t result = from_file ? read_source_file(run, diag, path)
                                          : read_source_text(run, diag, path, source, nullptr);
    std::string text = "result " + std::to_string(result) + "\n" + captured.text();
    for (const module_record* m = run.modules; m != nullptr; m = m->next) {
        text += "module " + std::string(m->name.view()) + "\n" + describe(m->elements);
    }
    free_model(run);
    return text;
}

// A comment at the start of every line (the generated statements hold no
// const text, where a comment would be text).
std::string with_comments(const std::string& source) {
    std::string out = "/* */";
    for (const char c : source) {
        out += c;
        if (c == '\n') out += "/* */";
    }
    return out;
}

// Random pieces of member statements: mostly the forms read in one pass,
// and forms close to them that must be read token by token.
class statement_maker {
public:
    explicit statement_maker(unsigned seed) : rng_(seed) {}

    std::string statement(int depth = 0) {
        if (depth < 3 && chance(8)) {
            std::string s = pick({"struct", "union", "combi", "struct"}) + space() + name() +
                            space() + (chance(90) ? "{" : "[?] {") + "\n";
            const int n = std::uniform_int_distribution<int>(0, 4)(rng_);
            for (int i = 0; i < n; ++i) s += statement(depth + 1) + "\n";
            return s + "}" + (chance(80) ? ";" : "");
        }
        std::string s =
            pick({"int",  "int",  "ascii", "unicode", "bytes", "unquoted-ascii", "bool", "ipv4",
                  "date", "Msg1", "Other", "m.x::Y",  "float", "struct",         "void", "time",
                  "oid",  "ipv6", "Int",   "_x",      "+M::T"});
        if (chance(70)) s += space() + "<" + space() + range() + space() + ">";
        s += space() + name();
        if (chance(40)) s += space() + "[" + space() + cardinality() + space() + "]";
        if (chance(5)) s += pick({" as tag", " as ?", " plugin", " {", " smark", " ,"});
        return s + space() + (chance(97) ? ";" : "");
    }

private:
    bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    std::string pick(std::initializer_list<const char*> options) {
        const auto i = std::uniform_int_distribution<std::size_t>(0, options.size() - 1)(rng_);
        return *(options.begin() + i);
    }
    std::string space() {
        if (chance(70)) return chance(50) ? "" : " ";
        return pick({"  ", "\n", "\t", " \n ", "\r\n", "\n\n"});
    }
    std::string number() {
        if (chance(85)) {
            return std::to_string(std::uniform_int_distribution<unsigned>(0, 70000)(rng_));
        }
        return pick({"-5", "-0", "007", "0x1F", "4294967295", "4294967296",
                     "99999999999999999999999", "8b", "40b", "-", "1.5", "0", "00x3"});
    }
    std::string range() {
        if (chance(30)) return number();
        return number() + space() + pick({"..", "..", "..", "...", ". .", "z"}) + space() +
               number() + (chance(5) ? "z" : "");
    }
    std::string cardinality() {
        if (chance(50)) return pick({"?", "*", "+", "", "-1", "?x", "+5"});
        if (chance(40)) return number();
        return number() + space() + ".." + space() + (chance(50) ? "*" : number());
    }
    std::string name() {
        if (chance(90)) {
            return pick({"a", "count", "x-y", "Label_2", "port", "int", "struct"}) +
                   std::to_string(counter_++);
        }
        return pick({"1x", "_y", "a.b", "a:b", "", std::string(64, 'n').c_str(),
                     std::string(63, 'm').c_str(), "-q"});
    }

    std::mt19937 rng_;
    int counter_ = 0;
};

TEST(plain_statement, one_pass_reads_what_the_steps_read) {
    int compared = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        statement_maker make(seed);
        std::string source = "pavex module T;\n";
        for (int i = 0; i < 6; ++i) source += make.statement() + "\n";
        source += "struct S {\n";
        for (int i = 0; i < 12; ++i) source += "    " + make.statement() + "\n";
        source += "};\n";
        const std::string one_pass = read_and_describe(source);
        const std::string by_steps = read_and_describe(with_comments(source));
        ASSERT_EQ(one_pass, by_steps) << "source:\n" << source;
        ++compared;
    }
    EXPECT_EQ(compared, 300);
}

void write_file(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// The first line where two long descriptions part, with its number.
std::string first_difference(const std::string& a, const std::string& b) {
    std::istringstream in_a(a), in_b(b);
    std::string line_a, line_b;
    for (int line = 1;; ++line) {
        const bool more_a = static_cast<bool>(std::getline(in_a, line_a));
        const bool more_b = static_cast<bool>(std::getline(in_b, line_b));
        if (!more_a && !more_b) return "";
        if (!more_a || !more_b || line_a != line_b) {
            return "line " + std::to_string(line) + ":\n  " + line_a + "\n  " + line_b;
        }
    }
}

TEST(plain_statement, a_long_file_reads_as_its_statements_token_by_token) {
    // A source of several megabytes read from its file: every statement the
    // pass takes leaves what reading it token by token leaves.
    std::string source = "pavex module T;\nstruct S {\n";
    for (int i = 0; source.size() < (std::size_t{3} << 20); ++i) {
        source += "    int<0..65535> f" + std::to_string(i) + " [0..*];\n";
    }
    source += "};\n";
    const auto path = std::string(QRV_TEST_TMP) + "/plain_statement.pvx";
    write_file(path, source);
    EXPECT_EQ(read_and_describe(source, path.c_str(), true),
              read_and_describe(with_comments(source), path.c_str()));
}

TEST(plain_statement, a_long_file_reads_as_from_memory) {
    // Plain statements among those read step by step (comments holding `;`,
    // `{` and `}`, tags, nested bodies, a statement over several lines) must
    // leave from a long file what they leave from memory.
    const std::vector<std::string> forms = {
        "int<0..65535> a#;",
        "Msg# b# [0..*];",
        "bool c# as t#;",
        "// a comment; with { and }\n    ascii<1..3> d#;",
        "/* ; { */ ipv4 e#;",
        "struct Inner# { int<-5..5> x-y#; date f# [?]; };",
        "unicode<0..200>\n      g#\n      [2..*]\n    ;",
        "int h#;",
    };
    std::mt19937 rng(5);
    std::string source = "pavex module T;\n";
    for (int n = 0; source.size() < (std::size_t{5} << 20); ++n) {
        source += "struct Msg" + std::to_string(n) + " {\n";
        for (int i = 0; i < 8; ++i) {
            std::string statement = forms[rng() % forms.size()];
            for (std::size_t at; (at = statement.find('#')) != std::string::npos;) {
                statement.replace(at, 1, std::to_string(n));
            }
            source += "    " + statement + "\n";
        }
        source += n % 7 == 0 ? "}; // ends; { here }\n" : "};\n";
    }
    const auto path = std::string(QRV_TEST_TMP) + "/long_mixed.pvx";
    write_file(path, source);
    const std::string from_file = read_and_describe(source, path.c_str(), true);
    const std::string from_memory = read_and_describe(source, path.c_str());
    EXPECT_EQ(first_difference(from_file, from_memory), "");
}

// A long source read whole from its file holds the file's bytes, and the
// pass finds its statements one after another, each where the one before
// ended, far past the first megabyte as at the start; a structure's start
// ends after its `{`.
TEST(plain_statement, a_long_source_is_read_statement_after_statement) {
    std::string file;
    std::vector<std::size_t> starts;
    std::vector<std::string> names;
    for (int i = 0; file.size() < (std::size_t{7} << 20) + 1000; ++i) {
        starts.push_back(file.size());
        names.push_back((i % 9 == 0 ? "S" : "a-") + std::to_string(i));
        file += i % 9 == 0
                    ? "struct " + names.back() + " {"
                    : "\n  ascii<1.." + std::to_string(i % 70) + "> " + names.back() + " [0..*];";
    }
    const auto path = std::string(QRV_TEST_TMP) + "/long_source.pvx";
    write_file(path, file);
    std::string read;
    ASSERT_TRUE(read_whole_file(path.c_str(), read));
    ASSERT_EQ(read.size(), file.size());
    ASSERT_TRUE(read == file);

    const auto* data = reinterpret_cast<const unsigned char*>(read.data());
    for (std::size_t k = 0; k < starts.size(); ++k) {
        plain_statement found;
        ASSERT_TRUE(scan_plain_statement(data, read.size(), starts[k], found)) << k;
        EXPECT_EQ(found.end, k + 1 < starts.size() ? starts[k + 1] : read.size()) << k;
        ASSERT_EQ(found.name(data), names[k]) << k;
        EXPECT_EQ(found.name_hash, text_hash(names[k])) << k;
        EXPECT_EQ(found.opens_body, k % 9 == 0) << k;
        EXPECT_EQ(found.lines, k % 9 == 0 ? 0u : 1u) << k;
        if (k % 9 != 0) {
            EXPECT_EQ(found.max, k % 70) << k;
        }
    }
}

}  // namespace
}  // namespace qrv
