// The strict grammar mode (--strict-abnf): a complete RFC 5234 grammar of
// the text encoding that ABNF tools load as it stands, and the checks that
// such a grammar of a usable encoding needs, run before it is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "support/diagnostics.h"
#include "support/output_writer.h"

namespace qrv {

// Reports every finding as a counted error at the definition's file(line):
// reversed cardinalities and ranges, definitions without a finite message,
// left recursion, untagged members the encoding cannot tell apart, kinds
// and references without a form. Returns the number of errors reported.
int check_strict_grammar(const run_context& run, diagnostics& diag);

// The rules of the strict grammar, one per top-level definition and one per
// body that needs its own, through `out`.
// With `root`, the grammar starts at that definition and holds only the
// definitions it reaches.
void write_strict_rules(const run_context& run, output_writer& out, diagnostics& diag,
                        const element* root = nullptr);

// The definitions the strict grammar writes, as places in the top chain, in
// the order of their rules: all of them, or `root` first and then those it
// reaches through references, in chain order.
std::vector<std::size_t> strict_grammar_definitions(const run_context& run, const element* root);

// The rule name of each top-level definition in the strict grammar of all
// of them (no root), in chain order.
std::vector<std::string> strict_rule_names(const run_context& run, diagnostics& diag);

// The fixed common rules that close a strict grammar.
std::string_view strict_common_rules();

// A text as an ABNF quoted string, with every byte that is not plain
// visible ASCII, the double quote and the braces in %x form:
// a"b{ gives "a" %x22.7B.
std::string quoted_text(std::string_view s);
// Whether every byte of `s` is plain visible ASCII other than the double
// quote and the braces: such a text stands in a quoted string as it is.
bool is_plain_text(std::string_view s);
// A text for a comment: the same bytes in %x form, so that nothing in it
// can end the comment or move the layout.
std::string comment_text(std::string_view s);

}  // namespace qrv
