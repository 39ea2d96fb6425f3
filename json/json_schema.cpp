// The JSON Schema (draft 2020-12) of the JSON form of messages: one entry
// under $defs per top-level definition, members that stand for a
// definition by reference to its entry, and each simple value's schema from
// its form (json_schema_<form>). What the schema cannot say is said in a
// $comment.
#include <unordered_map>

#include "encoding/encoding.h"
#include "json/json_bridge.h"
#include "json/json_text.h"
#include "json/json_values.h"

namespace qrv {

namespace {

class schema_writer {
public:
    schema_writer(const run_context& run, bool closed, std::string& out)
        : closed_(closed), out_(out) {
        // The first definition of a name keeps it; a later one (of another
        // module) is told apart by a number.
        std::unordered_map<std::string, int> seen;
        for (const element* e = run.elements; e != nullptr; e = e->next()) {
            std::string key(e->name().view());
            if (const int n = seen[key]++; n > 0) {
                key += '~';
                key += std::to_string(n + 1);
            }
            defs_.push_back({e, key});
            if (has_body_kind(*e) && e->children() != nullptr)
                bodies_.try_emplace(e->children(), key);
        }
    }

    void write(const element& type) {
        out_ += "{\"$schema\":\"https://json-schema.org/draft/2020-12/schema\",\"$ref\":";
        for (const auto& [e, key] : defs_) {
            if (e == &type) json::append_string(out_, "#/$defs/" + key);
        }
        out_ += ",\"$defs\":{";
        bool first = true;
        for (const auto& [e, key] : defs_) {
            if (!first) out_ += ',';
            first = false;
            json::append_string(out_, key);
            out_ += ':';
            if (has_body_kind(*e)) {
                body(*e);
            } else {
                simple(*e);
            }
        }
        out_ += "}}";
    }

private:
    void simple(const element& e) {
        const value_form f = simple_form(e);
        json::functions_of(f.kind).schema(f, out_);
        out_ += '}';
    }

    // One value of member `m`.
    void value(const element& m) {
        if (!has_body_kind(m)) {
            simple(m);
            return;
        }
        const auto at = m.children() != nullptr ? bodies_.find(m.children()) : bodies_.end();
        if (at != bodies_.end()) {
            out_ += "{\"$ref\":";
            json::append_string(out_, "#/$defs/" + at->second);
            out_ += '}';
            return;
        }
        body(m);
    }

    // Member `m` under its key: its value, or the array of its values.
    void member(const element& m) {
        const occurrences occ = occurrences_of(m);
        if (occ.never()) {
            out_ += "false";
            return;
        }
        if (!occ.repeats()) {
            value(m);
            return;
        }
        out_ += "{\"type\":\"array\",\"items\":";
        value(m);
        if (occ.min > 0) out_ += ",\"minItems\":" + std::to_string(occ.min);
        if (!occ.unbounded) out_ += ",\"maxItems\":" + std::to_string(occ.max);
        out_ += '}';
    }

    void extensions(std::uint32_t exactly) {
        out_ += "{\"type\":\"array\",\"items\":{\"type\":\"string\"}";
        if (exactly > 0) {
            out_ += ",\"minItems\":" + std::to_string(exactly) +
                    ",\"maxItems\":" + std::to_string(exactly);
        }
        out_ += ",\"$comment\":\"extension parameters, each as its text\"}";
    }

    void body(const element& e) {
        if (e.kind == ET_UNION) {
            union_body(e);
            return;
        }
        out_ += "{\"type\":\"object\",\"properties\":{";
        bool first = true;
        std::string required;
        for (const element* m = e.children(); m != nullptr; m = m->next()) {
            if (!first) out_ += ',';
            first = false;
            json::append_string(out_, m->name().view());
            out_ += ':';
            member(*m);
            // An untagged void member stands without a byte: the converter
            // does not need it.
            if (occurrences_of(*m).min > 0 && !(m->kind == ET_NULL && !tagged_in(e, *m))) {
                if (!required.empty()) required += ',';
                json::append_string(required, m->name().view());
            }
        }
        if (e.kind == ET_STRUCT && !closed_) {
            if (!first) out_ += ',';
            json::append_string(out_, extensions_key);
            out_ += ':';
            extensions(0);
        }
        out_ += '}';
        if (!required.empty()) out_ += ",\"required\":[" + required + "]";
        out_ += ",\"additionalProperties\":false";
        if (e.kind == ET_COMBINED) {
            out_ +=
                ",\"$comment\":\"a combination: its members' values one after the other, "
                "with nothing between them\"";
        }
        out_ += '}';
    }

    // One branch per alternative, each an object with its key alone.
    void union_body(const element& u) {
        out_ += "{\"oneOf\":[";
        bool first = true;
        bool may_be_empty = false;
        const auto branch = [&](std::string_view key) {
            if (!first) out_ += ',';
            first = false;
            out_ += "{\"type\":\"object\",\"properties\":{";
            json::append_string(out_, key);
            out_ += ':';
        };
        const auto end_branch = [&](std::string_view key) {
            out_ += "},\"required\":[";
            json::append_string(out_, key);
            out_ += "],\"additionalProperties\":false}";
        };
        for (const element* m = u.children(); m != nullptr; m = m->next()) {
            const occurrences occ = occurrences_of(*m);
            if (occ.optional() || occ.never()) may_be_empty = true;
            if (occ.never()) continue;
            branch(m->name().view());
            member(*m);
            end_branch(m->name().view());
        }
        if (!closed_) {
            branch(extensions_key);
            extensions(1);
            end_branch(extensions_key);
        }
        if (may_be_empty) {
            if (!first) out_ += ',';
            first = false;
            out_ += "{\"type\":\"object\",\"maxProperties\":0,\"$comment\":\"the empty value\"}";
        }
        if (first) out_ += "false";
        out_ += "]}";
    }

    struct definition {
        const element* e;
        std::string key;
    };
    bool closed_;
    std::string& out_;
    std::vector<definition> defs_;
    std::unordered_map<const element*, std::string> bodies_;  // members of a definition: its key
};

}  // namespace

std::string json_schema_of(const run_context& run, const element& type, bool closed) {
    std::string out;
    schema_writer(run, closed, out).write(type);
    return json::indented(out);
}

}  // namespace qrv
