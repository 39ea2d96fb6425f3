// Example messages: one valid message of a definition in the text encoding
// that the strict grammar describes, made by a seeded generator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/model.h"

namespace qrv {

// An example is the shortest message of its definition and what the seed's
// choices add to it: at most this many bytes.
inline constexpr std::uint64_t example_extra_bytes = 64 * 1024;
// A definition whose shortest message is larger than this gets no example.
inline constexpr std::uint64_t example_size_limit = 16 * 1024 * 1024;

enum class example_status {
    ready,              // an example can be written, or was
    no_finite_message,  // the definition contains itself through required members
    too_large,          // the shortest message is larger than example_size_limit
    write_failed,       // the output refused a write: writing stopped there
};

// The examples of `definition`, read as the root of a message (a
// structure's members without braces).
//
// The shortest message takes every choice at its least: no optional member,
// every count at its least, in a union the alternative with the shortest
// value (an extension parameter where none is shorter than the limit), and
// every value in its shortest form; laid out as every example is, one member
// a line, nested bodies indented. Its size in bytes is known before
// anything is written. An example adds the seed's choices (optional members,
// counts a little above the least, other alternatives, values of other
// lengths) as long as they fit in `extra` bytes beyond the shortest message,
// so that it never holds more than shortest_size() + extra bytes. The same
// seed gives the same message on every machine.
//
// `definition` is a top-level element of a run whose post-parse succeeded
// and whose strict checks found nothing (find_message_type gives it by
// name). The model is only read.
// An example steered to show one place of a definition: each member on
// `path` (the root's member first, each later one a member of the one
// before) stands at least once, a union on it takes the alternative on it,
// and the last one takes the count and value asked for, whatever the seed
// and the budget say. `extension_in` (the root definition or a member on
// the path, a structure or a union) gets the text `extension` as an
// extension parameter: after a structure's members, or as a union's value.
// The elements are those of the example's own run.
struct example_steering {
    std::vector<const element*> path;
    std::optional<std::uint64_t> count;   // occurrences of the last member
    std::optional<std::int64_t> integer;  // its value, an integer
    std::optional<std::uint64_t> length;  // its length: characters, or bytes of Base64 data
    const element* extension_in = nullptr;
    std::string extension;
};

class example_maker {
public:
    explicit example_maker(const element& definition);

    class sizes;
    // The first pass of many makers of one run, done once: the shortest
    // value of every body the definitions reach (each body's own, whatever
    // the root). A maker given it works out only its definition's message.
    static std::shared_ptr<const sizes> sizes_of(const std::vector<const element*>& definitions);
    example_maker(const element& definition, std::shared_ptr<const sizes> shared);

    ~example_maker();
    example_maker(const example_maker&) = delete;
    example_maker& operator=(const example_maker&) = delete;

    // ready, no_finite_message or too_large.
    example_status status() const { return status_; }
    // The bytes of the shortest message; above example_size_limit when it is
    // too large (the exact figure is not worked out then).
    std::uint64_t shortest_size() const { return shortest_size_; }

    // Writes the example of `seed`; `extra` 0 writes the shortest message.
    // Nothing is written unless the status is ready. Returns write_failed
    // at the first write the stream refuses, after which nothing more is
    // written.
    example_status write(std::uint64_t seed, std::FILE* out,
                         std::uint64_t extra = example_extra_bytes) const;
    example_status write(std::uint64_t seed, std::string& out,
                         std::uint64_t extra = example_extra_bytes) const;
    // The example of `seed` steered by `steering`. What it asks for is
    // written as asked, so the message may not be valid: the caller checks it.
    example_status write(std::uint64_t seed, std::string& out, const example_steering& steering,
                         std::uint64_t extra = example_extra_bytes) const;

private:
    void judge();

    const element& definition_;
    std::shared_ptr<const sizes> sizes_;
    example_status status_ = example_status::ready;
    std::uint64_t shortest_size_ = 0;
};

// The example of `seed` appended to `out`; false, and nothing written, when
// the definition has no example.
bool write_example(const element& definition, std::uint64_t seed, std::string& out);

}  // namespace qrv
