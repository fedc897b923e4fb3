#include "ReplyReader.h"

#include "AudioOutput.h"
#include "PcmQueue.h"
#include "Timeline.h"

#include <QMetaObject>

namespace speech {
namespace proto = parlivo::proto;

ReplyReader::ReplyReader(PcmQueue &queue, Timeline &timeline, AudioOutput &output,
                         std::atomic<bool> &firstAudioSeen)
    : m_queue(queue)
    , m_timeline(timeline)
    , m_output(output)
    , m_firstAudioSeen(firstAudioSeen) {}

SynthClient::Handlers ReplyReader::handlers() {
    SynthClient::Handlers h;
    h.audio = [this](proto::Audio &audio) {
        onAudio(audio);
    };
    h.sentence = [this](const proto::Sentence &s) {
        m_timeline.addSentence(s);
    };
    h.done = [this](const proto::Done &done) {
        m_queue.finish(done.id);
        m_output.wake();
    };
    h.error = [this](const proto::Error &error) {
        onError(error);
    };
    h.ready = [this] {
        emit workerReady();
    };
    h.voices = [this](const proto::Voices &list) {
        QList<Voice> voices;
        for (const auto &v : list.voices)
            voices.append({QString::fromStdString(v.id), QString::fromStdString(v.name),
                           QString::fromStdString(v.language), QString::fromStdString(v.engine),
                           static_cast<int>(v.sampleRate)});
        emit voicesListed(voices);
    };
    h.died = [this](int status) {
        // Wake the audio side at once: nothing more is coming for what is queued.
        m_queue.finish(m_queue.generation());
        // Told before the end of the speech can be: the window says why it stopped.
        emit workerDied(status);
        m_output.wake();
    };
    return h;
}

void ReplyReader::onAudio(proto::Audio &audio) {
    // The queue's generation is the request being heard; anything older was given up.
    if (audio.id != m_queue.generation())
        return;
    if (!m_firstAudioSeen.exchange(true)) {
        const int rate = static_cast<int>(audio.sampleRate);
        AudioOutput *output = &m_output;
        QMetaObject::invokeMethod(output, [output, rate] { output->play(rate); });
    }
    m_timeline.addWords(audio.id, audio.marks);
    m_timeline.forgetBefore(m_output.heardSamples());
    // Blocks while the queue is full: that is what keeps the worker about a second ahead.
    m_queue.push(audio.id, audio.samples.data(), audio.samples.size());
    // Written to the server now, not on its next request: a stream that ran dry asks no more.
    m_output.wake();
}

void ReplyReader::onError(const proto::Error &error) {
    if (error.id != 0 && error.id != m_queue.generation())
        return;
    m_queue.finish(error.id);
    emit synthesisFailed(QString::fromStdString(error.message));
    m_output.wake();
}

} // namespace speech
