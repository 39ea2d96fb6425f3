// A model read from a schema text that passes post-parse and the strict
// checks (the definitions a message can be checked, written or converted
// against), with the console captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "abnf/strict_grammar.h"
#include "console_capture.h"
#include "frontend/source.h"
#include "model/model.h"
#include "postparse/post_parse.h"

namespace qrv {

struct schema_fixture : ::testing::Test {
    std::unique_ptr<run_context> run = std::make_unique<run_context>();
    diagnostics diag;
    testing::console_capture captured;

    void SetUp() override {
        init_run_context(*run);
        diag.console = captured.file();
    }
    void TearDown() override { free_model(*run); }

    // Reads the definitions of module t; the first is the message's root.
    void define(const std::string& source) {
        ASSERT_EQ(read_source_text(*run, diag, "t.pvx", "pavex module t;\n" + source, nullptr), 0);
        ASSERT_EQ(post_parse(*run, diag), 1);
        ASSERT_EQ(check_strict_grammar(*run, diag), 0);
    }
};

}  // namespace qrv
