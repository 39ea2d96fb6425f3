#include "postparse/post_parse.h"
// (stub: replaced by the post-parse pass)
namespace qrv {
int post_parse(run_context& run) {
    if (run.modules == nullptr || run.modules->elements == nullptr) return 0;
    return 0;
}
}  // namespace qrv
