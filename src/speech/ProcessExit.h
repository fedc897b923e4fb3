#pragma once
// How a program that has played or recorded audio ends.
//
// Qt 6.4's PulseAudio backend keeps process-wide connections to the sound server, each served by
// a thread of its own, and closes them in the destructors of its global objects as the process
// exits, without taking that thread's lock. If the thread is dispatching a message from the
// server just then, the exit aborts inside libpulse ("pa_atomic_load(&(pd)->_ref) >= 1" or
// "'pd' failed" in pdispatch.c, a main-loop assertion) or crashes. And a message is usually on
// its way: closing a running stream, as an engine does when it goes, turns the sink idle, which
// the server announces to every connection, and each of Qt's answers with a query of its own.
// Nothing in those objects needs saving, so the process ends without destroying them.

namespace speech {

// Ends the process with `status`. Call it from main() once everything of ours is gone: windows,
// engines (which end their threads and the worker) and the application object. Flushes standard
// output and error first; under AddressSanitizer it runs the leak check that exit would have run.
// Main thread only.
[[noreturn]] void exitAfterTeardown(int status);

} // namespace speech
