// The in-memory model of a run: the run context, module records, elements
// and the small list records that hang off a module, plus the state the
// front end keeps while it reads one module.
//
// Every record and text of a run is cut from the run's model_storage, and
// an element refers to its texts, its members, its sibling and its module
// by 32-bit distances (rel_ptr): an element takes 64 bytes, however long
// its names. Texts are kept once each: equal texts of a run are the same
// text. The capacities of the language (63 characters for names, tags and
// constant texts, 255 for reference and qualified names) are limits the
// front end and post-parse enforce with their own messages, not storage
// reserved in every record.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/storage.h"

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

// The hash of a text, kept with it so that it is computed once: eight
// characters at a time, the same at compile time and at run time.
constexpr std::uint32_t text_hash(std::string_view s) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w = 0;
        if (std::is_constant_evaluated() || std::endian::native != std::endian::little) {
            for (std::size_t k = 0; k < 8; ++k) {
                w |= std::uint64_t{static_cast<unsigned char>(s[i + k])} << (8 * k);
            }
        } else {
            std::memcpy(&w, s.data() + i, 8);
        }
        h = (h ^ w) * 0xff51afd7ed558ccdULL;
        h ^= h >> 32;
    }
    std::uint64_t w = 0;
    for (std::size_t k = 0; i + k < s.size(); ++k) {
        w |= std::uint64_t{static_cast<unsigned char>(s[i + k])} << (8 * k);
    }
    h = (h ^ w) * 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 29;
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

// The characters of a text are stored after its hash and its length (4
// bytes each, in the machine's byte order) and before a terminating NUL.
// Texts that are not in a run's storage, such as the empty text, are built
// at compile time this way.
template <std::size_t N>
struct counted_chars {
    alignas(8) char bytes[8 + N] = {};  // N counts the terminator
    constexpr const char* chars() const { return bytes + 8; }
};

template <std::size_t N>
constexpr counted_chars<N> make_counted_chars(const char (&s)[N]) {
    counted_chars<N> out;
    const auto hash = std::bit_cast<std::array<char, 4>>(text_hash(std::string_view(s, N - 1)));
    const auto length = std::bit_cast<std::array<char, 4>>(static_cast<std::uint32_t>(N - 1));
    for (std::size_t i = 0; i < 4; ++i) out.bytes[i] = hash[i];
    for (std::size_t i = 0; i < 4; ++i) out.bytes[4 + i] = length[i];
    for (std::size_t i = 0; i < N; ++i) out.bytes[8 + i] = s[i];
    return out;
}

inline constexpr counted_chars<1> empty_text_chars = make_counted_chars("");

// An immutable, NUL-terminated text: one pointer to counted characters in
// the run's storage or in static storage. Copying a handle never copies
// the characters.
struct text {
    const char* p = empty_text_chars.chars();

    const char* c_str() const { return p; }
    std::size_t size() const {
        std::uint32_t n;
        std::memcpy(&n, p - 4, sizeof n);
        return n;
    }
    std::uint32_t hash() const {
        std::uint32_t h;
        std::memcpy(&h, p - 8, sizeof h);
        return h;
    }
    bool empty() const { return size() == 0; }
    std::string_view view() const { return {p, size()}; }
    char operator[](std::size_t i) const { return p[i]; }
    friend bool operator==(text a, std::string_view b) { return a.view() == b; }
    friend bool operator==(text a, text b) { return a.p == b.p || a.view() == b.view(); }
};

// The texts of a run, each kept once in the run's storage: equal
// characters give the same text.
class text_table {
public:
    explicit text_table(model_storage& storage) : storage_(storage) {}
    text_table(const text_table&) = delete;
    text_table& operator=(const text_table&) = delete;

    text copy(std::string_view s) { return intern(s, text_hash(s)); }
    // The same with the hash already computed (text_hash(s)).
    text copy(std::string_view s, std::uint32_t hash) { return intern(s, hash); }
    // Asks the processor to fetch the slot a copy of text_hash `hash` will
    // look at first, so that a reader can look it up a little later.
    void prefetch(std::uint32_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[slot_of(hash, slots_.size() - 1)]);
    }
    // Asks for the characters of the text in that slot, when its hash is
    // `hash` (the slot itself asked for a while before).
    void prefetch_text(std::uint32_t hash) const {
        if (slots_.empty()) return;
        const slot& t = slots_[slot_of(hash, slots_.size() - 1)];
        if (t.place != 0 && t.hash == hash) __builtin_prefetch(chars_of(t));
    }
    text concat(std::string_view a, std::string_view b);
    text concat(std::string_view a, std::string_view b, std::string_view c);
    // The text with these characters, if the run has one; else the empty
    // text.
    text find(std::string_view s) const;
    // Forgets every text (their storage is released with the model).
    void clear();
    // Whether `pred` holds for the characters of any text of the table.
    template <class Pred>
    bool any_of(Pred pred) const {
        for (const slot& t : slots_) {
            if (t.place != 0 && pred(text{chars_of(t)}.view())) return true;
        }
        return false;
    }

