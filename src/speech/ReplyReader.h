#pragma once
// What the synthesis worker says, as Talker hears it.
//
// Thread: the handlers() run on the worker client's reader thread (SynthClient), never on the
// UI thread. Audio goes straight into the PCM queue and the timeline, which are made to be
// written from there, and the first audio of a request asks the audio thread to start playing
// (a queued call). Everything else is re-emitted as a signal; connect to them queued, so that
// Talker handles them on the UI thread.
//
// Replies arrive in the worker's order, and a push into a full queue blocks the reader (that is
// the flow control), so while speech is paused a reply behind a second of audio waits for it.
// Nothing needs one then: the voice list is asked for once, before any speech, and an error
// belongs after the audio of its own request.

#include "Engine.h"
#include "SynthClient.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>

namespace speech {

class AudioOutput;
class PcmQueue;
class Timeline;

class ReplyReader : public QObject {
    Q_OBJECT
public:
    // `firstAudioSeen` is cleared by Talker for each new request.
    ReplyReader(PcmQueue &queue, Timeline &timeline, AudioOutput &output,
                std::atomic<bool> &firstAudioSeen);

    // For the SynthClient: each runs on its reader thread.
    SynthClient::Handlers handlers();

signals:
    // All emitted on the reader thread.
    void workerReady();
    void synthesisFailed(const QString &message);
    void voicesListed(const QList<speech::Voice> &voices);
    void workerDied(int status);

private:
    void onAudio(parlivo::proto::Audio &audio);
    void onError(const parlivo::proto::Error &error);

    PcmQueue &m_queue;
    Timeline &m_timeline;
    AudioOutput &m_output;
    std::atomic<bool> &m_firstAudioSeen;
};

} // namespace speech
