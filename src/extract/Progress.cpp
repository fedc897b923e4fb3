#include "Progress.h"

namespace extract {
namespace {
ProgressReporter g_reporter = nullptr;
}

void setProgressReporter(ProgressReporter reporter) {
    g_reporter = reporter;
}

void reportProgress(int done, int total) {
    if (g_reporter)
        g_reporter(done, total);
}

} // namespace extract
