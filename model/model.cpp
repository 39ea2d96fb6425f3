#include "model/model.h"

#include <cstring>
#include <new>

namespace qrv {

namespace {

constexpr std::size_t header_bytes = 8;  // hash and length

}  // namespace

std::size_t text_table::probe(std::string_view s, std::uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = slot_of(hash, mask);
    for (; slots_[i].place != 0; i = (i + 1) & mask) {
        const slot& t = slots_[i];
        if (t.hash == hash && text{chars_of(t)}.view() == s) break;
    }
    return i;
}

text text_table::find(std::string_view s) const {
    if (s.empty() || slots_.empty()) return text{};
    const slot& t = slots_[probe(s, text_hash(s))];
    return t.place == 0 ? text{} : text{chars_of(t)};
}

text text_table::intern(std::string_view s, std::uint32_t hash) {
    if (s.empty()) return text{};
    if (2 * (used_ + 1) > slots_.size()) grow();
    slot& t = slots_[probe(s, hash)];
    if (t.place != 0) return text{chars_of(t)};
    char* block = static_cast<char*>(storage_.allocate_text(header_bytes + s.size() + 1));
    const auto length = static_cast<std::uint32_t>(s.size());
    std::memcpy(block, &hash, 4);
    std::memcpy(block + 4, &length, 4);
    char* chars = block + header_bytes;
    std::memcpy(chars, s.data(), s.size());
    chars[s.size()] = '\0';
    t = slot{storage_.place_of(block), hash};
    ++used_;
    return text{chars};
}

void text_table::grow() {
    std::vector<slot> old = std::move(slots_);
    const std::size_t size = old.empty() ? 1024 : old.size() * 2;
    slots_.assign(size, slot{});
    const std::size_t mask = size - 1;
    for (const slot& t : old) {
        if (t.place == 0) continue;
        std::size_t i = slot_of(t.hash, mask);
        while (slots_[i].place != 0) i = (i + 1) & mask;
        slots_[i] = t;
    }
}

text text_table::concat(std::string_view a, std::string_view b) {
    scratch_.assign(a);
    scratch_.append(b);
    return copy(scratch_);
}

text text_table::concat(std::string_view a, std::string_view b, std::string_view c) {
    scratch_.assign(a);
    scratch_.append(b);
    scratch_.append(c);
    return copy(scratch_);
}

void text_table::clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    used_ = 0;
}

void init_run_context(run_context& run) {
    run.modules = nullptr;
    run.last_module = nullptr;
    run.last_module_of = nullptr;
    run.elements = nullptr;
    run.union_members.clear();
    run.plugin_ordinal_base = 1000000000;
    run.element_count = 0;
    run.input_path = nullptr;
}

element* allocate_element(run_context& run) {
    // Ids are 32 bits: more elements than that do not fit in memory anyway.
    if (run.element_count == UINT32_MAX) throw std::bad_alloc();
    element* e = run.storage.make<element>();
    e->id = run.element_count++;
    return e;
}

text marker_text(run_context& run) {
    if (run.marker.empty()) run.marker = run.texts.copy(text{uninitialised_marker}.view());
    return run.marker;
}

element* copy_element(run_context& run, const element& original) {
    element* c = allocate_element(run);
    static_cast<element_values&>(*c) = original;
    // The references are distances from where they are kept: each is set
    // anew.
    c->set_name(original.name());
    c->set_c_name(original.c_name());
    c->set_tag(original.tag());
    c->set_link(original.link());
    c->set_const_value(original.const_value());
    c->set_children(original.children());
    c->set_next(original.next());
    c->set_module(original.module());
    if (run.docs != nullptr) run.docs->copied_from[c->id] = &original;
    return c;
}

module_record* new_module_record(run_context& run) { return run.storage.make<module_record>(); }
module_ref* new_module_ref(run_context& run) { return run.storage.make<module_ref>(); }
plug_record* new_plug_record(run_context& run) { return run.storage.make<plug_record>(); }
into_entry* new_into_entry(run_context& run) { return run.storage.make<into_entry>(); }

namespace {

text name_of(const element* e) { return e->name(); }
text name_of(const module_record* m) { return m->name; }
text name_of(const module_ref* r) { return r->alias; }

const element* next_of(const element* e) { return e->next(); }
const module_record* next_of(const module_record* m) { return m->next; }
const module_ref* next_of(const module_ref* r) { return r->next; }

}  // namespace

void name_index::grow(std::size_t entries) {
    std::size_t size = slots_.empty() ? 256 : slots_.size();
    while (2 * entries > size) size *= 2;
    if (size == slots_.size()) return;
    std::vector<slot> old = std::move(slots_);
    slots_.assign(size, slot{});
    mask_ = size - 1;
    for (const slot& s : old) {
        if (s.entry == 0) continue;
        std::size_t i = home(s.list, s.name);
        while (slots_[i].entry != 0) i = (i + 1) & mask_;
        slots_[i] = s;
    }
}

