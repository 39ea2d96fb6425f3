// The compatibility check (compat/compat.h): the changes of the structural
// comparison, a witness for each break found by the example writer steered
// to the change and verified by the checker under both versions, and the
// report.
#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "abnf/strict_grammar.h"
#include "compat/changes.h"
#include "compat/compat.h"
#include "messages/checker.h"
#include "messages/example_writer.h"
#include "support/atomic_file.h"
#include "support/file_identity.h"

namespace qrv {

std::string one_line(std::string_view message, std::size_t most) {
    std::string out;
    out.reserve(std::min(message.size(), most));
    for (std::size_t i = 0; i < message.size() && out.size() <= most; ++i) {
        if (message[i] != '\n') {
            out += message[i];
            continue;
        }
        while (i + 1 < message.size() && message[i + 1] == ' ') ++i;
        if (i + 1 < message.size()) out += ' ';
    }
    return out;
}

namespace {

using compat::change;
using compat::verdict;
using compat::witness_hints;

// The shortest witness printed in the report.
constexpr std::size_t printed_witness = 200;

// Values an extension parameter may take that a member may not: one of
// them fails the member of each kind.
constexpr std::string_view odd_values[] = {"%", "[AAAA]", "{}", "'z'", "\"z\"", "z", "0"};

class witness_finder {
public:
    // A definition that find() will be asked for (before the first find).
    void expect(const element& from, bool from_old) {
        per_version& v = from_old ? old_ : new_;
        if (!v.sizes && v.has_sizes.insert(&from).second) v.expected.push_back(&from);
    }

    // Why no message of `from` can be made, or empty: its shortest message
    // is larger than the examples are.
    std::string why_none(const element& from, bool from_old) {
        if (maker_of(from, from_old).status() != example_status::too_large) return {};
        return "the shortest message of " + std::string(from.name().view()) + " is larger than " +
               std::to_string(example_size_limit) + " bytes";
    }

    // A message of `from` (under its version) that `to` rejects; `to` may be
    // null (the definition is gone). Empty when none was found.
    //
    // With `at` (the member path below the definition), the other version
    // must reject it there, at a member around it or in it; else anywhere.
    // `from_old`: `from` is a definition of the old version.
    std::optional<std::string> find(const element& from, bool from_old, const element* to,
                                    const witness_hints& hints,
                                    std::optional<std::string_view> at) {
        const example_maker& maker = maker_of(from, from_old);
        if (maker.status() != example_status::ready) return std::nullopt;
        std::string message;
        const auto try_one = [&](const example_steering* steering, std::uint64_t seed,
                                 std::uint64_t extra) {
            message.clear();
            if (steering != nullptr) {
                maker.write(seed, message, *steering, extra);
            } else {
                maker.write(seed, message, extra);
            }
            return verified(from, to, message, at);
        };
        example_steering steering;
        steering.path = hints.path;
        steering.count = hints.count;
        steering.integer = hints.integer;
        steering.length = hints.length;
        if (try_one(&steering, 0, 0)) return best(from, to, message);
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            if (try_one(&steering, seed, 256)) return best(from, to, message);
        }
        if (!hints.extension_tag.empty()) {
            example_steering beside;
            beside.path = hints.path;
            if (hints.extension_in != nullptr) {
                // The members up to the body that gets the parameter.
                auto at = std::find(beside.path.begin(), beside.path.end(), hints.extension_in);
                if (at != beside.path.end()) beside.path.erase(at + 1, beside.path.end());
            } else {
                beside.path.clear();
            }
            beside.extension_in = hints.extension_in != nullptr ? hints.extension_in : &from;
            for (std::string_view v : odd_values) {
                beside.extension = hints.extension_tag + " = " + std::string(v);
                if (try_one(&beside, 0, 0)) return best(from, to, message);
            }
        }
        if (try_one(nullptr, 0, 0)) return best(from, to, message);
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            if (try_one(nullptr, seed, 256)) return best(from, to, message);
        }
        return std::nullopt;
    }

    // Whether `message` is accepted as a message of `from` and rejected by
    // `to` (or `to` is gone).
    static bool verified(const element& from, const element* to, std::string_view message,
                         std::optional<std::string_view> at = std::nullopt) {
        if (check_message(from, message).verdict != check_verdict::valid) return false;
        if (to == nullptr) return true;
        const check_result r = check_message(*to, message);
        if (r.verdict != check_verdict::invalid) return false;
        return !at || near(*at, r.error.path);
    }

