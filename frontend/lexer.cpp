#include "frontend/lexer.h"
// (stub: replaced by the lexer)
namespace qrv {
int read_significant_char(parse_state& ps) { return read_char(ps); }
int next_token(parse_state&, char*) { return TK_END; }
int next_statement_token(parse_state&, char*) { return TK_END; }
int next_raw_word(parse_state&, char*) { return TK_END; }
int classify_token(std::string_view) { return TK_WORD; }
const char* token_name(int) { return ""; }
std::uint32_t number_value(run_context&, const char*) { return 0; }
void to_c_name(char*) {}
std::string to_c_name(std::string_view t) { return std::string(t); }
bool is_identifier(std::string_view) { return false; }
bool is_tag_text(std::string_view) { return false; }
bool is_const_text(std::string_view) { return false; }
bool is_module_name(std::string_view) { return false; }
bool is_reference_name(std::string_view) { return false; }
}  // namespace qrv