private:
    // A slot: where the text lies in the storage (0: free), and its hash,
    // which a probe compares before it reads the text.
    struct slot {
        std::uint32_t place = 0;
        std::uint32_t hash = 0;
    };
    const char* chars_of(const slot& t) const {
        return static_cast<const char*>(storage_.at_place(t.place)) + 8;
    }
    // The slot of `hash` in a table of `mask + 1` slots.
    static std::size_t slot_of(std::uint32_t hash, std::size_t mask) {
        return (static_cast<std::size_t>(hash) * 0x9e3779b97f4a7c15ULL >> 20) & mask;
    }
    text intern(std::string_view s, std::uint32_t hash);
    std::size_t probe(std::string_view s, std::uint32_t hash) const;
    void grow();

    model_storage& storage_;
    std::vector<slot, large_page_allocator<slot>> slots_;
    std::size_t used_ = 0;
    std::string scratch_;
};

// A text of the storage kept as a rel_ptr; the empty text is kept as null.
class rel_text {
public:
    text get() const {
        const char* p = ref_.get();
        return p == nullptr ? text{} : text{p};
    }
    void set(text t) { ref_.set(t.empty() ? nullptr : t.p); }
    // Whether the text is empty, without reading it.
    bool empty() const { return ref_.empty(); }

private:
    rel_ptr<const char> ref_;
};

struct module_record;
struct run_context;

struct alignas(64) element {
    // The texts: `c_name` is the same text as the name when they are equal,
    // `tag` the same text as the name unless the element has its own.
    text name() const { return name_.get(); }
    text c_name() const { return c_name_.get(); }
    text tag() const { return tag_.get(); }
    text link() const { return link_.get(); }
    text const_value() const { return const_value_.get(); }
    void set_name(text t) { name_.set(t); }
    void set_c_name(text t) { c_name_.set(t); }
    void set_tag(text t) { tag_.set(t); }
    void set_link(text t) { link_.set(t); }
    void set_const_value(text t) { const_value_.set(t); }
    // Whether the element has a link or a tag, without reading the text.
    bool has_link() const { return !link_.empty(); }
    bool has_tag() const { return !tag_.empty(); }

    // The first member, the next sibling, the module declared in.
    element* children() const { return children_.get(); }
    element* next() const { return next_.get(); }
    module_record* module() const { return module_.get(); }
    void set_children(element* e) { children_.set(e); }
    void set_next(element* e) { next_.set(e); }
    void set_module(module_record* m) { module_.set(m); }

    // The source line (40 bits: every line of any file).
    std::int64_t line() const { return static_cast<std::int64_t>(line_high_) << 32 | line_low_; }
    void set_line(std::int64_t line) {
        const auto l = static_cast<std::uint64_t>(line < 0 ? 0 : line);
        line_low_ = static_cast<std::uint32_t>(l);
        line_high_ = static_cast<std::uint8_t>(l > 0xffffffffffULL ? 0xff : l >> 32);
    }

    // How post-parse makes the qualified name, which it makes when asked
    // for (postparse's qualified_name): the uninitialised marker, the
    // element's own c_name, the qualified name of the parent that named the
    // member followed by "_" and the c_name, or the C name of the definition
    // a reference to a structure, union or combination names.
    enum qualified_form_kind : std::uint8_t {
        QUALIFIED_UNSET = 0,
        QUALIFIED_OWN = 1,
        QUALIFIED_MEMBER = 2,
        QUALIFIED_REFERENCE = 3,
    };
    qualified_form_kind qualified_form() const {
        return static_cast<qualified_form_kind>(qualified_form_);
    }
    void set_qualified_form(qualified_form_kind form) { qualified_form_ = form; }

