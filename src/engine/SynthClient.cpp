#include "SynthClient.h"

#include "EngineError.h"
#include "FdIo.h"
#include "HelperPrograms.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace speech {
namespace proto = parlivo::proto;
using proto::writeAll;

namespace {

// The first piece is small so that the worker has its first sentence at once; the rest go in
// larger pieces to keep the number of messages down.
constexpr qsizetype kFirstPiece = 2048;
constexpr qsizetype kPiece = 65536;
// Bounds how far the worker can run ahead of playback, together with the PCM queue.
constexpr int kPipeBytes = 16384;

void ignoreSigpipe() {
    // A worker that died leaves us writing into a closed pipe: that is an error code, not a
    // reason to end the window with the user's text in it.
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &action, nullptr);
    });
}

} // namespace

SynthClient::SynthClient(QString program, Handlers handlers)
    : m_program(std::move(program))
    , m_handlers(std::move(handlers)) {
    ignoreSigpipe();
}

SynthClient::~SynthClient() {
    shutdown();
}

QString SynthClient::defaultProgram() {
    return helperProgram("PARLIVO_SYNTH", QStringLiteral("parlivo-synth"));
}

void SynthClient::ensureRunning() {
    if (m_running)
        return;
    joinThreads();
    start();
}

void SynthClient::start() {
    const QByteArray program = QFileInfo(m_program).absoluteFilePath().toLocal8Bit();
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw EngineError(EngineError::WorkerStart,
                          QStringLiteral("The speech synthesiser could not be started: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(in[0]);
        ::close(in[1]);
        throw EngineError(EngineError::WorkerStart,
                          QStringLiteral("The speech synthesiser could not be started: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(err))));
    }
    ::fcntl(out[0], F_SETPIPE_SZ, kPipeBytes);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char *argv[] = {const_cast<char *>(program.constData()), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw EngineError(EngineError::WorkerStart,
                          QStringLiteral("The speech synthesiser %1 could not be started: %2")
                              .arg(m_program, QString::fromLocal8Bit(std::strerror(rc))));
    }
    m_toWorker = in[1];
    m_fromWorker = out[0];
    m_pid = pid;
    m_stopping = false;
    {
        std::scoped_lock lock(m_mutex);
        m_writerQuit = false;
        m_outgoing.clear();
    }
    m_running = true;
    m_writer = std::thread([this, fd = m_toWorker] { writerLoop(fd); });
    m_reader = std::thread([this, fd = m_fromWorker, pid] { readerLoop(fd, pid); });
}

void SynthClient::shutdown() {
    m_stopping = true;
    {
        std::scoped_lock lock(m_mutex);
        m_writerQuit = true;
        m_outgoing.clear();
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    if (m_toWorker >= 0) {
        ::close(m_toWorker); // the worker sees the end of its input and leaves
        m_toWorker = -1;
    }
    // The reader reaps the worker when its output ends; give it a moment, then make sure.
    for (int i = 0; i < 100 && m_running; ++i)
        ::usleep(5000);
    const pid_t pid = m_pid;
    if (m_running && pid > 0)
        ::kill(pid, SIGKILL);
    joinThreads();
}

void SynthClient::joinThreads() {
    {
        std::scoped_lock lock(m_mutex);
        m_writerQuit = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    if (m_reader.joinable())
        m_reader.join();
    if (m_toWorker >= 0) {
        ::close(m_toWorker);
        m_toWorker = -1;
    }
    if (m_fromWorker >= 0) {
        ::close(m_fromWorker);
        m_fromWorker = -1;
    }
    m_running = false;
}

void SynthClient::post(Outgoing item) {
    {
        std::scoped_lock lock(m_mutex);
        m_outgoing.push_back(std::move(item));
    }
    m_wake.notify_all();
}

void SynthClient::speak(std::uint64_t id, const QString &text, qsizetype from, int wpm,
                        const std::string &voice, bool batch) {
    Outgoing item;
    item.isJob = true;
    item.job.id = id;
    item.job.text = text; // shares the characters; the caller's later edits detach
    item.job.position = std::clamp<qsizetype>(from, 0, text.size());
    item.job.baseOffset = static_cast<std::uint32_t>(item.job.position);
    item.job.wpm = wpm;
    item.job.voice = voice;
    item.job.batch = batch;
    {
        std::scoped_lock lock(m_mutex);
        m_latestSpeak = id;
        // Pieces of an older text that were not sent yet are of no use any more.
        std::erase_if(m_outgoing, [](const Outgoing &o) { return o.isJob; });
        m_outgoing.push_back(std::move(item));
    }
    m_wake.notify_all();
}

void SynthClient::cancel(std::uint64_t id) {
    {
        std::scoped_lock lock(m_mutex);
        if (m_latestSpeak == id)
            m_latestSpeak = 0;
        std::erase_if(m_outgoing, [id](const Outgoing &o) { return o.isJob && o.job.id == id; });
    }
    post({proto::encode(proto::Cancel{id}), false, {}});
}

void SynthClient::listVoices() {
    post({proto::encode(proto::ListVoices{}), false, {}});
}

bool SynthClient::sendJobPiece(int fd, TextJob &job) {
    const qsizetype left = job.text.size() - job.position;
    qsizetype n = std::min(left, job.started ? kPiece : kFirstPiece);
    // Never split a surrogate pair between two pieces.
    if (n < left && n > 0 && job.text.at(job.position + n - 1).isHighSurrogate())
        --n;
    const auto *units = reinterpret_cast<const char16_t *>(job.text.constData() + job.position);
    std::u16string piece(units, static_cast<std::size_t>(n));
    const bool final = n == left;
    std::string frame;
    if (!job.started) {
        proto::Speak speak;
        speak.id = job.id;
        speak.wpm = static_cast<std::uint32_t>(std::max(job.wpm, 0));
        speak.baseOffset = job.baseOffset;
        speak.final = final;
        speak.voice = job.voice;
        speak.batch = job.batch;
        speak.text = std::move(piece);
        frame = proto::encode(speak);
        job.started = true;
    } else {
        frame = proto::encode(proto::SpeakMore{job.id, final, std::move(piece)});
    }
    job.position += n;
    return writeAll(fd, frame);
}

void SynthClient::writerLoop(int fd) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_writerQuit || !m_outgoing.empty(); });
        if (m_writerQuit)
            return;
        Outgoing item = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        lock.unlock();
        bool ok = true;
        if (!item.isJob) {
            ok = writeAll(fd, item.frame);
        } else {
            do {
                ok = sendJobPiece(fd, item.job);
            } while (ok && item.job.position < item.job.text.size() &&
                     m_latestSpeak == item.job.id && !m_stopping);
        }
        lock.lock();
        if (!ok)
            m_outgoing.clear(); // the worker is gone; the reader reports it
    }
}

void SynthClient::readerLoop(int fd, pid_t pid) {
    proto::FrameReader frames;
    std::vector<std::uint8_t> buffer(65536);
    bool broken = false;
    while (!broken) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        try {
            frames.feed({buffer.data(), static_cast<std::size_t>(n)});
            while (auto message = frames.next()) {
                if (auto *audio = std::get_if<proto::Audio>(&*message)) {
                    if (m_handlers.audio)
                        m_handlers.audio(*audio);
                } else if (auto *sentence = std::get_if<proto::Sentence>(&*message)) {
                    if (m_handlers.sentence)
                        m_handlers.sentence(*sentence);
                } else if (auto *done = std::get_if<proto::Done>(&*message)) {
                    if (m_handlers.done)
                        m_handlers.done(*done);
                } else if (auto *error = std::get_if<proto::Error>(&*message)) {
                    if (m_handlers.error)
                        m_handlers.error(*error);
                } else if (std::holds_alternative<proto::Ready>(*message)) {
                    if (m_handlers.ready)
                        m_handlers.ready();
                } else if (auto *voices = std::get_if<proto::Voices>(&*message)) {
                    if (m_handlers.voices)
                        m_handlers.voices(*voices);
                }
            }
        } catch (const proto::ProtocolError &) {
            // A worker that talks nonsense is as good as dead: end it and start afresh.
            ::kill(pid, SIGKILL);
            broken = true;
        }
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid)
        m_pid = -1;
    m_running = false;
    if (!m_stopping && m_handlers.died)
        m_handlers.died(status);
}

} // namespace speech