void name_index::insert(std::uint32_t list, std::uint32_t entry, std::uint32_t name) {
    if (2 * (used_ + 1) > slots_.size()) grow(used_ + 1);
    std::size_t i = home(list, name);
    while (slots_[i].entry != 0) i = (i + 1) & mask_;
    slots_[i] = slot{list, entry, name};
    ++used_;
}

const void* name_index::probe(std::uint32_t list, std::uint32_t name) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = home(list, name);; i = (i + 1) & mask_) {
        const slot& s = slots_[i];
        if (s.entry == 0) return nullptr;
        if (s.list == list && s.name == name) return storage_.at_place(s.entry);
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
    const T* first = last == nullptr ? list : next_of(last);
    if (first == nullptr) return;
    // Room for all of them at once, so that the table grows once.
    std::size_t count = 0;
    for (const T* e = first; e != nullptr; e = next_of(e)) ++count;
    grow(used_ + count);
    const std::uint32_t place = storage_.place_of(list);
    for (const T* e = first; e != nullptr; e = next_of(e)) {
        const std::uint32_t name = key_of(name_of(e));
        if (probe(place, name) == nullptr) insert(place, storage_.place_of(e), name);
        last = e;
    }
    *recent_last_ = last;
}

template <class T>
const T* name_index::find_in(const T* list, text name) {
    if (list == nullptr) return nullptr;
    take_in(list);
    return static_cast<const T*>(probe(storage_.place_of(list), key_of(name)));
}

// The text with the characters of `name`; false when no text of the run has
// them (then they name nothing).
bool name_index::known_text(std::string_view name, text* known) const {
    *known = texts_.find(name);
    return name.empty() || !known->empty();
}

template <class T>
const T* name_index::find_in(const T* list, std::string_view name) {
    text known;
    return known_text(name, &known) ? find_in(list, known) : nullptr;
}

element* name_index::find(const element* chain, text name) {
    return const_cast<element*>(find_in(chain, name));
}

element* name_index::find(const element* chain, std::string_view name) {
    return const_cast<element*>(find_in(chain, name));
}

void name_index::take_in_chain(const element* chain) {
    if (chain != nullptr) take_in(chain);
}

element* name_index::find_taken(const element* chain, text name) const {
    if (chain == nullptr) return nullptr;
    return static_cast<element*>(const_cast<void*>(probe(storage_.place_of(chain), key_of(name))));
}

element* name_index::find_taken(const element* chain, std::string_view name) const {
    text known;
    return known_text(name, &known) ? find_taken(chain, known) : nullptr;
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
        chain = found->children();
        pos = dot + 1;
        if (pos == path.size()) return chain;  // a trailing "." names the first member
    }
}

void free_model(run_context& run) {
    run.elements = nullptr;
    run.modules = nullptr;
    run.last_module = nullptr;
    run.last_module_of = nullptr;
    run.union_members.clear();
    run.names.clear();
    run.element_count = 0;
    run.marker = text{};
    run.module_line_offsets.clear();
    run.missing_modules_reported.clear();
    run.declared_in.clear();
    run.texts.clear();
    run.storage.release();
}

}  // namespace qrv

namespace qrv {

std::int64_t file_line(const run_context& run, const diagnostics& diag, const module_record* m,
                       std::int64_t line) {
    if (!diag.file_positions || m == nullptr || line <= 0) return line;
    const auto found = run.module_line_offsets.find(m);
    return found == run.module_line_offsets.end() ? line : found->second + line;
}

std::vector<const module_record*> declaring_modules(const run_context& run) {
    std::vector<const module_record*> out;
    module_record* m = run.modules;
    for (const element* e = run.elements; e != nullptr; e = e->next()) {
        while (m != nullptr && m->next != nullptr && m->next->elements == e) m = m->next;
        out.push_back(m != nullptr ? m : e->module());
    }
    return out;
}

source_place place_in_module(const run_context& run, const diagnostics& diag,
                             const module_record* m, std::int64_t line, std::string_view token) {
    source_place place;
    place.file = m != nullptr ? m->path.c_str() : nullptr;
    place.line = file_line(run, diag, m, line);
    place.token = token;
    return place;
}

source_place place_of(const run_context& run, const diagnostics& diag, const element& e,
                      std::string_view token, const char* file) {
    const module_record* m = e.module();
    if (diag.file_positions) {
        const auto declared = run.declared_in.find(&e);
        if (declared != run.declared_in.end()) m = declared->second;
    }
    source_place place = place_in_module(run, diag, m, e.line(), token);
    // The caller's file as it always was, unless the element's own place
    // is asked for.
    if (file != nullptr && !(diag.file_positions && m != nullptr)) place.file = file;
    return place;
}

}  // namespace qrv