    // Whether an error's path (items[2].qty) is the member path `at`
    // (items.qty), or one of them lies within the other.
    static bool near(std::string_view at, std::string_view error) {
        std::string plain;
        for (std::size_t i = 0; i < error.size(); ++i) {
            if (error[i] == '[') {
                while (i < error.size() && error[i] != ']') ++i;
                continue;
            }
            plain += error[i];
        }
        const auto within = [](std::string_view inner, std::string_view outer) {
            return outer.empty() || inner == outer ||
                   (inner.size() > outer.size() && inner.starts_with(outer) &&
                    inner[outer.size()] == '.');
        };
        return within(plain, at) || within(at, plain);
    }

private:
    // The message on one line when that is a witness too.
    // The witness on one line where it is short enough to be printed
    // (and still a witness); a longer one is only written to a file, as
    // it was made, without checking a second form of it.
    static std::string best(const element& from, const element* to, const std::string& message) {
        std::string line = one_line(message, printed_witness + 2);
        if (line != message && line.size() <= printed_witness + 1 && verified(from, to, line)) {
            return line;
        }
        return message;
    }

    // The maker of a definition. The shortest values of the bodies are
    // worked out once per version, for every definition expected: a maker
    // of its own for each would walk all that its definition reaches again,
    // and the definitions of a large schema reach much of it.
    const example_maker& maker_of(const element& definition, bool from_old) {
        auto& slot = makers_[&definition];
        if (slot) return *slot;
        per_version& v = from_old ? old_ : new_;
        if (!v.sizes && !v.expected.empty()) v.sizes = example_maker::sizes_of(v.expected);
        if (v.sizes && v.has_sizes.count(&definition) != 0) {
            slot = std::make_unique<example_maker>(definition, v.sizes);
        } else {
            slot = std::make_unique<example_maker>(definition);
        }
        return *slot;
    }

    struct per_version {
        std::vector<const element*> expected;
        std::unordered_set<const element*> has_sizes;
        std::shared_ptr<const example_maker::sizes> sizes;
    };

    per_version old_;
    per_version new_;
    std::unordered_map<const element*, std::unique_ptr<example_maker>> makers_;
};

const char* direction_word(bool backward) { return backward ? "backward" : "forward"; }

// A file name of a definition's name: its letters, digits, '-' and '_'.
std::string file_stem(std::string_view name) {
    std::string s;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_';
        s += plain ? c : '_';
    }
    return s;
}

class reporter {
public:
    reporter(const run_context& old_run, const run_context& new_run, diagnostics& diag,
             const compat_settings& settings)
        : old_run_(old_run), new_run_(new_run), diag_(diag), settings_(settings) {}

    int run(const std::vector<change>& changes) {
        const bool backward = settings_.mode != compat_mode::forward;
        const bool forward = settings_.mode != compat_mode::backward;
        for (const change& c : changes) {
            if (backward && c.backward != verdict::keeps && c.old_definition != nullptr) {
                witnesses_.expect(*c.old_definition, true);
            }
            if (forward && c.forward != verdict::keeps && c.new_definition != nullptr) {
                witnesses_.expect(*c.new_definition, false);
            }
        }
        for (const change& c : changes) {
            bool broke = false;
            if (backward) broke |= direction(c, true);
            if (forward) broke |= direction(c, false);
            if (!broke) {
                ++compatible_;
                if (settings_.list_compatible) list(c);
            }
        }
        note(diag_, "%zu breaking change(s), %zu compatible change(s)\n", breaks_, compatible_);
        return failed_ ? 1 : 0;
    }

private:
    // The change in one direction; true when it is a break there (or may
    // be one).
    bool direction(const change& c, bool backward) {
        const verdict v = backward ? c.backward : c.forward;
        if (v == verdict::keeps) return false;
        const element* from = backward ? c.old_definition : c.new_definition;
        const element* to = backward ? c.new_definition : c.old_definition;
        if (from == nullptr) return false;  // no message of a definition that is not there
        const witness_hints& hints = backward ? c.old_hints : c.new_hints;
        // A change that may keep the messages is shown only by a message
        // rejected at its place; one that loses them by any the other
        // version rejects, first at its place.
        const std::size_t dot = c.path.find('.');
        const std::string_view below = dot == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(c.path).substr(dot + 1);
        std::optional<std::string> witness = witnesses_.find(*from, backward, to, hints, below);
        if (!witness && v == verdict::loses)
            witness = witnesses_.find(*from, backward, to, hints, std::nullopt);
        // A message too large to make shows nothing either way.
        const std::string too_large =
            witness ? std::string() : witnesses_.why_none(*from, backward);
        if (!witness && v == verdict::loses && !too_large.empty()) {
            ++breaks_;
            failed_ = true;
            report(c, SEV_ERROR,
                   c.path + ": " + c.words + ": breaks " + direction_word(backward) +
                       " compatibility; no witness: " + too_large);
            return true;
        }
        if (!witness) {
            if (v == verdict::depends) {
                ++breaks_;
                if (!settings_.undecided_ok) failed_ = true;
                report(c, settings_.undecided_ok ? SEV_WARNING : SEV_ERROR,
                       c.path + ": cannot decide: " + c.words + " (" + direction_word(backward) +
                           "): " +
                           (too_large.empty()
                                ? "no message of one version found that the other rejects"
                                : too_large));
                return true;
            }
            // The structure says it breaks, but no message shows it: a fault
            // of this tool, never reported as a break.
            ++breaks_;
            failed_ = true;
            report(c, SEV_ERROR,
                   c.path + ": internal error: no verified witness of a " +
                       direction_word(backward) + " break: " + c.words);
            return true;
        }
        ++breaks_;
        failed_ = true;
        std::string text =
            c.path + ": " + c.words + ": breaks " + direction_word(backward) + " compatibility";
        text += witness_text(*from, *witness);
        report(c, SEV_ERROR, text);
        return true;
    }

