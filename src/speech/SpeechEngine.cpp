#include "SpeechEngine.h"

#include "AudioOutput.h"
#include "PcmQueue.h"
#include "ReplyReader.h"
#include "SynthClient.h"
#include "VoiceChoice.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sys/wait.h>

namespace speech {
namespace proto = parlivo::proto;

namespace {
// Half a second of queued audio at espeak-ng's rate; the worker's pipe holds a little more.
constexpr std::size_t kQueueSamples = kDefaultSampleRate / 2;
} // namespace

// Every public function is the UI thread's; a call from elsewhere would race the handlers.
#define PARLIVO_ON_UI_THREAD() Q_ASSERT(QThread::currentThread() == thread())

SpeechEngine::SpeechEngine(QObject *parent, const QString &workerProgram)
    : Engine(parent)
    , m_queue(std::make_unique<PcmQueue>(kQueueSamples))
    , m_timeline(std::make_unique<Timeline>())
    , m_voice(kAutomaticVoice) {
    qRegisterMetaType<speech::EngineError>();

    // Often enough that a new language shows with its first words, rarely enough to cost nothing.
    m_languagePoll = new QTimer(this);
    m_languagePoll->setInterval(100);
    connect(m_languagePoll, &QTimer::timeout, this, &SpeechEngine::pollLanguage);

    m_audioThread.setObjectName(QStringLiteral("parlivo-audio"));
    m_output = new AudioOutput(*m_queue, m_outputHeld);
    m_output->moveToThread(&m_audioThread);
    connect(m_output, &AudioOutput::failed, this,
            [this](quint64 generation, const QString &reason) {
                // A request given up since (by stop() or a newer speak()) is past; the newer one
                // opens its own output and reports for itself.
                if (generation != m_generation)
                    return;
                // Nothing more of this request can be heard: give it up, so that the worker is not
                // left blocked on a queue nobody empties, and the next speak() starts afresh.
                dropRequest();
                m_interrupted.reset();
                setSpeaking(false);
                emit errorOccurred(EngineError(EngineError::AudioOutput, reason));
            });
    connect(m_output, &AudioOutput::drained, this, &SpeechEngine::onDrained);
    m_audioThread.start();
    QMetaObject::invokeMethod(m_output, [this] { m_output->warmUp(kDefaultSampleRate); });
    // The first look at the device list connects Qt to the sound server (about 1.5 ms): done
    // once the window is up rather than on the first click of ">".
    QTimer::singleShot(0, this, [] { QMediaDevices::defaultAudioOutput(); });

    m_replies = std::make_unique<ReplyReader>(*m_queue, *m_timeline, *m_output, m_firstAudioSeen);
    connect(m_replies.get(), &ReplyReader::workerReady, this, &SpeechEngine::workerReady,
            Qt::QueuedConnection);
    connect(
        m_replies.get(), &ReplyReader::synthesisFailed, this,
        [this](const QString &text) {
            emit errorOccurred(EngineError(EngineError::Synthesis, text));
        },
        Qt::QueuedConnection);
    connect(
        m_replies.get(), &ReplyReader::voicesListed, this,
        [this](const QList<Voice> &voices) {
            m_voices = voices;
            emit voicesChanged();
        },
        Qt::QueuedConnection);
    connect(m_replies.get(), &ReplyReader::workerDied, this, &SpeechEngine::onWorkerDied,
            Qt::QueuedConnection);
    m_client = std::make_unique<SynthClient>(workerProgram.isEmpty() ? SynthClient::defaultProgram()
                                                                     : workerProgram,
                                             m_replies->handlers());
    try {
        m_client->ensureRunning();
        m_client->listVoices();
    } catch (const EngineError &) {
        // Reported by the first speak(), which tries again.
    }
}

SpeechEngine::~SpeechEngine() {
    // Wake a reader blocked on a full queue before ending the worker it reads from.
    m_queue->close();
    m_client->shutdown();
    // The output is deleted on its own thread once that thread's event loop has ended, so that
    // none of its queued slots can still be waiting to run on it. (The reader thread, which
    // wakes it too, has ended with the worker.)
    connect(&m_audioThread, &QThread::finished, m_output, &QObject::deleteLater);
    m_audioThread.quit();
    m_audioThread.wait();
}

void SpeechEngine::ensureAudioDevice() const {
    if (QMediaDevices::defaultAudioOutput().isNull())
        throw EngineError(EngineError::NoAudioDevice, tr("No audio output device is available"));
}

void SpeechEngine::speak(const QString &text, qsizetype from) {
    PARLIVO_ON_UI_THREAD();
    ensureAudioDevice();
    m_client->ensureRunning();
    m_interrupted.reset();
    m_previewOverIdle = false;
    if (m_paused != m_outputHeld) { // a preview played through the pause: it is over
        m_outputHeld = m_paused.load();
        QMetaObject::invokeMethod(m_output, [this] { m_output->pauseOutput(); });
    }
    m_text = text;
    ++m_session;
    startRequest(std::clamp<qsizetype>(from, 0, text.size()));
    emit speechStarted({m_session, m_text, m_requestStart, false});
}

int SpeechEngine::voiceRate() const {
    for (const Voice &v : m_voices)
        if (v.id == m_voice && v.sampleRate > 0)
            return v.sampleRate;
    return kDefaultSampleRate;
}

Engine::State SpeechEngine::state() const {
    if (m_paused)
        return State::Paused;
    return m_speaking ? State::Speaking : State::Idle;
}

void SpeechEngine::updateState() {
    const State now = state();
    if (now == m_reportedState)
        return;
    m_reportedState = now;
    emit stateChanged(now);
}

void SpeechEngine::startRequest(qsizetype from) {
    const quint64 previous = m_generation;
    ++m_generation;
    m_requestStart = from;
    m_firstAudioSeen = false;
    m_timeline->reset(m_generation);
    m_queue->reset(m_generation);
    m_output->newGeneration();
    if (previous != 0)
        m_client->cancel(previous);
    m_client->speak(m_generation, m_text, from, m_wpm, workerVoice(m_voice));
    // Have the sound server's stream ready by the time the first audio arrives.
    const int rate = voiceRate();
    QMetaObject::invokeMethod(m_output, [this, rate] { m_output->prepare(rate); });
    setSpeaking(true);
}

void SpeechEngine::speakPreview(const QString &text) {
    PARLIVO_ON_UI_THREAD();
    ensureAudioDevice();
    m_client->ensureRunning();
    // A second preview replaces the first, not what the first interrupted.
    if (!m_interrupted && !m_previewOverIdle) {
        if (m_speaking) {
            const auto word = m_timeline->wordAt(m_output->heardSamples());
            m_interrupted = Interrupted{m_text, word ? word->offset : m_requestStart, m_session};
        } else {
            m_previewOverIdle = true;
        }
    }
    m_text = text;
    ++m_session;
    startRequest(0);
    if (m_outputHeld) {
        // Heard at once, through the pause; the pause itself stays (isPaused()).
        m_outputHeld = false;
        QMetaObject::invokeMethod(m_output, [this] { m_output->resumeOutput(); });
    }
    emit speechStarted({m_session, m_text, 0, true});
}

void SpeechEngine::goOnAfterPreview() {
    const std::optional<Interrupted> interrupted = std::exchange(m_interrupted, std::nullopt);
    m_previewOverIdle = false;
    if (m_paused && !m_outputHeld) {
        m_outputHeld = true;
        QMetaObject::invokeMethod(m_output, [this] { m_output->pauseOutput(); });
    }
    if (!interrupted || !m_client->isRunning()) {
        setSpeaking(false);
        return;
    }
    // Loaded again from the interrupted word: heard now, or on resume() if paused.
    m_text = interrupted->text;
    m_session = interrupted->session;
    startRequest(interrupted->from);
    emit speechStarted({m_session, m_text, m_requestStart, false});
}

void SpeechEngine::stop() {
    PARLIVO_ON_UI_THREAD();
    m_interrupted.reset();
    m_previewOverIdle = false;
    if (m_paused != m_outputHeld)
        m_outputHeld = m_paused.load();
    dropRequest();
    QMetaObject::invokeMethod(m_output, [this] { m_output->stopOutput(); });
    setSpeaking(false);
}

void SpeechEngine::dropRequest() {
    const quint64 previous = m_generation;
    ++m_generation;
    m_timeline->reset(m_generation);
    m_queue->reset(m_generation);
    m_queue->finish(m_generation);
    if (m_client->isRunning())
        m_client->cancel(previous);
}

void SpeechEngine::pause() {
    PARLIVO_ON_UI_THREAD();
    m_paused = true;
    m_outputHeld = true;
    QMetaObject::invokeMethod(m_output, [this] { m_output->pauseOutput(); });
    updateState();
}

void SpeechEngine::resume() {
    PARLIVO_ON_UI_THREAD();
    m_paused = false;
    m_outputHeld = false;
    QMetaObject::invokeMethod(m_output, [this] { m_output->resumeOutput(); });
    updateState();
}

void SpeechEngine::setSpeed(int wpm) {
    PARLIVO_ON_UI_THREAD();
    m_wpm = wpm;
    restartFromHeardWord();
    emit speedChanged(wpm);
}

void SpeechEngine::setVoice(const QString &id) {
    PARLIVO_ON_UI_THREAD();
    m_voice = id;
    restartFromHeardWord();
}

void SpeechEngine::restartFromHeardWord() {
    if (!m_speaking || !m_client->isRunning())
        return;
    // Say the rest again with the new setting, from the start of the word being heard, so the
    // change is heard within a word rather than at the next paragraph.
    const auto word = m_timeline->wordAt(m_output->heardSamples());
    startRequest(word ? word->offset : m_requestStart);
}

std::optional<TextRange> SpeechEngine::currentWord() const {
    if (!m_speaking)
        return std::nullopt;
    return m_timeline->wordAt(m_output->heardSamples());
}

std::optional<TextRange> SpeechEngine::currentSentence() const {
    if (!m_speaking)
        return std::nullopt;
    return m_timeline->sentenceAt(m_output->heardSamples());
}

qint64 SpeechEngine::workerPid() const {
    return m_client->pid();
}
qint64 SpeechEngine::firstFrameNs() const {
    return m_output->firstFrameNs();
}
qint64 SpeechEngine::lastFrameNs() const {
    return m_output->lastFrameNs();
}
qint64 SpeechEngine::sinkBufferedSamples() const {
    return m_output->sinkBufferedSamples();
}
int SpeechEngine::underruns() const {
    return m_output->underruns();
}
std::uint64_t SpeechEngine::heardSamples() const {
    return m_output->heardSamples();
}

void SpeechEngine::onWorkerDied(int status) {
    // A worker that ended while it had nothing to say (we shut it, or it was idle) is restarted
    // quietly by the next request; one that died while speaking is reported once.
    if (!m_speaking)
        return;
    m_interrupted.reset(); // nothing to go on with: the speech is over, with this error
    m_previewOverIdle = false;
    QString how = tr("The speech synthesiser stopped unexpectedly");
    if (WIFSIGNALED(status))
        how += tr(" (signal %1)").arg(WTERMSIG(status));
    // With no audio of this request yet, nothing is left to drain: speech is over now.
    if (!m_firstAudioSeen)
        setSpeaking(false);
    emit errorOccurred(EngineError(EngineError::WorkerDied, how));
}

void SpeechEngine::onDrained(quint64 generation) {
    if (generation != m_generation)
        return;
    if (m_interrupted || m_previewOverIdle)
        goOnAfterPreview();
    else
        setSpeaking(false);
}

void SpeechEngine::setSpeaking(bool speaking) {
    if (m_speaking == speaking)
        return;
    m_speaking = speaking;
    if (speaking)
        m_languagePoll->start();
    else
        m_languagePoll->stop();
    pollLanguage();
    updateState();
}

void SpeechEngine::pollLanguage() {
    const QString now =
        m_speaking && m_firstAudioSeen
            ? QString::fromStdString(m_timeline->languageAt(m_output->heardSamples()))
            : QString();
    if (now == m_language)
        return;
    m_language = now;
    emit languageChanged(now);
}

} // namespace speech
