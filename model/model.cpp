#include "model/model.h"

#include <cstring>

namespace qrv {

namespace {

constexpr std::size_t arena_block = 64 * 1024;

text as_text(const char* p, std::size_t n) {
    return text{p, static_cast<std::uint32_t>(n)};
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
    char* p = allocate(s.size() + 1);
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return as_text(p, s.size());
}

text text_arena::concat(std::string_view a, std::string_view b) {
    std::size_t n = a.size() + b.size();
    if (n == 0) return text{};
    char* p = allocate(n + 1);
    std::memcpy(p, a.data(), a.size());
    std::memcpy(p + a.size(), b.data(), b.size());
    p[n] = '\0';
    return as_text(p, n);
}

text text_arena::concat(std::string_view a, std::string_view b, std::string_view c) {
    std::size_t n = a.size() + b.size() + c.size();
    if (n == 0) return text{};
    char* p = allocate(n + 1);
    std::memcpy(p, a.data(), a.size());
    std::memcpy(p + a.size(), b.data(), b.size());
    std::memcpy(p + a.size() + b.size(), c.data(), c.size());
    p[n] = '\0';
    return as_text(p, n);
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
}

element* new_element(parse_state& ps) {
    element* e = ps.run->element_pool.make();
    const text marker = as_text(uninitialised_marker, std::strlen(uninitialised_marker));
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
    }
    return e;
}

module_record* new_module_record(run_context& run) { return run.module_pool.make(); }
module_ref* new_module_ref(run_context& run) { return run.module_ref_pool.make(); }
plug_record* new_plug_record(run_context& run) { return run.plug_pool.make(); }
into_entry* new_into_entry(run_context& run) { return run.into_pool.make(); }

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
