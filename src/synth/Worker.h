#pragma once
// The worker's request loop: a reader thread takes requests from the window, the synthesis thread
// turns the current request into audio chunk by chunk and writes it back.

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

    void speakChunk(Job &job, std::size_t start, std::u16string chunk);
    bool stillWanted(std::uint64_t id) const { return m_wanted.load() == id; }
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
    std::atomic<std::uint64_t> m_wanted{0};

    std::optional<std::set<std::string>> m_espeakNames; // synthesis thread only
    std::string m_currentVoice;
    int m_currentWpm = -1;
};

} // namespace parlivo::synth
