// The most common statements of a body as one pass over the source finds
// them, before anything is made of them: a member of a simple or referenced
// type with an optional decimal range, its name, an optional cardinality
// and the `;`, or the start of a structure, union or combination. Internal
// to the front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "frontend/parse_state.h"

namespace qrv {

// Names and links lie in the bytes scanned, as offsets from their start.
struct plain_statement {
    std::uint32_t start = 0;         // where the pass began (before blanks)
    std::uint32_t end = 0;           // after the `;` or the `{`
    std::uint32_t lines_before = 0;  // line feeds before the type word
    std::uint32_t lines = 0;         // line feeds up to `end`
    std::uint32_t link_offset = 0;
    std::uint32_t name_offset = 0;
    std::uint32_t link_hash = 0;
    std::uint32_t name_hash = 0;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    std::uint32_t cardinality_min = 0;
    std::uint32_t cardinality_max = 0;
    element_kind kind = ET_LINK;
    std::uint8_t link_size = 0;  // at most max_reference_length
    std::uint8_t name_size = 0;  // at most max_name_length
    bool constrained : 1 = false;
    bool min_negative : 1 = false;
    bool max_negative : 1 = false;
    bool name_dash : 1 = false;
    bool opens_body : 1 = false;  // a structure, union or combination: `{` was read
    bool has_cardinality : 1 = false;
    bool unbounded : 1 = false;

    std::string_view link(const unsigned char* block) const {
        return {reinterpret_cast<const char*>(block) + link_offset, link_size};
    }
    std::string_view name(const unsigned char* block) const {
        return {reinterpret_cast<const char*>(block) + name_offset, name_size};
    }
};

// The plain statement that begins at `pos` of the block's `size` bytes;
// false when there is none there: a comment, a tag, a keyword other than
// the types above, a number in another form, a statement that would be
// reported, or the end of the block before the statement's end. Reads
// nothing but the block.
bool scan_plain_statement(const unsigned char* block, std::size_t size, std::size_t pos,
                          plain_statement& out);

}  // namespace qrv
