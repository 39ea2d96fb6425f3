// The in-memory model of a run: the run context, module records, elements
// and the small list records that hang off a module, plus the state the
// front end keeps while it reads one module.
//
// Texts (names, tags, links, paths ...) are immutable and live in the run's
// text arena; an element holds 8-byte `text` handles, so an element costs
// 136 bytes however long its names may be. The capacities of the language
// (63 characters for names, tags and constant texts, 255 for reference and
// qualified names) are limits the front end and post-parse enforce with
// their own messages, not storage reserved in every record.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qrv {

// Limits of the definition language.
inline constexpr std::size_t max_name_length = 63;        // names, tags, const texts
inline constexpr std::size_t max_reference_length = 255;  // links, qualified names
inline constexpr int max_body_depth = 1000;               // nesting of bodies

enum element_kind : std::uint8_t {
    ET_STRUCT = 0,
    ET_UNION = 1,
    ET_COMBINED = 2,
    ET_NULL = 3,
    ET_BOOLEAN = 4,
    ET_INTEGER = 5,
    ET_SINGLE = 6,
    ET_DOUBLE = 7,
    ET_OID = 8,
    ET_ASCII = 9,
    ET_UNQUOTED_ASCII = 10,
    ET_UNICODE = 11,
    ET_BYTES = 12,
    ET_CONST = 13,
    ET_IPV4 = 14,
    ET_IPV6 = 15,
    ET_DATE = 16,
    ET_TIME = 17,
    ET_EMBEDDED = 18,
    ET_LINK = 19,
};

// The characters of a text are stored after their length (4 bytes, in the
// machine's byte order) and before a terminating NUL. Texts that are not in
// an arena, such as the empty text, are built at compile time this way.
template <std::size_t N>
struct counted_chars {
    char bytes[4 + N] = {};  // N counts the terminator
    constexpr const char* chars() const { return bytes + 4; }
};

template <std::size_t N>
constexpr counted_chars<N> make_counted_chars(const char (&s)[N]) {
    counted_chars<N> out;
    const auto length = std::bit_cast<std::array<char, 4>>(static_cast<std::uint32_t>(N - 1));
    for (std::size_t i = 0; i < 4; ++i) out.bytes[i] = length[i];
    for (std::size_t i = 0; i < N; ++i) out.bytes[4 + i] = s[i];
    return out;
}

inline constexpr counted_chars<1> empty_text_chars = make_counted_chars("");

// An immutable, NUL-terminated text: one pointer to counted characters in
// the run's text arena or in static storage. Copying a handle never copies
// the characters.
struct text {
    const char* p = empty_text_chars.chars();

    const char* c_str() const { return p; }
    std::size_t size() const {
        std::uint32_t n;
        std::memcpy(&n, p - sizeof n, sizeof n);
        return n;
    }
    bool empty() const { return p[0] == '\0' && size() == 0; }
    std::string_view view() const { return {p, size()}; }
    char operator[](std::size_t i) const { return p[i]; }
    friend bool operator==(text a, std::string_view b) { return a.view() == b; }
    friend bool operator==(text a, text b) { return a.p == b.p || a.view() == b.view(); }
};

// A bump allocator for texts; everything is released with the arena.
class text_arena {
public:
    text copy(std::string_view s);
    text concat(std::string_view a, std::string_view b);
    text concat(std::string_view a, std::string_view b, std::string_view c);

private:
    char* allocate(std::size_t n);
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
};

// A pool of records of one type: stable addresses, released all at once.
template <class T>
class record_pool {
public:
    T* make() {
        if (used_ == block_size) {
            blocks_.push_back(std::make_unique<T[]>(block_size));
            used_ = 0;
        }
        T* r = &blocks_.back()[used_++];
        return r;
    }
    void clear() {
        blocks_.clear();
        used_ = block_size;
    }

private:
    static constexpr std::size_t block_size = 512;
    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t used_ = block_size;
};

struct module_record;