    // The element's number in its run, from 0 in allocation order: the key
    // of the side tables that walks keep (see chain_marks).
    std::uint32_t id = 0;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    // Occurrences: cardinality_min to cardinality_max, or to no limit at all
    // when cardinality_unbounded is set (`*`); every count up to 4294967295
    // is a count.
    std::uint32_t cardinality_min = 0;
    std::uint32_t cardinality_max = 0;
    std::int32_t reference_count = 0;

private:
    rel_text name_;
    rel_text c_name_;
    rel_text tag_;
    rel_text link_;
    rel_text const_value_;
    rel_ptr<element> children_;
    rel_ptr<element> next_;
    rel_ptr<module_record> module_;
    std::uint32_t line_low_ = 0;

public:
    element_kind kind = ET_LINK;

private:
    std::uint8_t line_high_ = 0;

public:
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

private:
    std::uint8_t qualified_form_ : 2 = QUALIFIED_UNSET;

    friend element* copy_element(run_context& run, const element& original);
};

// The next element of a chain, asking for the line of an element some steps
// further on. The elements of a chain mostly lie at even distances in the
// storage (a top-level definition after the members of the one before it),
// so sixteen times the distance to the next one is where the walk will
// soon stand; a wrong guess costs a load nobody waits for. A walk of a long
// chain otherwise waits for every element's line in turn.
inline element* next_ahead(const element* e) {
    element* n = e->next();
    if (n != nullptr) {
        const auto here = reinterpret_cast<std::uintptr_t>(e);
        const auto there = reinterpret_cast<std::uintptr_t>(n);
        __builtin_prefetch(reinterpret_cast<const void*>(there + 16 * (there - here)));
    }
    return n;
}

// Asks for the lines of the `count` elements cut from the storage after
// `e`: a definition's members mostly follow it one after another.
inline void prefetch_following(const element* e, int count) {
    const auto* at = reinterpret_cast<const char*>(e);
    for (int k = 1; k <= count; ++k) __builtin_prefetch(at + k * sizeof(element));
}

// Where a chain begins: an element's members, or a plain pointer (a
// module's elements, a plug body, a list of the caller's).
class chain_head {
public:
    chain_head(element** first) : plain_(first) {}  // NOLINT: a pointer to a head is one
    static chain_head members_of(element& owner) {
        chain_head h(nullptr);
        h.owner_ = &owner;
        return h;
    }
    element* get() const { return owner_ != nullptr ? owner_->children() : *plain_; }
    void set(element* first) const {
        if (owner_ != nullptr) {
            owner_->set_children(first);
        } else {
            *plain_ = first;
        }
    }

private:
    element** plain_ = nullptr;
    element* owner_ = nullptr;
};

// The end of a chain, where elements are appended one after another.
class chain_tail {
public:
    explicit chain_tail(chain_head head) : head_(head), last_(head.get()) {
        while (last_ != nullptr && last_->next() != nullptr) last_ = next_ahead(last_);
    }
    void append(element* e) {
        if (last_ == nullptr) {
            head_.set(e);
        } else {
            last_->set_next(e);
        }
        last_ = e;
    }

private:
    chain_head head_;
    element* last_;
};

// Appends `e` to the end of the chain that begins at `head`.
inline void append_element(chain_head head, element* e) { chain_tail(head).append(e); }

// Marks of one walk over member chains, a chain known by its first
// element: a side table owned by the walk, keyed by element number. Each
// walk has its own; nothing is kept in the elements. A walk reads it at
// random, so a large one takes large pages like the hash tables.
class chain_marks {
public:
    chain_marks() = default;
    // Room for the elements numbered below `ids` at once (a walk of every
    // chain of the run), so that the table is not copied as it grows.
    explicit chain_marks(std::size_t ids) : values_(ids, absent) {}

    // The value stored for `chain`, or null.
    std::int32_t* find(const element* chain) {
        return chain->id < values_.size() && values_[chain->id] != absent ? &values_[chain->id]
                                                                          : nullptr;
    }
    const std::int32_t* find(const element* chain) const {
        return chain->id < values_.size() && values_[chain->id] != absent ? &values_[chain->id]
                                                                          : nullptr;
    }
    // Stores `value` for `chain` unless it has a value; true when stored.
    bool insert(const element* chain, std::int32_t value) {
        if (chain->id >= values_.size()) grow(chain->id);
        std::int32_t& v = values_[chain->id];
        if (v != absent) return false;
        v = value;
        return true;
    }
    void erase(const element* chain) {
        if (chain->id < values_.size()) values_[chain->id] = absent;
    }

private:
    static constexpr std::int32_t absent = INT32_MIN;
    void grow(std::uint32_t id) {
        std::size_t size = values_.size() < 1024 ? 1024 : values_.size();
        while (size <= id) size *= 2;
        values_.resize(size, absent);
    }
    std::vector<std::int32_t, large_page_allocator<std::int32_t>> values_;
};

