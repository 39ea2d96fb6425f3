// What a documentation run keeps beside the model: the comments written
// before each declaration, the leading text of each source file, and what
// resolution and plugging would otherwise leave no trace of (the target of
// a reference to a simple definition, the original of a plugged copy).
//
// A run has a table only when its back end asks for one before the sources
// are read (run_context::docs); every other run keeps nothing, so the
// records and the passes do not change for it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qrv {

struct element;
struct module_record;

struct doc_notes {
    // The comment block directly before an element's declaration, by the
    // element's id, without its comment marks.
    std::unordered_map<std::uint32_t, std::string> comments;
    // The text before the marker line of each source file read, by path, in
    // the order the files were read.
    std::vector<std::pair<std::string, std::string>> file_texts;
    // Members declared after version brackets in their body, by id.
    std::unordered_set<std::uint32_t> extensions;
    // What each resolved reference names (the definition its name finds,
    // which may itself stand for another), by the reference's id, and the
    // module it was declared in.
    struct resolved {
        const element* target = nullptr;
        const module_record* declared_in = nullptr;
    };
    std::unordered_map<std::uint32_t, resolved> references;
    // The element each plugged copy was made from, by the copy's id.
    std::unordered_map<std::uint32_t, const element*> copied_from;
};

}  // namespace qrv