struct element {
    text name;
    text c_name;  // the same text as the name when they are equal
    text tag;     // the same text as the name unless the element has its own
    text link;
    text const_value;
    text qualified_name;
    const char* pattern = nullptr;  // owned by the arena; no later stage reads it
    element* children = nullptr;
    element* next = nullptr;
    element* next_union_member = nullptr;
    module_record* module = nullptr;
    std::int64_t line = 0;
    std::int32_t ordinal = -1;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    // Occurrences: cardinality_min to cardinality_max, or to no limit at all
    // when cardinality_unbounded is set (`*`); every count up to 4294967295
    // is a count.
    std::uint32_t cardinality_min = 0;
    std::uint32_t cardinality_max = 0;
    std::int32_t reference_count = 0;
    element_kind kind = ET_LINK;
    bool constrained : 1 = false;
    bool min_negative : 1 = false;
    bool max_negative : 1 = false;
    bool has_cardinality : 1 = false;
    bool cardinality_unbounded : 1 = true;
    bool z_suffix : 1 = false;
    bool plugin : 1 = false;
    bool in_main_module : 1 = false;
    bool listed : 1 = false;
    bool dynamic : 1 = false;
    bool is_copy : 1 = false;
    bool recursive : 1 = false;
    // The mark of the walk in progress when this element heads a member
    // chain (see chain_marks); meaningless to any other walk.
    std::uint32_t walk_stamp = 0;
    std::int32_t walk_value = 0;
};

// Marks of one walk over member chains, kept in the first element of each
// chain (a chain is known by its first element): a walk takes a stamp no
// earlier walk had, and a chain's value counts only while its stamp is the
// walk's own. Only one walk may mark at a time.
class chain_marks {
public:
    chain_marks();

    // The value stored for `chain`, or null.
    std::int32_t* find(element* chain) const {
        return chain->walk_stamp == stamp_ ? &chain->walk_value : nullptr;
    }
    // Stores `value` for `chain` unless it has a value; true when stored.
    bool insert(element* chain, std::int32_t value) const {
        if (chain->walk_stamp == stamp_) return false;
        chain->walk_stamp = stamp_;
        chain->walk_value = value;
        return true;
    }
    void erase(element* chain) const {
        if (chain->walk_stamp == stamp_) chain->walk_stamp = 0;
    }

private:
    std::uint32_t stamp_;
};

// The first element of each name in a chain, hashed by name: open
// addressing; each slot keeps the name's hash and length, and a name of up
// to 16 characters itself, so that a probe mostly compares within the
// table and does not visit the element or its text.
class name_index {
public:
    // Indexes `first` and the elements after it; the first of a name stays.
    void build(element* first);
    element* find(std::string_view name) const;

private:
    static constexpr std::size_t key_size = 16;
    struct slot {
        element* e;
        std::uint32_t hash;
        std::uint32_t length;
        char key[key_size];  // a short name, padded with zeros
    };
    std::size_t position(std::string_view name, const char* key, std::uint32_t hash) const;

    std::vector<slot> slots_;
    std::size_t mask_ = 0;
};

struct module_ref {
    text alias;  // " " when the statement had no `as`
    text module_name;
    module_ref* next = nullptr;
};

struct into_entry {
    text target;
    std::int64_t line = 0;
    into_entry* next = nullptr;
};

struct plug_record {
    element* elements = nullptr;
    into_entry* into = nullptr;  // newest first
    plug_record* next = nullptr;
};

struct module_record {
    text name;  // empty until a module statement is read
    text path;
    text prefix;  // empty when unset
    bool has_prefix = false;
    module_ref* extends = nullptr;  // newest first
    module_ref* imports = nullptr;  // newest first
    plug_record* plugs = nullptr;   // source order
    element* elements = nullptr;
    module_record* next = nullptr;
};

// A file the run reads or tries to read: a source file named on the command
// line, or the directive file beside one. The driver lists them before
// anything is read, in command-line order, each source file followed by its
// directive file; a source file named again is listed once.
struct input_file {
    std::string path;  // as the command line names it (a directive file: + "cfg")
    bool is_directive_file = false;
    bool exists = false;   // something was there when the run began
    bool regular = false;  // and it was a regular file
    // The identity of the file behind the path's symbolic links while it
    // exists, and its absolute path with the links followed.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string resolved;
};

// Where the ABNF text goes while it is written: a file, or memory.
struct output_sink {
    std::FILE* file = nullptr;
    std::string* memory = nullptr;  // when set, text is appended here instead
    // In memory mode, the most text that may be written before writing
    // stops with output_limit_reached (fuzzing bounds its runs with it).
    std::size_t memory_limit = static_cast<std::size_t>(-1);
    std::unique_ptr<char[]> buffer;  // bytes not yet handed to the file
    std::size_t used = 0;            // how many bytes of the buffer hold text
    bool open = false;
    bool failed = false;  // a write to the file failed
    bool crlf = false;    // lines written through the layout rules end in CR LF
};

