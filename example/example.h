// Example messages: one valid message of a definition in the text encoding
// that the strict grammar describes, made by a seeded generator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/model.h"

namespace qrv {

// The definition a message is of after a successful post-parse: the root
// (the first definition of the main source file) for an empty name, else
// the first top-level definition of that name in the run's order, or, for
// "module::Name", the one of that module (a module name, or an alias the
// main module imports). Null when there is none.
element* find_message_definition(run_context& run, std::string_view name);

// Writes one example message of `definition`, read as the root of a message
// (a structure's members without braces): every required member, and
// optional members, repetitions, union alternatives and values chosen by
// a generator seeded with `seed`. The same seed gives the same message on
// every machine. Values keep their ranges and sizes. Where the nesting
// grows deep, every choice takes the shortest finite message, so the
// example is finite. One member per line, nested bodies indented.
//
// Returns false, and writes nothing, when the definition has no finite
// message. The model is only read (its walk marks aside).
bool write_example(element& definition, std::uint64_t seed, std::FILE* out);
bool write_example(element& definition, std::uint64_t seed, std::string& out);

}  // namespace qrv
