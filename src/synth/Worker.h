#pragma once
// The worker's request loop: a reader thread takes requests from the window, the synthesis thread
// turns the current request into audio chunk by chunk and writes it back.
//
// A batch request (an export's segment) must sound the same whatever worker renders it, but
// espeak-ng carries state (pitch flutter, wave phase) from one text to the next within a process.
// So a worker that has synthesised nothing yet renders each batch request in a forked copy of
// itself: every copy starts from the state of a freshly started worker, at the cost of a fork
// (about 1 ms) instead of a new process (about 20 ms of loading and linking).

#include "Backend.h"
#include "Languages.h"
#include "Protocol.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace parlivo::synth {

class Worker {
public:
    // `write` sends one encoded frame to the window; it may block (that is the flow control).
    // It returns false once the window is gone.
    using FrameWriter = std::function<bool(const std::string &frame)>;

    // Makes the backend for an engine ("espeak" or "flite"), or returns null if there is none.
    // Run on the synthesis thread, which then owns the backend.
    using BackendFactory = std::function<std::unique_ptr<Backend>(const std::string &engine)>;

    Worker(BackendFactory makeBackend, FrameWriter write);
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Called by the reader thread for each request. Never blocks on synthesis.
    void post(proto::Message message);
    // The window closed our input: stop after the current piece of audio.
    void shutdown();
    // Runs the synthesis loop on the calling thread until shutdown. Returns the exit status.
    int run();

private:
    struct Job {
        std::uint64_t id = 0;
        int wpm = 0;
        std::uint32_t baseOffset = 0;
        std::string voice;
        std::u16string text;
        std::size_t position = 0;
        bool final = false;
        bool batch = false;
        std::uint64_t samples = 0;
        // For an "auto:" voice: what is chosen for the next chunk, and what chooses it.
        std::string chunkVoice;
        std::string language;
        std::shared_ptr<AutomaticVoice> automatic;
    };
    // For an automatic request: the voice of `chunk` into `job`; false while more text is needed.
    // Synthesis thread, with m_mutex held.
    bool chooseVoice(Job &job, text::Chunk chunk);
    std::set<std::string> espeakVoiceNames();

    // Loads, ahead of any request, what the first one would otherwise wait for.
    void warmUp();
    void speakChunk(Job &job, std::size_t start, std::u16string chunk);
    bool stillWanted(std::uint64_t id) const { return m_wanted.load() == id; }
    // Renders the current batch request in a forked copy and waits for it to end. Synthesis
    // thread, with `lock` (of m_mutex) held; returns with it released. In the copy it returns at
    // once with the lock still held, and the request is still the current one.
    void renderInCopy(std::unique_lock<std::mutex> &lock);
    // The backend for `voice`, with that voice selected.
    Backend &backendFor(const std::string &voice);
    Backend *engine(const std::string &name);
    std::vector<proto::VoiceInfo> allVoices();

    BackendFactory m_makeBackend;
    std::map<std::string, std::unique_ptr<Backend>> m_backends; // synthesis thread only
    Backend *m_backend = nullptr;
    FrameWriter m_write;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<Job> m_job;  // guarded by m_mutex
    bool m_voicesWanted = false; // guarded by m_mutex
    bool m_quit = false;         // guarded by m_mutex
    // The request still wanted, in memory shared with the forked copies, so that a Cancel or a
    // newer request read here stops the copy rendering the old one.
    std::atomic<std::uint64_t> &m_wanted;
    // Nothing synthesised in this process yet: batch requests go to forked copies. Synthesis
    // thread only.
    bool m_pristine = true;
    bool m_isCopy = false; // this process is a copy rendering one batch request

    std::optional<std::set<std::string>> m_espeakNames; // synthesis thread only
    std::string m_currentVoice;
    int m_currentWpm = -1;
};

} // namespace parlivo::synth
