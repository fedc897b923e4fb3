#include "CommandListener.h"

#include "Recogniser.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <QThread>

#include <cstring>
#include <vector>

namespace voicecommands {

namespace {

// A sound server may take a couple of seconds to deliver the first audio from an idle source;
// only if nothing at all arrives for this long is the input reported as broken.
constexpr qint64 kNoAudioAtAllMs = 8000;
constexpr int kTickMs = 100;

} // namespace

CommandListener::CommandListener(QObject *parent)
    : QObject(parent)
    , m_tick(this) {
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &CommandListener::onTick);
}

CommandListener::~CommandListener() {
    closeInput();
}

void CommandListener::listen() {
    if (m_source)
        return;
    if (!m_recogniser) {
        try {
            m_recogniser = std::make_unique<Recogniser>();
        } catch (const RecogniserError &error) {
            emit failed(QString::fromStdString(error.what()));
            return;
        }
    }
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        emit failed(tr("No microphone or sound input is available."));
        return;
    }
    QAudioFormat format;
    format.setSampleRate(Recogniser::kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    m_source = std::make_unique<QAudioSource>(device, format);
    // Small reads keep the endpointer's view of the time close to the real one.
    m_source->setBufferSize(Recogniser::kSampleRate * 2 / 10);
    m_input = m_source->start();
    if (!m_input || m_source->error() != QAudio::NoError) {
        closeInput();
        emit failed(tr("The sound input could not be opened."));
        return;
    }
    connect(m_input, &QIODevice::readyRead, this, &CommandListener::onAudioReady);
    m_endpointer.reset();
    m_receiving = false;
    m_sinceStart.start();
    m_tick.start();
}

void CommandListener::onAudioReady() {
    if (!m_input)
        return;
    const QByteArray bytes = m_input->readAll();
    if (bytes.isEmpty())
        return;
    if (!m_receiving) {
        m_receiving = true;
        emit listening();
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    const Endpointer::State state = m_endpointer.feed(samples);
    if (state == Endpointer::State::Done || state == Endpointer::State::TimedOut)
        finish();
}

void CommandListener::onTick() {
    if (!m_source)
        return;
    if (m_source->error() != QAudio::NoError && m_source->error() != QAudio::UnderrunError) {
        closeInput();
        emit failed(tr("The sound input stopped working."));
    } else if (!m_receiving && m_sinceStart.elapsed() > kNoAudioAtAllMs) {
        closeInput();
        emit failed(tr("The sound input delivers no audio."));
    }
}

void CommandListener::finish() {
    closeInput();
    if (m_endpointer.state() != Endpointer::State::Done) {
        emit nothingHeard();
        return;
    }
    try {
        const Recognition result = m_recogniser->recognise(m_endpointer.utterance());
        emit heard(result.command ? static_cast<int>(*result.command) : -1,
                   QString::fromStdString(result.words));
    } catch (const RecogniserError &error) {
        emit failed(QString::fromStdString(error.what()));
    }
}

void CommandListener::closeInput() {
    m_tick.stop();
    if (m_input)
        disconnect(m_input, nullptr, this, nullptr);
    m_input = nullptr;
    if (m_source) {
        m_source->stop();
        // Usually called from the input's own readyRead: deleting it there would pull the
        // object out from under the signal that is still being delivered.
        m_source.release()->deleteLater();
    }
}

} // namespace voicecommands
