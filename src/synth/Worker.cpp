#include "Worker.h"

#include "Chunker.h"
#include "TextUnits.h"
#include "WordMarks.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <new>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace parlivo::synth {

namespace {
constexpr std::uint32_t kErrorSynthesis = 2;
constexpr std::uint32_t kErrorStart = 1;
// Audio of a batch request goes out in blocks of this many samples (1.5 s at 22050 Hz) rather
// than in the synthesiser's 20 ms pieces: every frame costs the window's reader a wake-up.
constexpr std::size_t kBatchSamples = 32768;
// The window keeps our output pipe small so that playback cannot run far ahead; a batch
// request's audio is not paced by playback, and in a small pipe every block would wait for the
// reader several times over.
constexpr int kBatchPipeBytes = 256 * 1024;

std::atomic<std::uint64_t> &sharedCounter() {
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
    void *memory = ::mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    return *new (memory) std::atomic<std::uint64_t>(0);
}
} // namespace

Worker::Worker(BackendFactory makeBackend, FrameWriter write)
    : m_makeBackend(std::move(makeBackend))
    , m_write(std::move(write))
    , m_wanted(sharedCounter()) {}

Worker::~Worker() {
    ::munmap(&m_wanted, sizeof(std::atomic<std::uint64_t>));
}

void Worker::post(proto::Message message) {
    std::scoped_lock lock(m_mutex);
    if (auto *speak = std::get_if<proto::Speak>(&message)) {
        auto job = std::make_unique<Job>();
        job->id = speak->id;
        job->wpm = static_cast<int>(speak->wpm);
        job->baseOffset = speak->baseOffset;
        job->voice = std::move(speak->voice);
        job->text = std::move(speak->text);
        job->final = speak->final;
        job->batch = speak->batch;
        m_wanted = job->id;
        m_job = std::move(job);
    } else if (auto *more = std::get_if<proto::SpeakMore>(&message)) {
        if (m_job && m_job->id == more->id && !m_job->final) {
            m_job->text += more->text;
            m_job->final = more->final;
        }
    } else if (auto *cancel = std::get_if<proto::Cancel>(&message)) {
        if (m_wanted == cancel->id) {
            m_wanted = 0;
            m_job.reset();
        }
    } else if (std::holds_alternative<proto::ListVoices>(message)) {
        m_voicesWanted = true;
    }
    m_wake.notify_all();
}

void Worker::shutdown() {
    std::scoped_lock lock(m_mutex);
    m_quit = true;
    m_wanted = 0;
    m_wake.notify_all();
}

Backend *Worker::engine(const std::string &name) {
    auto it = m_backends.find(name);
    if (it == m_backends.end())
        it = m_backends.emplace(name, m_makeBackend(name)).first;
    return it->second.get();
}

std::vector<proto::VoiceInfo> Worker::allVoices() {
    std::vector<proto::VoiceInfo> all;
    for (const char *name : {"espeak", "flite"}) {
        if (Backend *b = engine(name)) {
            auto voices = b->voices();
            all.insert(all.end(), voices.begin(), voices.end());
        }
    }
    return all;
}

Backend &Worker::backendFor(const std::string &voice) {
    if (m_backend && voice == m_currentVoice)
        return *m_backend;
    const auto colon = voice.find(':');
    const std::string engineName = colon == std::string::npos ? "espeak" : voice.substr(0, colon);
    std::string name = colon == std::string::npos ? voice : voice.substr(colon + 1);
    Backend *backend = engine(engineName);
    if (backend && backend->setVoice(name)) {
        m_backend = backend;
    } else {
        // An unknown voice, or a regional variant we lack: its language, then English.
        m_backend = engine("espeak");
        const auto dash = name.find('-');
        if (dash == std::string::npos || !m_backend->setVoice(name.substr(0, dash)))
            m_backend->setVoice("en");
    }
    if (m_currentWpm >= 0)
        m_backend->setSpeed(m_currentWpm);
    m_currentVoice = voice;
    return *m_backend;
}

