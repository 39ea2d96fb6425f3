// Example messages: one valid message of a definition in the text encoding
// that the strict grammar describes, made by a seeded generator.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "model/model.h"

namespace qrv {

// Writes one example message of `definition`, read as the root of a message
// (a structure's members without braces): every required member, and
// optional members, repetitions, union alternatives and values chosen by
// a generator seeded with `seed`. The same seed gives the same message on
// every machine. Values keep their ranges and sizes. Where the nesting
// grows deep, every choice takes the shortest finite message, so the
// example is finite. One member per line, nested bodies indented.
//
// Returns false, and writes nothing, when the definition has no finite
// message. The model is only read (its walk marks aside). `definition` is
// a top-level element of a run whose post-parse succeeded and whose strict
// checks found nothing (find_message_type gives it by name).
bool write_example(const element& definition, std::uint64_t seed, std::FILE* out);
bool write_example(const element& definition, std::uint64_t seed, std::string& out);

}  // namespace qrv