// How counted diagnostics are written (qrvutil/diagnostics.h): msvc is
// "file(line) : label: message", gcc "file:line: label: message", json one
// object per line.
enum class diagnostic_format : std::uint8_t { msvc, gcc, json };

struct run_context {
    module_record* modules = nullptr;
    element* elements = nullptr;
    element* union_members = nullptr;
    std::int32_t plugin_ordinal_base = 1000000000;
    const char* input_path = nullptr;
    output_sink output;
    // Counted diagnostics; 64 bits, so that no count returns to 0.
    std::int64_t error_count = 0;
    std::int64_t warning_count = 0;
    bool brace_indent = true;
    std::int32_t depth = 0;
    std::int32_t column = 0;
    std::int32_t tab_count = 0;

    // Standard output of the run: banner, diagnostics, notes, summary.
    std::FILE* console = stdout;
    diagnostic_format error_format = diagnostic_format::msvc;
    // Plain notes that tell of a failure (the generator's "ERROR:" notes,
    // "error: Output file not specified" ...): not in error_count, but a
    // build asking for a failing status on errors counts them.
    std::int32_t error_note_count = 0;

    // Option --strict-abnf: the strict grammar, after its checks.
    bool strict_abnf = false;
    // The files the run reads or tries to read (see input_file).
    std::vector<input_file> inputs;

    // The generator's comment for the line being written.
    std::string pending_comment;

    // Storage of the run.
    text_arena texts;
    record_pool<element> element_pool;
    record_pool<module_record> module_pool;
    record_pool<module_ref> module_ref_pool;
    record_pool<plug_record> plug_pool;
    record_pool<into_entry> into_pool;
};

// The characters of one source file and two characters of push-back.
struct source_stream {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    int pushed[2] = {0, 0};
    int pushed_count = 0;
};

struct body_frame {
    bool in_brackets = false;
    bool brackets_seen = false;
    bool tagged_seen = false;
};

// The parse steps of the parser's step machine.
enum parse_step : int {
    STEP_STATEMENT = 0,
    STEP_CONSTRAINT_OR_NAME = 1,
    STEP_CONSTRAINT = 2,
    STEP_NAME = 3,
    STEP_AFTER_NAME = 4,
    STEP_CARDINALITY = 5,
    STEP_AFTER_CARDINALITY = 6,
    STEP_TAG = 7,
    STEP_AFTER_TAG = 8,
    STEP_SKIP = 9,
    STEP_END_BODY = 10,
};

struct parse_state {
    const char* path = "";
    std::int64_t line = 1;  // 64 bits: every real line of any file
    source_stream* stream = nullptr;
    run_context* run = nullptr;
    module_record* module = nullptr;
    bool in_header = true;
    int step = STEP_STATEMENT;
    std::int64_t error_count = 0;
    std::int32_t depth = 0;
    std::int32_t plug_level = 0;
    plug_record* plug = nullptr;
    body_frame* frame = nullptr;
    bool last_module = true;
};

// Thrown to end the run early with an exit status (the fatal diagnostic,
// the too-long qualified name); the entry catches it.
struct fatal_stop {
    int status;
};

inline constexpr auto uninitialised_chars = make_counted_chars("___QRV_UnInitialised___");
inline constexpr const char* uninitialised_marker = uninitialised_chars.chars();

void init_run_context(run_context& run);

// A new element with its allocation defaults; never null (out of memory
// unwinds as std::bad_alloc).
element* new_element(parse_state& ps);

// Allocation helpers for the other records (zero-filled).
module_record* new_module_record(run_context& run);
module_ref* new_module_ref(run_context& run);
plug_record* new_plug_record(run_context& run);
into_entry* new_into_entry(run_context& run);

inline text make_text(run_context& run, std::string_view s) { return run.texts.copy(s); }

// An element by dotted path among a module's elements; null when not found.
element* find_element(const module_record* module, std::string_view path);

// Releases every record and text of the run.
void free_model(run_context& run);

}  // namespace qrv
