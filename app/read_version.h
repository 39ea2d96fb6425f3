// Reading one version of the definitions into a model, and the old version
// of a comparison, which may be read on a second thread while the run reads
// the new one.
#pragma once

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/file_checks.h"
#include "model/model.h"
#include "support/diagnostics.h"
#include "support/source_positions.h"

namespace qrv {

// Reads the sources of one version: the main source file, then each library
// file; false when one could not be read or had errors. A file named before
// ("again" in `inputs`) is read only once. "-" is standard input.
bool read_version(run_context& run, diagnostics& diag, const std::vector<std::string>& sources,
                  const run_inputs& inputs);

// The old version of a comparison, read and post-parsed with diagnostics of
// its own (its own "did you mean" searches too). They are handed on to the
// run's where a run that read both versions in turn prints them: the
// reading after the new version's, the post-parse after the new one's. So
// the output is the same whether the version is read aside, on a thread of
// its own, or in turn on the calling thread.
//
// Aside, the thread goes on from the reading to the post-parse at once;
// what it printed there is dropped when the run does not get that far.
class old_version_reader {
public:
    // Starts reading `sources` into `run` (initialised, empty). `like`
    // gives the form of the diagnostics. Aside only when asked and every
    // source is a regular file: a text that cannot be read again (standard
    // input, a pipe) is kept for the run's own positions.
    old_version_reader(run_context& run, const diagnostics& like, std::vector<std::string> sources,
                       bool aside);
    ~old_version_reader();
    old_version_reader(const old_version_reader&) = delete;
    old_version_reader& operator=(const old_version_reader&) = delete;

    // The reading's diagnostics handed on to `diag`; true when every file
    // was read without an error. Rethrows what ended the reading.
    bool read(diagnostics& diag);
    // The post-parse's, after a read() that returned true and a post-parse
    // of the new version without an error; true when it succeeded.
    bool post_parse(diagnostics& diag);

private:
    // What one step printed and counted, and how it ended.
    struct step_result {
        std::string printed;
        std::int64_t errors = 0;
        std::int64_t warnings = 0;
        std::int32_t error_notes = 0;
        bool succeeded = false;
        std::exception_ptr failure;
    };
    template <class Step>
    step_result run_step(Step&& step);
    void hand_on(step_result& r, diagnostics& diag);
    void read_step();
    void post_parse_step();

    run_context& run_;
    std::vector<std::string> sources_;
    diagnostics own_;
    source_texts own_texts_;
    bool aside_ = false;
    step_result read_;
    step_result post_parse_;
    bool post_parsed_ = false;  // the thread made the post-parse
    std::mutex mutex_;
    std::condition_variable read_done_changed_;
    bool read_done_ = false;  // the thread's reading is over
    std::thread thread_;
};

}  // namespace qrv