// The same for walks that need only a few states: a state from 1 to 3 per
// chain (0: none), four chains to a byte, so that the table of a large run
// stays in the processor's cache. A chain is known by where its first
// element lies in the storage, so that its state is found without reading
// the element. The table makes room for every element of the storage when
// a state is first set, and grows if the storage does.
class chain_states {
public:
    explicit chain_states(const model_storage& storage) : storage_(&storage) {}

    unsigned get(const element* chain) const {
        const std::size_t k = key(chain);
        return k / 4 < bits_.size() ? (bits_[k / 4] >> (k % 4 * 2)) & 3u : 0u;
    }
    void set(const element* chain, unsigned state) {
        const std::size_t k = key(chain);
        if (k / 4 >= bits_.size()) {
            if (state == 0) return;
            bits_.resize(std::max(k / 4 + 1 + bits_.size() / 2, all_bytes()), 0);
        }
        std::uint8_t& b = bits_[k / 4];
        const unsigned shift = k % 4 * 2;
        b = static_cast<std::uint8_t>((b & ~(3u << shift)) | ((state & 3u) << shift));
    }

private:
    // Elements are cut from the storage on their own cache lines: the
    // number of the line an element begins on is its key.
    std::size_t key(const element* chain) const {
        return (storage_->place_of(chain) - 1) / (sizeof(element) / 8);
    }
    std::size_t all_bytes() const { return storage_->used() / (4 * sizeof(element)) + 1; }
    const model_storage* storage_;
    std::vector<std::uint8_t, large_page_allocator<std::uint8_t>> bits_;
};

struct module_ref;

// The name index of a run: the first element of each name in a chain, the
// first module of each name, and the newest entry of each alias in an alias
// list. Every lookup by name goes through it and gives exactly what walking
// the list in order gives. A chain is indexed when it is first asked about
// and takes in what was appended to it since (plugging appends members,
// joining appends the later modules' chains); nothing is ever inserted
// before the end of a chain.
class name_index {
public:
    name_index(const model_storage& storage, const text_table& texts)
        : storage_(storage), texts_(texts) {}

    // The first element named `name` in the chain that starts at `chain`:
    // by a text of the run (equal texts are the same text, so nothing but
    // the index is read), or by any characters.
    element* find(const element* chain, text name);
    element* find(const element* chain, std::string_view name);
    // Takes in every element of the chain, so that find_taken finds them;
    // find_taken changes nothing and may be called from several threads.
    void take_in_chain(const element* chain);
    element* find_taken(const element* chain, text name) const;
    element* find_taken(const element* chain, std::string_view name) const;
    // Asks for the slot where `name` in `chain` would be found; finds nothing.
    void prefetch(const element* chain, text name) const {
        if (chain != nullptr && !slots_.empty()) {
            __builtin_prefetch(&slots_[home(storage_.place_of(chain), key_of(name))]);
        }
    }
    // The first module named `name` in the list that starts at `modules`
    // (the run's modules; they are only ever appended).
    module_record* find_module(const module_record* modules, std::string_view name);
    // The module name the newest entry of `aliases` gives to `alias`; false
    // when no entry has that alias.
    bool find_alias(const module_ref* aliases, std::string_view alias, std::string_view* target);
    void clear();

private:
    // A slot: the list, the entry and the entry's name, each as its place
    // in the run's storage. Equal names are the same text, so a probe
    // compares numbers only.
    struct slot {
        std::uint32_t list = 0;   // the chain or list the entry belongs to
        std::uint32_t entry = 0;  // the element, module or alias entry; 0: free
        std::uint32_t name = 0;
    };
    // The empty text is not in the storage: it has a place of its own.
    std::uint32_t key_of(text name) const {
        return name.empty() ? UINT32_MAX : storage_.place_of(name.c_str());
    }
    bool known_text(std::string_view name, text* known) const;
    template <class T>
    const T* find_in(const T* list, text name);
    template <class T>
    const T* find_in(const T* list, std::string_view name);
    template <class T>
    void take_in(const T* list);
    const void* probe(std::uint32_t list, std::uint32_t name) const;
    void insert(std::uint32_t list, std::uint32_t entry, std::uint32_t name);
    std::size_t home(std::uint32_t list, std::uint32_t name) const {
        const std::uint64_t key = (std::uint64_t{list} << 32) | name;
        return static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ULL) >> 29) & mask_;
    }
    void grow(std::size_t entries);

    const model_storage& storage_;
    const text_table& texts_;
    std::vector<slot, large_page_allocator<slot>> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    // How far each chain or list is indexed: the last entry taken in, and
    // the list asked about most recently.
    std::unordered_map<const void*, const void*> progress_;
    const void* recent_list_ = nullptr;
    const void** recent_last_ = nullptr;
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
    // exists, else its absolute path with the links followed.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::string resolved;
};

