// parlivo-synth: the synthesis worker. Speaks the protocol of Protocol.h on stdin/stdout.
// It runs in its own process because a synthesiser fed arbitrary text may crash.

#include "EspeakBackend.h"
#include "FdIo.h"
#include "FliteBackend.h"
#include "Protocol.h"
#include "Worker.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

int main() {
    // The window owns us: if it goes away, so do we.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 0;
    std::signal(SIGPIPE, SIG_IGN);

    parlivo::synth::Worker worker(
        [](const std::string &engine) -> std::unique_ptr<parlivo::synth::Backend> {
            if (engine == "espeak")
                return std::make_unique<parlivo::synth::EspeakBackend>();
            if (engine == "flite")
                return std::make_unique<parlivo::synth::FliteBackend>();
            return nullptr;
        },
        [](const std::string &frame) { return parlivo::proto::writeAll(STDOUT_FILENO, frame); });

    std::thread reader([&worker] {
        parlivo::proto::FrameReader frames;
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            try {
                frames.feed({buffer, static_cast<std::size_t>(n)});
                while (auto message = frames.next())
                    worker.post(std::move(*message));
            } catch (const parlivo::proto::ProtocolError &e) {
                std::fprintf(stderr, "parlivo-synth: bad request: %s\n", e.what());
                break;
            }
        }
        // No more requests can come: there is no one left to speak to.
        worker.shutdown();
        std::fflush(stderr);
        ::_exit(0);
    });
    reader.detach();
    const int status = worker.run();
    std::fflush(stderr);
    ::_exit(status);
}
