#include "app/read_version.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>

#include "app/job.h"
#include "frontend/source.h"
#include "postparse/post_parse.h"
#include "support/read_file.h"
#include "support/signals.h"

namespace qrv {

namespace {

// A source file, or standard input ("-", without a directive file).
std::int64_t read_source(run_context& run, diagnostics& diag, const char* path) {
    if (std::string_view(path) != standard_stream) return read_source_file(run, diag, path);
    std::string text;
    if (!read_standard_input(text)) {
        report(diag, SEV_ERROR, "Unable to open file: %s", path);
        return 1;
    }
    return read_source_text(run, diag, path, text, nullptr);
}

bool all_regular_files(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) {
        struct stat info {};
        if (p == standard_stream || ::stat(p.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool read_version(run_context& run, diagnostics& diag, const std::vector<std::string>& sources,
                  const run_inputs& inputs) {
    bool read = true;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const char* path = sources[i].c_str();
        if (inputs.again[i]) {
            note(diag, "warning: Source file given more than once: %s\n", path);
        } else if (read_source(run, diag, path) != 0) {
            read = false;
        }
        if (i == 0) run.input_path = path;
    }
    return read;
}

old_version_reader::old_version_reader(run_context& run, const diagnostics& like,
                                       std::vector<std::string> sources, bool aside)
    : run_(run), sources_(std::move(sources)) {
    own_.format = like.format;
    own_.json_stream = like.json_stream;
    own_.file_positions = like.file_positions;
    own_.one_per_mistake = like.one_per_mistake;
    own_.color = like.color;
    aside_ = aside && all_regular_files(sources_);
    // A regular file is read again for a position, so the thread's texts
    // may be its own; in turn, a text kept is kept in the run's.
    if (like.sources != nullptr) own_.sources = aside_ ? &own_texts_ : like.sources;
    if (!aside_) return;
    try {
        thread_ = helper_thread([this] {
            read_step();
            const bool go_on = read_.succeeded && read_.errors == 0;
            {
                std::lock_guard lock(mutex_);
                read_done_ = true;
            }
            read_done_changed_.notify_all();
            if (go_on) {
                post_parse_step();
                post_parsed_ = true;
            }
        });
    } catch (const std::system_error&) {
        aside_ = false;  // no second thread: read in turn
    }
}

old_version_reader::~old_version_reader() {
    if (thread_.joinable()) thread_.join();
}

template <class Step>
old_version_reader::step_result old_version_reader::run_step(Step&& step) {
    step_result r;
    char* text = nullptr;
    std::size_t size = 0;
    own_.error_count = 0;
    own_.warning_count = 0;
    own_.error_note_count = 0;
    own_.console = ::open_memstream(&text, &size);
    try {
        if (own_.console == nullptr) throw std::bad_alloc();
        r.succeeded = step();
    } catch (...) {
        r.failure = std::current_exception();
    }
    if (own_.console != nullptr) {
        std::fclose(own_.console);
        own_.console = nullptr;
        r.printed.assign(text, size);
    }
    std::free(text);
    r.errors = own_.error_count;
    r.warnings = own_.warning_count;
    r.error_notes = own_.error_note_count;
    return r;
}

void old_version_reader::read_step() {
    read_ = run_step([this] { return read_version(run_, own_, sources_, list_inputs(sources_)); });
}

void old_version_reader::post_parse_step() {
    post_parse_ = run_step([this] { return qrv::post_parse(run_, own_) == 1; });
}

void old_version_reader::hand_on(step_result& r, diagnostics& diag) {
    std::fwrite(r.printed.data(), 1, r.printed.size(), diag.console);
    r.printed = std::string();
    diag.error_count += r.errors;
    diag.warning_count += r.warnings;
    diag.error_note_count += r.error_notes;
    if (r.failure) std::rethrow_exception(std::exchange(r.failure, nullptr));
}

bool old_version_reader::read(diagnostics& diag) {
    if (aside_) {
        std::unique_lock lock(mutex_);
        read_done_changed_.wait(lock, [this] { return read_done_; });
    } else {
        read_step();
    }
    hand_on(read_, diag);
    return read_.succeeded;
}

bool old_version_reader::post_parse(diagnostics& diag) {
    if (aside_) thread_.join();
    if (!post_parsed_) post_parse_step();
    hand_on(post_parse_, diag);
    return post_parse_.succeeded;
}

}  // namespace qrv