// The output writer (support/output_writer.h): its owner opens it on the run.
struct output_writer;

// How counted diagnostics are written (support/diagnostics.h): msvc is
// "file(line) : label: message", gcc "file:line: label: message", json one
// object per line.
enum class diagnostic_format : std::uint8_t { msvc, gcc, json };

struct run_context {
    module_record* modules = nullptr;
    // The last module of `modules` when a source file was last read, and
    // the first one then: the next file's modules are appended after it
    // without a walk of the list, unless the list was replaced since.
    module_record* last_module = nullptr;
    const module_record* last_module_of = nullptr;
    element* elements = nullptr;
    // The union members of the run with distinct c_names (post-parse).
    std::vector<element*> union_members;
    std::int32_t plugin_ordinal_base = 1000000000;
    // Elements allocated so far; the next one's id.
    std::uint32_t element_count = 0;
    const char* input_path = nullptr;
    output_writer* output = nullptr;  // while the grammar is written
    // Counted diagnostics; 64 bits, so that no count returns to 0.
    std::int64_t error_count = 0;
    std::int64_t warning_count = 0;

    // Standard output of the run: banner, diagnostics, notes, summary.
    std::FILE* console = stdout;
    diagnostic_format error_format = diagnostic_format::msvc;
    // Plain notes that tell of a failure (the generator's "ERROR:" notes,
    // "error: Output file not specified" ...): not in error_count, but a
    // build asking for a failing status on errors counts them.
    std::int32_t error_note_count = 0;

    // Option --strict-abnf: the strict grammar, after its checks.
    bool strict_abnf = false;
    // Ordinals and qualified names are names for generated code that no
    // output of the run reads: post-parse checks what can fail (the length
    // of qualified names) and makes them when one is first asked for (see
    // postparse), into these side tables by element id.
    bool ordinals_due = false;
    bool qualified_names_due = false;
    std::vector<std::int32_t> ordinals;
    std::vector<const element*> naming_parents;
    // The files the run reads or tries to read (see input_file).
    std::vector<input_file> inputs;

    // Storage of the run.
    model_storage storage;
    text_table texts{storage};

    // Lookups by name.
    name_index names{storage, texts};
    // The pattern of each element that has one, by element id: no later
    // stage reads it.
    std::unordered_map<std::uint32_t, text> patterns;
    // The uninitialised marker in this run's storage, once asked for.
    text marker;
};

// A block of a source file as read.
using source_block = std::vector<unsigned char, large_page_allocator<unsigned char>>;

// The front end's scan ahead of the parser in the blocks of a file.
class statement_scan;

// The characters of one source file and two characters of push-back. A
// source held in memory is all in `data`; a file is read in blocks, `data`
// holding the current one.
struct source_stream {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    int pushed[2] = {0, 0};
    int pushed_count = 0;
    int fd = -1;          // the file the next block comes from, or -1
    bool failed = false;  // a read of the file failed
    source_block block;
    statement_scan* scan = nullptr;  // a file's scan ahead, or null
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

// A copy of `original` with an id of its own.
element* copy_element(run_context& run, const element& original);

// Allocation helpers for the other records (zero-filled).
module_record* new_module_record(run_context& run);
module_ref* new_module_ref(run_context& run);
plug_record* new_plug_record(run_context& run);
into_entry* new_into_entry(run_context& run);

inline text make_text(run_context& run, std::string_view s) { return run.texts.copy(s); }

// The uninitialised marker as a text of the run.
text marker_text(run_context& run);

// The pattern an element was declared with; empty when it has none.
text pattern_of(const run_context& run, const element& e);

// An element by dotted path among a module's elements: the first of each
// name at each step; null when not found. An empty path gives the first
// top-level element, a path ending in "." the first member of what it
// names.
element* find_element(run_context& run, const module_record* module, std::string_view path);

// Releases every record and text of the run.
void free_model(run_context& run);

}  // namespace qrv
