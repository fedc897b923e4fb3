#include "Form1.h"
#include "ProcessExit.h"
#include "SpeechEngine.h"

#include <QApplication>

#include <chrono>
#include <cstdio>

namespace {
qint64 monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

int main(int argc, char *argv[]) {
    int status = 0;
    {
        QApplication app(argc, argv);
        // Arguments are ignored: the program always starts with an empty text.
        auto talker = std::make_unique<speech::SpeechEngine>();
        if (qEnvironmentVariableIsSet("PARLIVO_REPORT_STARTUP")) {
            // For the start-up benchmark: when the window is up and when speech could start.
            QObject::connect(talker.get(), &speech::SpeechEngine::workerReady, [] {
                std::printf("worker-ready %lld\n", static_cast<long long>(monotonicNs()));
                std::fflush(stdout);
            });
        }
        auto *window = new Form1(std::move(talker)); // deletes itself when closed
        window->show();
        if (qEnvironmentVariableIsSet("PARLIVO_REPORT_STARTUP")) {
            std::printf("shown %lld\n", static_cast<long long>(monotonicNs()));
            std::fflush(stdout);
        }
        status = app.exec();
    }
    speech::exitAfterTeardown(status);
}
