// The records of the model: one element per declared item, one module
// record per module read, and the small list records that hang off a
// module.
//
// Every record and text of a run is cut from the run's model_storage, and
// an element refers to its texts, its members, its sibling and its module
// by 32-bit distances (rel_ptr): an element takes 64 bytes, however long
// its names. The capacities of the language (63 characters for names, tags
// and constant texts, 255 for reference and qualified names) are limits the
// front end and post-parse enforce with their own messages, not storage
// reserved in every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "model/storage.h"
#include "model/text.h"

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

struct module_record;
struct run_context;

// The plain values of an element: everything but its number and the
// references to its texts, members, sibling and module. Trivially copyable,
// so that a copy takes them in one assignment and no field added here can
// be forgotten.
struct element_values {
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    // Occurrences: cardinality_min to cardinality_max, or to no limit at all
    // when cardinality_unbounded is set (`*`); every count up to 4294967295
    // is a count.
    std::uint32_t cardinality_min = 0;
    std::uint32_t cardinality_max = 0;

    // The source line (40 bits: every line of any file).
    std::int64_t line() const { return static_cast<std::int64_t>(line_high_) << 32 | line_low_; }
    void set_line(std::int64_t line) {
        const auto l = static_cast<std::uint64_t>(line < 0 ? 0 : line);
        line_low_ = static_cast<std::uint32_t>(l);
        line_high_ = static_cast<std::uint8_t>(l > 0xffffffffffULL ? 0xff : l >> 32);
    }

private:
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
    bool has_pattern : 1 = false;  // declared with a /pattern/, which nothing enforces
};
static_assert(std::is_trivially_copyable_v<element_values>);

struct alignas(64) element : element_values {
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

    // The element's number in its run, from 0 in allocation order: the key
    // of the side tables that walks keep (see chain_marks).
    std::uint32_t id = 0;

private:
    // Distances from where each is kept (rel_ptr): a copy must set them
    // anew, through the setters.
    rel_text name_;
    rel_text c_name_;
    rel_text tag_;
    rel_text link_;
    rel_text const_value_;
    rel_ptr<element> children_;
    rel_ptr<element> next_;
    rel_ptr<module_record> module_;
};
static_assert(sizeof(element) == 64, "an element fills one cache line");

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
        while (last_ != nullptr && last_->next() != nullptr) last_ = last_->next();
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

struct module_ref {
    text alias;  // " " when the statement had no `as`
    text module_name;
    std::int64_t line = 0;  // of the statement
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

}  // namespace qrv
