// The name index of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/records.h"
#include "model/storage.h"
#include "model/text.h"

namespace qrv {

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
    std::vector<slot> slots_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    // How far each chain or list is indexed: the last entry taken in, and
    // the list asked about most recently.
    std::unordered_map<const void*, const void*> progress_;
    const void* recent_list_ = nullptr;
    const void** recent_last_ = nullptr;
};

}  // namespace qrv
