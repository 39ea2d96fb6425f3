#include "model/model.h"

#include <atomic>
#include <cstring>

namespace qrv {

namespace {

constexpr std::size_t arena_block = 64 * 1024;
constexpr std::size_t length_bytes = 4;

// Room for a text of `n` characters: its length is stored, and the returned
// pointer is where the characters go (the terminator is the caller's).
char* counted(char* block, std::size_t n) {
    const auto length = static_cast<std::uint32_t>(n);
    std::memcpy(block, &length, length_bytes);
    return block + length_bytes;
}

std::atomic<std::uint32_t> last_walk_stamp{0};

std::uint64_t hash_name(std::string_view s) {
    std::uint64_t h = 0xcbf29ce484222325ULL ^ s.size();
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
    return h ^ (h >> 29);
}

}  // namespace

chain_marks::chain_marks() : stamp_(++last_walk_stamp) {
    // Stamp 0 marks nothing; after 2^32 walks the count starts over.
    if (stamp_ == 0) stamp_ = ++last_walk_stamp;
}

char* text_arena::allocate(std::size_t n) {
    if (n > left_) {
        std::size_t size = n > arena_block / 4 ? n : arena_block;
        blocks_.push_back(std::make_unique<char[]>(size));
        if (size == arena_block) {
            cursor_ = blocks_.back().get();
            left_ = size;
        } else {
            // A large text gets a block of its own; the current block stays.
            return blocks_.back().get();
        }
    }
    char* p = cursor_;
    cursor_ += n;
    left_ -= n;
    return p;
}

text text_arena::copy(std::string_view s) {
    if (s.empty()) return text{};
    char* p = counted(allocate(length_bytes + s.size() + 1), s.size());
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return text{p};
}

text text_arena::concat(std::string_view a, std::string_view b) {
    std::size_t n = a.size() + b.size();
    if (n == 0) return text{};
    char* p = counted(allocate(length_bytes + n + 1), n);
    std::memcpy(p, a.data(), a.size());
    std::memcpy(p + a.size(), b.data(), b.size());
    p[n] = '\0';
    return text{p};
}

text text_arena::concat(std::string_view a, std::string_view b, std::string_view c) {
    std::size_t n = a.size() + b.size() + c.size();
    if (n == 0) return text{};
    char* p = counted(allocate(length_bytes + n + 1), n);
    std::memcpy(p, a.data(), a.size());
    std::memcpy(p + a.size(), b.data(), b.size());
    std::memcpy(p + a.size() + b.size(), c.data(), c.size());
    p[n] = '\0';
    return text{p};
}

void init_run_context(run_context& run) {
    run.modules = nullptr;
    run.elements = nullptr;
    run.union_members = nullptr;
    run.plugin_ordinal_base = 1000000000;
    run.input_path = nullptr;
    run.error_count = 0;
    run.warning_count = 0;
    run.brace_indent = true;
    run.depth = 0;
    run.column = 0;
    run.tab_count = 0;
    run.pending_comment.clear();
    run.strict_abnf = false;
}

element* new_element(parse_state& ps) {
    element* e = ps.run->element_pool.make();
    const text marker{uninitialised_marker};
    e->name = marker;
    e->c_name = marker;
    e->tag = marker;
    e->qualified_name = marker;
    e->line = ps.line;
    e->module = ps.module;
    if (ps.frame != nullptr && ps.frame->brackets_seen) {
        // Declared after version brackets in its body: an optional extension.
        e->has_cardinality = true;
        e->cardinality_min = 0;
        e->cardinality_max = 1;
        e->cardinality_unbounded = false;
    }
    return e;
}

module_record* new_module_record(run_context& run) { return run.module_pool.make(); }
module_ref* new_module_ref(run_context& run) { return run.module_ref_pool.make(); }
plug_record* new_plug_record(run_context& run) { return run.plug_pool.make(); }
into_entry* new_into_entry(run_context& run) { return run.into_pool.make(); }

namespace {

// The padded key of a short name; a longer name has none.
void make_key(std::string_view name, char* key, std::size_t key_size) {
    std::memset(key, 0, key_size);
    if (name.size() <= key_size) std::memcpy(key, name.data(), name.size());
}

}  // namespace

// The slot holding `name`, or the empty slot where it would go.
std::size_t name_index::position(std::string_view name, const char* key, std::uint32_t hash) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
        const slot& s = slots_[i];
        if (s.e == nullptr) return i;
        if (s.hash != hash || s.length != name.size()) continue;
        if (name.size() <= key_size ? std::memcmp(s.key, key, key_size) == 0
                                    : s.e->name.view() == name) {
            return i;
        }
    }
}

void name_index::build(element* first) {
    std::size_t count = 0;
    for (const element* e = first; e != nullptr; e = e->next) ++count;
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    slots_.assign(size, slot{});
    mask_ = size - 1;
    char key[key_size];
    for (element* e = first; e != nullptr; e = e->next) {
        const std::string_view name = e->name.view();
        make_key(name, key, key_size);
        const auto hash = static_cast<std::uint32_t>(hash_name(name));
        slot& s = slots_[position(name, key, hash)];
        if (s.e != nullptr) continue;  // a later one of the name
        s.e = e;
        s.hash = hash;
        s.length = static_cast<std::uint32_t>(name.size());
        std::memcpy(s.key, key, key_size);
    }
}

element* name_index::find(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    char key[key_size];
    make_key(name, key, key_size);
    return slots_[position(name, key, static_cast<std::uint32_t>(hash_name(name)))].e;
}

element* find_element(const module_record* module, std::string_view path) {
    if (module == nullptr) return nullptr;
    element* chain = module->elements;
    if (path.empty()) return chain;
    std::size_t pos = 0;
    for (;;) {
        std::size_t dot = path.find('.', pos);
        std::string_view name =
            path.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        if (name.size() > max_reference_length) return nullptr;
        element* found = nullptr;
        for (element* e = chain; e != nullptr; e = e->next) {
            if (e->name == name) {
                found = e;
                break;
            }
        }
        if (found == nullptr) return nullptr;
        if (dot == std::string_view::npos) return found;
        chain = found->children;
        pos = dot + 1;
        if (pos == path.size()) return chain;  // a trailing "." names the first member
    }
}

void free_model(run_context& run) {
    run.elements = nullptr;
    run.modules = nullptr;
    run.union_members = nullptr;
    run.element_pool.clear();
    run.module_pool.clear();
    run.module_ref_pool.clear();
    run.plug_pool.clear();
    run.into_pool.clear();
}

}  // namespace qrv