std::set<std::string> Worker::espeakVoiceNames() {
    if (!m_espeakNames) {
        m_espeakNames.emplace();
        if (Backend *espeak = engine("espeak"))
            for (const proto::VoiceInfo &v : espeak->voices())
                m_espeakNames->insert(v.language);
    }
    return *m_espeakNames;
}

bool Worker::chooseVoice(Job &job, text::Chunk chunk) {
    if (!job.automatic)
        job.automatic = std::make_shared<AutomaticVoice>(
            job.voice.substr(proto::kAutomaticPrefix.size()), espeakVoiceNames());
    const auto choice = job.automatic->choose(job.text, chunk, job.final);
    if (!choice)
        return false;
    job.chunkVoice = choice->voice;
    job.language = choice->language;
    return true;
}

void Worker::warmUp() {
    // What the first request would otherwise wait for (about 4 ms of its 5 to first audio):
    // reading every voice file for the list an "auto:" voice chooses from, and the first touch
    // of the language detector's tables. A request that comes meanwhile waits no longer than it
    // would have. Neither synthesises anything, so the worker is still fresh for a batch request,
    // and every worker does the same, so export copies all start from the same state.
    espeakVoiceNames();
    guessLanguage(u"Reading aloud starts at once.");
}

int Worker::run() {
    try {
        if (!engine("espeak"))
            throw std::runtime_error("espeak-ng is not available");
    } catch (const std::exception &e) {
        m_write(proto::encode(proto::Error{0, kErrorStart, e.what()}));
        return 3;
    }
    if (!m_write(proto::encode(proto::Ready{})))
        return 0;
    warmUp();

    for (;;) {
        std::unique_lock lock(m_mutex);
        text::ChunkResult next;
        m_wake.wait(lock, [&] {
            if (m_quit || m_voicesWanted)
                return true;
            if (!m_job)
                return false;
            // The copy gets the whole text: it has no one to read the rest for it.
            if (m_job->batch && m_pristine)
                return m_job->final;
            next = text::nextChunk(m_job->text, m_job->position, m_job->final);
            if (next.status == text::ChunkStatus::Ready &&
                m_job->voice.starts_with(proto::kAutomaticPrefix))
                return chooseVoice(*m_job, next.chunk);
            return next.status != text::ChunkStatus::NeedMore;
        });
        if (m_quit)
            return 0;
        if (m_isCopy && !stillWanted(m_job ? m_job->id : 0))
            return 0; // cancelled, or a newer request came: the worker renders that one
        if (m_job && m_job->batch && m_pristine) {
            renderInCopy(lock); // in the copy, the loop goes on to render the request
            continue;
        }
        if (m_voicesWanted) {
            m_voicesWanted = false;
            m_pristine = false; // the engines listing their voices may leave state behind
            lock.unlock();
            if (!m_write(proto::encode(proto::Voices{allVoices()})))
                return 0;
            continue;
        }
        Job &job = *m_job;
        if (next.status == text::ChunkStatus::End) {
            const proto::Done done{job.id, job.samples};
            m_job.reset();
            lock.unlock();
            if (!m_write(proto::encode(done)) || m_isCopy)
                return 0;
            continue;
        }
        // Copy the chunk out: the reader thread may append to the text while we synthesise.
        const std::size_t start = next.chunk.start;
        std::u16string chunk = job.text.substr(start, next.chunk.length);
        job.position = start + next.chunk.length;
        Job snapshot;
        snapshot.id = job.id;
        snapshot.wpm = job.wpm;
        snapshot.baseOffset = job.baseOffset;
        snapshot.voice = job.chunkVoice.empty() ? job.voice : job.chunkVoice;
        snapshot.language = job.language;
        snapshot.samples = job.samples;
        snapshot.batch = job.batch;
        lock.unlock();

        try {
            speakChunk(snapshot, start, std::move(chunk));
        } catch (const std::exception &e) {
            if (!m_write(proto::encode(proto::Error{snapshot.id, kErrorSynthesis, e.what()})))
                return 0;
        }

        lock.lock();
        if (m_job && m_job->id == snapshot.id)
            m_job->samples = snapshot.samples;
    }
}