    std::string witness_text(const element& from, const std::string& witness) {
        std::string text;
        if (!settings_.witness_dir.empty()) {
            const std::string name =
                std::to_string(++written_) + "-" + file_stem(from.name().view()) + ".msg";
            const std::string path = settings_.witness_dir + "/" + name;
            atomic_file file;
            if (is_input(path)) {
                error_note(diag_, "error: A witness would replace a source file: %s\n",
                           path.c_str());
                failed_ = true;
            } else if (!file.open(path.c_str()) ||
                       std::fwrite(witness.data(), 1, witness.size(), file.stream()) !=
                           witness.size() ||
                       !file.commit()) {
                file.abandon();
                error_note(diag_, "error: Unable to write file: %s\n", path.c_str());
                failed_ = true;
            } else {
                text += "; witness " + name;
            }
        }
        const bool one =
            witness.find('\n') == std::string::npos || witness.find('\n') == witness.size() - 1;
        std::string_view shown(witness);
        if (!shown.empty() && shown.back() == '\n') shown.remove_suffix(1);
        if (one && shown.size() <= printed_witness) {
            text += text.empty() ? "; witness: " : ": ";
            text += shown;
        } else if (text.empty()) {
            text += "; witness of " + std::to_string(witness.size()) +
                    " bytes (--witness-dir writes it)";
        }
        return text;
    }

    bool is_input(const std::string& path) {
        if (inputs_.empty()) {
            for (const std::string& s : settings_.inputs) {
                inputs_.push_back(identify_file(s.c_str()));
                inputs_.push_back(identify_file((s + "cfg").c_str()));
            }
        }
        const file_identity target = identify_file(path.c_str());
        for (const file_identity& i : inputs_) {
            if (same_file(i, target)) return true;
        }
        return false;
    }

    void report(const change& c, int sev, const std::string& text) {
        const run_context& run = c.place_in_old ? old_run_ : new_run_;
        const source_place place = place_of(run, diag_, *c.place, c.place->name().view());
        report_place(diag_, place, sev, text);
    }

    void list(const change& c) {
        const run_context& run = c.place_in_old ? old_run_ : new_run_;
        const source_place place = place_of(run, diag_, *c.place, c.place->name().view());
        note(diag_, "%s(%lld) : compatible: %s: %s\n", place.file != nullptr ? place.file : "",
             static_cast<long long>(place.line), c.path.c_str(), c.words.c_str());
    }

    const run_context& old_run_;
    const run_context& new_run_;
    diagnostics& diag_;
    const compat_settings& settings_;
    witness_finder witnesses_;
    std::vector<file_identity> inputs_;
    std::size_t breaks_ = 0;
    std::size_t compatible_ = 0;
    std::size_t written_ = 0;
    bool failed_ = false;
};

}  // namespace

int compare_versions(const run_context& old_run, const run_context& new_run, diagnostics& diag,
                     const compat_settings& settings) {
    // Messages are read in the language of the strict grammar, which exists
    // only for definitions that pass its checks.
    const bool old_fails = check_strict_grammar(old_run, diag) > 0;
    const bool new_fails = check_strict_grammar(new_run, diag) > 0;
    if (old_fails || new_fails) {
        error_note(diag, "error: The definitions fail the strict checks: no comparison made\n");
        return 1;
    }
    const element* only = nullptr;
    if (!settings.type.empty()) {
        only = find_message_type(old_run, settings.type);
        if (only == nullptr) {
            error_note(diag, "error: No top-level definition named %s in the old version\n",
                       settings.type.c_str());
            return 1;
        }
    }
    const std::vector<change> changes = compat::find_changes(old_run, new_run, only);
    reporter r(old_run, new_run, diag, settings);
    return r.run(changes);
}

}  // namespace qrv
