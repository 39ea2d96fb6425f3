#include "model/model.h"

#include <cstring>
#include <new>

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

std::uint64_t hash_name(std::string_view s) {
    std::uint64_t h = 0xcbf29ce484222325ULL ^ s.size();
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
    return h ^ (h >> 29);
}

}  // namespace

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
    run.element_count = 0;
    run.input_path = nullptr;
    run.error_count = 0;
    run.warning_count = 0;
    run.output = nullptr;
    run.strict_abnf = false;
}

namespace {

element* allocate_element(run_context& run) {
    // Ids are 32 bits: more elements than that do not fit in memory anyway.
    if (run.element_count == UINT32_MAX) throw std::bad_alloc();
    element* e = run.element_pool.make();
    e->id = run.element_count++;
    return e;
}

}  // namespace

element* copy_element(run_context& run, const element& original) {
    element* c = allocate_element(run);
    const std::uint32_t id = c->id;
    *c = original;
    c->id = id;
    return c;
}

element* new_element(parse_state& ps) {
    element* e = allocate_element(*ps.run);
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

std::string_view name_of(const element* e) { return e->name.view(); }
std::string_view name_of(const module_record* m) { return m->name.view(); }
std::string_view name_of(const module_ref* r) { return r->alias.view(); }

}  // namespace

std::size_t name_index::home(const void* list, std::uint32_t hash) const {
    const auto place = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(list));
    return (hash ^ static_cast<std::size_t>((place >> 4) * 0x9e3779b97f4a7c15ULL >> 32)) & mask_;
}

void name_index::grow() {
    std::vector<slot> old = std::move(slots_);
    const std::size_t size = old.empty() ? 256 : old.size() * 2;
    slots_.assign(size, slot{});
    mask_ = size - 1;
    for (const slot& s : old) {
        if (s.entry == nullptr) continue;
        std::size_t i = home(s.list, s.hash);
        while (slots_[i].entry != nullptr) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

void name_index::insert(const void* list, const void* entry, std::uint32_t hash,
                        std::string_view name) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    std::size_t i = home(list, hash);
    while (slots_[i].entry != nullptr) i = (i + 1) & mask_;
    slot& s = slots_[i];
    s.list = list;
    s.entry = entry;
    s.hash = hash;
    s.length = static_cast<std::uint32_t>(name.size());
    std::memcpy(s.head, name.data(), name.size() < inline_chars ? name.size() : inline_chars);
    ++used_;
}

template <class T>
const T* name_index::probe(const T* list, std::string_view name, std::uint32_t hash) const {
    if (slots_.empty()) return nullptr;
    const std::size_t head = name.size() < inline_chars ? name.size() : inline_chars;
    for (std::size_t i = home(list, hash);; i = (i + 1) & mask_) {
        const slot& s = slots_[i];
        if (s.entry == nullptr) return nullptr;
        if (s.hash != hash || s.list != list || s.length != name.size()) continue;
        if (std::memcmp(s.head, name.data(), head) != 0) continue;
        const T* entry = static_cast<const T*>(s.entry);
        // A longer name is told apart by the rest of its characters.
        if (name.size() <= inline_chars || name_of(entry) == name) return entry;
    }
}

// Indexes the entries of `list` not taken in yet; the first of a name stays.
template <class T>
void name_index::take_in(const T* list) {
    if (recent_list_ != list) {
        recent_last_ = &progress_.try_emplace(list, nullptr).first->second;
        recent_list_ = list;
    }
    const T* last = static_cast<const T*>(*recent_last_);
    const T* e = last == nullptr ? list : last->next;
    for (; e != nullptr; e = e->next) {
        const std::string_view name = name_of(e);
        const auto hash = static_cast<std::uint32_t>(hash_name(name));
        if (probe(list, name, hash) == nullptr) insert(list, e, hash, name);
        last = e;
    }
    *recent_last_ = last;
}

template <class T>
const T* name_index::find_in(const T* list, std::string_view name) {
    if (list == nullptr) return nullptr;
    take_in(list);
    return probe(list, name, static_cast<std::uint32_t>(hash_name(name)));
}

element* name_index::find(const element* chain, std::string_view name) {
    return const_cast<element*>(find_in(chain, name));
}

module_record* name_index::find_module(const module_record* modules, std::string_view name) {
    return const_cast<module_record*>(find_in(modules, name));
}

bool name_index::find_alias(const module_ref* aliases, std::string_view alias,
                            std::string_view* target) {
    const module_ref* r = find_in(aliases, alias);
    if (r == nullptr) return false;
    *target = r->module_name.view();
    return true;
}

void name_index::clear() {
    slots_.clear();
    mask_ = 0;
    used_ = 0;
    progress_.clear();
    recent_list_ = nullptr;
    recent_last_ = nullptr;
}

element* find_element(run_context& run, const module_record* module, std::string_view path) {
    // A path longer than a reference could hold names nothing.
    if (module == nullptr || path.size() > max_reference_length) return nullptr;
    element* chain = module->elements;
    if (path.empty()) return chain;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t dot = path.find('.', pos);
        const std::string_view name =
            path.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        element* found = run.names.find(chain, name);
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
    run.names.clear();
    run.element_count = 0;
    run.element_pool.clear();
    run.module_pool.clear();
    run.module_ref_pool.clear();
    run.plug_pool.clear();
    run.into_pool.clear();
}

}  // namespace qrv