void Worker::renderInCopy(std::unique_lock<std::mutex> &lock) {
    // The reader thread cannot hold m_mutex now, so the copy's (which only its one thread ever
    // uses) is in a consistent state: held by the thread that goes on in the copy.
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // Follow the worker out however it ends, as it follows the window.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        m_isCopy = true;
        m_pristine = false;
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kBatchPipeBytes); // refused: only slower
        // Each block is made and freed again; without this the heap's top is handed back to the
        // system after every one and faulted in afresh for the next.
        ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
        return;
    }
    const std::uint64_t id = m_job->id;
    m_job.reset(); // the copy renders it (or nobody can)
    lock.unlock();
    if (child < 0) {
        m_write(proto::encode(proto::Error{id, kErrorSynthesis, "cannot start a renderer"}));
        return;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The copy may have died in the middle of a frame, which leaves our output unreadable: end
    // the way it ended, as a worker that rendered the request itself would have.
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        ::_exit(WEXITSTATUS(status));
}

void Worker::speakChunk(Job &job, std::size_t start, std::u16string chunk) {
    if (!stillWanted(job.id))
        return;
    m_pristine = false;
    Backend &backend = backendFor(job.voice);
    if (job.wpm != m_currentWpm) {
        backend.setSpeed(job.wpm);
        m_currentWpm = job.wpm;
    }
    const std::uint32_t chunkOffset = job.baseOffset + static_cast<std::uint32_t>(start);
    if (!m_write(
            proto::encode(proto::Sentence{job.id, job.samples, chunkOffset,
                                          static_cast<std::uint32_t>(chunk.size()), job.language})))
        throw std::runtime_error("window gone");

    const std::uint64_t chunkStart = job.samples;
    std::uint64_t produced = 0;
    std::uint32_t lastWord = UINT32_MAX;
    const int rate = backend.sampleRate();
    if (job.batch) {
        proto::Audio block;
        block.id = job.id;
        block.sampleRate = static_cast<std::uint32_t>(rate);
        block.samples.reserve(kBatchSamples);
        auto send = [&] {
            block.firstSample = chunkStart + produced;
            produced += block.samples.size();
            const bool sent = m_write(proto::encode(block));
            block.samples.clear();
            return sent && stillWanted(job.id);
        };
        auto collect = [&](const std::int16_t *samples, std::size_t count,
                           const std::vector<ChunkWord> &) {
            if (!stillWanted(job.id))
                return false;
            block.samples.insert(block.samples.end(), samples, samples + count);
            return block.samples.size() < kBatchSamples || send();
        };
        // The chunk's audio all goes out before the next chunk's Sentence.
        if (backend.synthesise(chunk, collect) && !block.samples.empty())
            send();
        job.samples = chunkStart + produced;
        return;
    }
    auto sink = [&](const std::int16_t *samples, std::size_t count,
                    const std::vector<ChunkWord> &words) {
        if (!stillWanted(job.id))
            return false;
        proto::Audio audio;
        audio.id = job.id;
        audio.sampleRate = static_cast<std::uint32_t>(rate);
        audio.firstSample = chunkStart + produced;
        for (const ChunkWord &w : words) {
            const auto range = text::wordAt(chunk, w.offset);
            if (!range)
                continue;
            const auto offset = chunkOffset + static_cast<std::uint32_t>(range->offset);
            // Numbers and compounds are reported once per part: keep the first.
            if (offset == lastWord)
                continue;
            lastWord = offset;
            audio.marks.push_back({chunkStart + std::max(w.sample, produced), offset,
                                   static_cast<std::uint32_t>(range->length)});
        }
        audio.samples.assign(samples, samples + count);
        produced += count;
        if (!m_write(proto::encode(audio)))
            return false;
        return stillWanted(job.id);
    };
    backend.synthesise(chunk, sink);
    job.samples = chunkStart + produced;
}

} // namespace parlivo::synth
