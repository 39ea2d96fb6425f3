// Member statements read in one pass must leave exactly what reading them
// token by token leaves. A comment in front of a statement makes the
// parser read it token by token and changes nothing else, so each random
// source is read as it is and with a comment at the start of every line,
// and the two runs must agree on every element, every message and the
// result.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "console_capture.h"
#include "frontend/source.h"
#include "model/model.h"

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

std::string read_and_describe(const std::string& source) {
    run_context run;
    init_run_context(run);
    testing::console_capture captured;
    run.console = captured.file();
    const int result = read_source_text(run, "t.pvx", source, nullptr);
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

TEST(plain_members, one_pass_reads_what_the_steps_read) {
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

TEST(plain_members, a_statement_across_the_end_of_a_block_is_read_whole) {
    // Sources read from files come in blocks of 1 MiB: statements that
    // straddle a block's end are read step by step, the rest in one pass.
    std::string source = "pavex module T;\nstruct S {\n";
    for (int i = 0; source.size() < (std::size_t{3} << 20); ++i) {
        source += "    int<0..65535> f" + std::to_string(i) + " [0..*];\n";
    }
    source += "};\n";
    const auto path = std::string(QRV_TEST_TMP) + "/plain_members.pvx";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(source.data(), 1, source.size(), f);
        std::fclose(f);
    }
    run_context run;
    init_run_context(run);
    testing::console_capture captured;
    run.console = captured.file();
    ASSERT_EQ(read_source_file(run, path.c_str()), 0);
    std::string from_file = describe(run.modules->elements);
    free_model(run);
    EXPECT_EQ("result 0\nmodule T\n" + from_file, read_and_describe(with_comments(source)));
}

}  // namespace
}  // namespace qrv
