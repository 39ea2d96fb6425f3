// Models built by hand for the post-parse tests, and the console captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/model.h"
#include "postparse/post_parse.h"
#include "test_model.h"

namespace qrv {

struct postparse_fixture : ::testing::Test {
    run_context run;
    diagnostics diag;
    parse_state ps;
    char* captured = nullptr;
    std::size_t captured_size = 0;
    std::FILE* out = nullptr;

    void SetUp() override {
        init_run_context(run);
        out = open_memstream(&captured, &captured_size);
        diag.console = out;
        ps.run = &run;
        ps.diag = &diag;
    }
    void TearDown() override {
        std::fclose(out);
        std::free(captured);
    }

    std::string console() {
        std::fflush(out);
        return std::string(captured, captured_size);
    }

    module_record* module(const char* name, const char* path = "m.pvx") {
        module_record* m = new_module_record(run);
        m->name = make_text(run, name);
        m->path = make_text(run, path);
        module_record** tail = &run.modules;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = m;
        return m;
    }

    // An element appended to the chain at `head`; a non-empty `link` makes
    // it a reference.
    element* add(chain_head head, module_record* m, const char* name, element_kind kind,
                 const char* link = "", int line = 1) {
        ps.module = m;
        ps.line = line;
        element* e = new_element(ps);
        e->kind = kind;
        e->set_name(make_text(run, name));
        e->set_tag(e->name());
        std::string c = name;
        for (char& ch : c) {
            if (ch == '-' || ch == '.' || ch == ':') ch = '_';
        }
        e->set_c_name(make_text(run, c));
        e->set_link(make_text(run, link));
        append_element(head, e);
        return e;
    }

    element* top(module_record* m, const char* name, element_kind kind, const char* link = "",
                 int line = 1) {
        return add(chain_head(&m->elements), m, name, kind, link, line);
    }
    element* member(element* parent, const char* name, element_kind kind, const char* link = "",
                    int line = 1) {
        return add(chain_head::members_of(*parent), parent->module(), name, kind, link, line);
    }

    void import(module_record* m, const char* module_name, const char* alias = " ") {
        push_ref(&m->imports, module_name, alias);
    }
    void extend(module_record* m, const char* module_name, const char* alias = " ") {
        push_ref(&m->extends, module_name, alias);
    }
    void push_ref(module_ref** list, const char* module_name, const char* alias) {
        module_ref* r = new_module_ref(run);
        r->alias = make_text(run, alias);
        r->module_name = make_text(run, module_name);
        r->next = *list;
        *list = r;
    }

    // A plug statement; `targets` in source order (the list keeps them
    // newest first).
    plug_record* plug(module_record* m, std::initializer_list<const char*> targets, int line = 9) {
        plug_record* s = new_plug_record(run);
        for (const char* t : targets) {
            into_entry* i = new_into_entry(run);
            i->target = make_text(run, t);
            i->line = line;
            i->next = s->into;
            s->into = i;
        }
        plug_record** tail = &m->plugs;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = s;
        return s;
    }

    static int count(const element* chain) {
        int n = 0;
        for (; chain != nullptr; chain = chain->next()) ++n;
        return n;
    }
};

}  // namespace qrv
