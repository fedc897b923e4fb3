#pragma once
// How far a long read has come, for the window's progress bar: `done` of `total` steps (pages
// of a PDF, chapters of a book). The readers only call reportProgress(); parlivo-extract decides
// where it goes.

namespace extract {

using ProgressReporter = void (*)(int done, int total);

// Nothing is reported until a reporter is set.
void setProgressReporter(ProgressReporter reporter);
void reportProgress(int done, int total);

} // namespace extract
