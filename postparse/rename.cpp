// Step 8: identifiers that clash with reserved words. (The ordinals of
// step 8 are names for generated code that no output reads.)
#include <array>
#include <string_view>

#include "postparse/post_parse.h"
#include "support/diagnostics.h"

namespace qrv {

namespace {

constexpr std::array<std::string_view, 53> reserved_words = {
    "asm",    "auto",     "break",  "case",     "char",      "const",    "continue", "default",
    "do",     "double",   "else",   "enum",     "extern",    "float",    "for",      "goto",
    "if",     "int",      "long",   "register", "return",    "short",    "signed",   "sizeof",
    "static", "struct",   "switch", "typedef",  "union",     "unsigned", "void",     "volatile",
    "while",  "cdecl",    "far",    "huge",     "interrupt", "near",     "pascal",   "catch",
    "class",  "delete",   "friend", "inline",   "new",       "operator", "private",  "protected",
    "public", "template", "throw",  "try",      "virtual",
};

// A hash on the length and three characters that places every reserved
// word in a slot of its own (checked when compiling), so a name is compared
// with one word at most.
constexpr std::size_t reserved_slot_count = 128;

constexpr std::size_t reserved_hash(std::string_view s) {
    return (s.size() * 2 + static_cast<unsigned char>(s[0]) * 15u +
            static_cast<unsigned char>(s.back()) * 49u + static_cast<unsigned char>(s[1]) * 6u) &
           (reserved_slot_count - 1);
}

struct reserved_table {
    std::array<std::int8_t, reserved_slot_count> slots{};
    bool collision = false;
};

constexpr reserved_table make_reserved_table() {
    reserved_table t;
    for (auto& s : t.slots) s = -1;
    for (std::size_t i = 0; i < reserved_words.size(); ++i) {
        std::int8_t& slot = t.slots[reserved_hash(reserved_words[i])];
        if (slot >= 0) t.collision = true;
        slot = static_cast<std::int8_t>(i);
    }
    return t;
}

constexpr reserved_table reserved = make_reserved_table();
static_assert(!reserved.collision, "the hash must place every reserved word in its own slot");

bool is_reserved(std::string_view word) {
    // Every reserved word is 2 to 9 lower-case letters.
    if (word.size() < 2 || word.size() > 9 || word[0] < 'a' || word[0] > 'z') return false;
    const int slot = reserved.slots[reserved_hash(word)];
    return slot >= 0 && reserved_words[static_cast<std::size_t>(slot)] == word;
}

}  // namespace

void rename_reserved(run_context& run, diagnostics& diag, element* e) {
    if (!is_reserved(e->c_name().view())) return;
    note(diag,
         "Warning (Line:%lld): Changed name '%s' to '%s_' to avoid C/C++ keyword name clash\n",
         static_cast<long long>(place_of(run, diag, *e, {}).line), e->c_name().c_str(),
         e->c_name().c_str());
    e->set_c_name(run.texts.concat(e->c_name().view(), "_"));
}

bool has_reserved_text(const run_context& run) { return run.texts.any_of(is_reserved); }

}  // namespace qrv
