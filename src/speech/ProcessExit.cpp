#include "ProcessExit.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace speech {

void exitAfterTeardown(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // LeakSanitizer checks from an exit handler, which _exit() skips.
    __lsan_do_leak_check();
#endif
    // Not exit(): that would run the libraries' exit-time destructors described in the header.
    ::_exit(status);
}

} // namespace speech
