#pragma once
// The window's end of the synthesis worker: starts the parlivo-synth process, sends it requests
// from a writer thread and reads its audio on a reader thread. Nothing here blocks the caller.

#include "Protocol.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

namespace speech {

class SynthClient {
public:
    // Called on the reader thread. `died` is called once when the worker's output ends without
    // our asking, with its wait status.
    struct Handlers {
        std::function<void()> ready;
        std::function<void(parlivo::proto::Audio &)> audio;
        std::function<void(const parlivo::proto::Sentence &)> sentence;
        std::function<void(const parlivo::proto::Done &)> done;
        std::function<void(const parlivo::proto::Error &)> error;
        std::function<void(const parlivo::proto::Voices &)> voices;
        std::function<void(int status)> died;
    };

    SynthClient(QString program, Handlers handlers);
    ~SynthClient();
    SynthClient(const SynthClient &) = delete;
    SynthClient &operator=(const SynthClient &) = delete;

    // Starts the worker unless it is running. Throws EngineError if it cannot be started.
    void ensureRunning();
    // Ends the worker: closes its input, gives it a moment, then kills it.
    void shutdown();
    bool isRunning() const { return m_running.load(); }
    pid_t pid() const { return m_pid.load(); }

    // Sends `text` from `from` on as request `id`, in pieces, so that the worker can start on the
    // first sentence while the rest is still on its way. A newer speak() drops unsent pieces.
    // `batch`: the audio goes to a file, not to a listener (see proto::Speak::batch).
    void speak(std::uint64_t id, const QString &text, qsizetype from, int wpm,
               const std::string &voice, bool batch = false);
    void cancel(std::uint64_t id);
    void listVoices();

    // The worker program next to the running program, or $PARLIVO_SYNTH.
    static QString defaultProgram();

private:
    struct TextJob {
        std::uint64_t id = 0;
        QString text;
        qsizetype position = 0;
        std::uint32_t baseOffset = 0;
        int wpm = 0;
        std::string voice;
        bool batch = false;
        bool started = false;
    };
    struct Outgoing {
        std::string frame; // sent as it is, unless `job` is set
        bool isJob = false;
        TextJob job;
    };

    void start();
    void joinThreads();
    void writerLoop(int fd);
    void readerLoop(int fd, pid_t pid);
    void post(Outgoing item);
    bool sendJobPiece(int fd, TextJob &job);

    const QString m_program;
    const Handlers m_handlers;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<pid_t> m_pid{-1};
    std::atomic<std::uint64_t> m_latestSpeak{0};
    int m_toWorker = -1;
    int m_fromWorker = -1;
    std::thread m_writer;
    std::thread m_reader;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Outgoing> m_outgoing; // guarded by m_mutex
    bool m_writerQuit = false;       // guarded by m_mutex
};

} // namespace speech
