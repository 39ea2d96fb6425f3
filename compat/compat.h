// The compatibility check between two versions of the definitions: for
// each definition T, L_old(T) and L_new(T) are the messages the checker
// accepts under each version. Backward compatible: every old message is a
// new one; forward: every new message is an old one; full: both. Each
// break is shown by a witness, a message made by the example writer that
// the checker accepts under one version and rejects under the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

enum class compat_mode : std::uint8_t { backward, forward, full };

struct compat_settings {
    compat_mode mode = compat_mode::backward;
    std::string type;           // only what this definition of the old version reaches; empty: all
    std::string witness_dir;    // where each witness is written as <n>-<definition>.msg, or empty
    bool undecided_ok = false;  // a change it cannot decide is not a break
    bool list_compatible = false;  // the compatible changes are listed as notes
    // The files the versions were read from: no witness is written over one.
    std::vector<std::string> inputs;
};

// Compares two versions after a successful post-parse of each: the strict
// checks of both, the changes, a verified witness for each break, one
// diagnostic per break (at the new version's place; the old one's for a
// definition removed) and the summary "N breaking change(s), M compatible
// change(s)". Returns 1 when a break of the asked direction was found (or
// a change it cannot decide, unless that is ok), else 0.
int compare_versions(const run_context& old_run, const run_context& new_run, diagnostics& diag,
                     const compat_settings& settings);

// The text of a message as one line: the line breaks and indentation the
// example writer puts between members become one blank. Past `most` bytes
// the line is cut: what is longer is not shown anyway.
std::string one_line(std::string_view message, std::size_t most = std::string::npos);

}  // namespace qrv
