// The reference of a run's definitions as the documentation pages show it:
// modules with the leading text of their file, and per definition its
// kind, qualified name, comment, members, the definitions that use it, its
// rules of the strict grammar and an example message. Built from the
// frozen model in one pass over the definitions; the page writers
// (docpages/docpages.h) only format it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "docpages/railroad.h"
#include "model/model.h"
#include "support/diagnostics.h"

namespace qrv {

struct doc_member {
    int depth = 0;  // 0: a member of the definition; more: of a body declared in place
    std::string name;
    std::string tag;   // empty when untagged
    std::string type;  // the kind's keyword, or the qualified name it refers to
    int target = -1;   // the definition `type` names, or -1
    std::string bounds;
    std::string cardinality;
    bool optional = false;
    bool extension = false;
    std::string plugged_by;  // the module that plugs it in, or empty
    std::string comment;
};

struct doc_definition {
    std::string kind;
    std::string name;
    std::string module;
    std::string qualified;  // module.Name
    std::string anchor;     // the id of its section: the qualified name, unique in the page
    std::string comment;
    std::string bounds;  // a simple definition: what its constraint bounds
    int target = -1;     // a definition that stands for another: that one
    std::vector<doc_member> members;
    std::vector<int> used_by;
    // Its rules in the strict grammar: its own first, then those of its
    // bodies that have one.
    std::vector<std::size_t> rules;
    std::string example;     // a valid message, or empty
    std::string no_example;  // why there is none
};

struct doc_module {
    std::string name;
    std::string id;  // of its section
    std::string file;
    std::vector<int> definitions;
};

struct doc_file {
    std::string path;
    std::string description;  // the text before its marker line
    std::vector<int> modules;
};

struct doc_reference {
    std::string title;
    std::vector<doc_file> files;
    std::vector<doc_module> modules;
    std::vector<doc_definition> definitions;
    // The rules of the strict grammar, the definitions' and the common ones.
    std::vector<abnf_rule> rules;
    std::vector<int> rule_owner;  // the definition a rule belongs to; -1: a common rule
    std::vector<std::string> rule_ids;
    // Said on the page when the strict checks fail: why no definition has
    // an example.
    std::string notice;
};

// The reference of a run whose post-parse succeeded and that kept its
// doc notes (run.docs). Each example is read back by the message checker;
// one it refuses is a fault of the tool, reported as an error: then the
// result is false.
bool build_reference(const run_context& run, diagnostics& diag, doc_reference& out);

// The text of a doc comment as paragraphs: lines joined, an empty line
// between paragraphs.
std::vector<std::string> paragraphs(const std::string& comment);

}  // namespace qrv
