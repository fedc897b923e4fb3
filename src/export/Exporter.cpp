#include "Exporter.h"

#include "Engine.h"
#include "ExportError.h"
#include "Segments.h"
#include "Speeds.h"
#include "SynthClient.h"
#include "VoiceChoice.h"
#include "WorkerLane.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace audioexport {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting export looks at the cancel flag, which its owner sets without knowing
// about our queues.
constexpr std::chrono::milliseconds kCancelPoll{20};
constexpr std::chrono::milliseconds kProgressInterval{100};

// About two minutes of speech at the default speed, a little more than what a lane holds: a
// lane renders most of a segment ahead while the file takes the others', and the rest while the
// file takes its own, so two lanes keep two cores busy. Larger segments would stall the lanes on
// full queues, smaller ones pay more often for the fork that renders each one and the round trip
// to ask for it (about 3 ms).
constexpr qsizetype kSegmentUnitsAtDefaultSpeed = 2000;

// Slower speech makes more audio of the same text: keep the audio per segment about the same.
qsizetype segmentUnits(int wpm) {
    const int speed = wpm > 0 ? wpm : parlivo::kDefaultWpm;
    return std::clamp<qsizetype>(kSegmentUnitsAtDefaultSpeed * speed / parlivo::kDefaultWpm, 500,
                                 6000);
}

class ProgressReporter {
public:
    ProgressReporter(const Exporter::ProgressHandler &handler, qsizetype total)
        : m_handler(handler) {
        m_progress.textTotal = total;
    }
    void update(qsizetype textDone, const PendingAudioFile &file, bool force = false) {
        m_progress.textDone = std::max(m_progress.textDone, textDone);
        if (!m_handler)
            return;
        const auto now = Clock::now();
        if (!force && now - m_last < kProgressInterval)
            return;
        m_last = now;
        m_progress.frames = file.frames();
        m_progress.sampleRate = file.sampleRate();
        m_handler(m_progress);
    }

private:
    const Exporter::ProgressHandler &m_handler;
    ExportProgress m_progress;
    Clock::time_point m_last{};
};

} // namespace

Exporter::Exporter(ExportRequest request)
    : m_request(std::move(request)) {}

ExportResult Exporter::run(const std::atomic<bool> &cancel, const ProgressHandler &progress) {
    // The file first: a folder we cannot write to fails before any synthesis.
    PendingAudioFile file(m_request.path, m_request.format);
    ProgressReporter reporter(progress, m_request.text.size());

    const std::vector<Segment> segments =
        splitIntoSegments(m_request.text, m_request.segmentUnits > 0 ? m_request.segmentUnits
                                                                     : segmentUnits(m_request.wpm));
    const std::size_t laneCount = std::clamp<std::size_t>(
        std::size_t(std::max(m_request.workers, 1)), 1, std::max<std::size_t>(segments.size(), 1));

    // Segment i goes to lane i % laneCount, so the lanes take turns along the text.
    WorkerLane::Settings settings;
    settings.program = m_request.workerProgram.isEmpty() ? speech::SynthClient::defaultProgram()
                                                         : m_request.workerProgram;
    settings.wpm = m_request.wpm;
    settings.voice = speech::workerVoice(m_request.voice);
    settings.capacitySamples = kLaneSamples;
    BufferGauge gauge;
    std::vector<std::unique_ptr<WorkerLane>> lanes;
    struct GaugeReading { // keeps the peak even when we leave by an exception
        const BufferGauge &gauge;
        std::atomic<std::size_t> &peak;
        ~GaugeReading() { peak = gauge.peak(); }
    } reading{gauge, m_peakBuffered};
    if (!segments.empty()) {
        for (std::size_t lane = 0; lane < laneCount; ++lane) {
            std::vector<Segment> share;
            for (std::size_t i = lane; i < segments.size(); i += laneCount)
                share.push_back(segments[i]);
            lanes.push_back(
                std::make_unique<WorkerLane>(settings, m_request.text, std::move(share), gauge));
        }
    }

    std::vector<LaneItem> items;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        WorkerLane &lane = *lanes[i % laneCount];
        bool segmentDone = false;
        while (!segmentDone) {
            if (cancel.load())
                return {};
            items.clear();
            lane.take(items, kCancelPoll);
            for (LaneItem &item : items) {
                switch (item.kind) {
                case LaneItem::Kind::Audio:
                    if (!file.isOpen())
                        file.open(int(item.sampleRate));
                    else if (int(item.sampleRate) != file.sampleRate())
                        throw ExportError(ExportError::Synthesis,
                                          QStringLiteral("The speech synthesiser changed its "
                                                         "sample rate from %1 to %2 Hz")
                                              .arg(file.sampleRate())
                                              .arg(item.sampleRate));
                    file.write(item.samples);
                    break;
                case LaneItem::Kind::Sentence:
                    reporter.update(item.textOffset, file);
                    break;
                case LaneItem::Kind::SegmentEnd:
                    segmentDone = true;
                    break;
                case LaneItem::Kind::Failure:
                    throw ExportError(item.number, item.message);
                }
            }
        }
    }
    if (cancel.load())
        return {};
    lanes.clear(); // the workers are done; let them go before the file is finished
    file.commit(file.isOpen() ? file.sampleRate()
                              : (m_request.sampleRate > 0 ? m_request.sampleRate
                                                          : speech::kDefaultSampleRate));
    reporter.update(m_request.text.size(), file, true);
    return {true, file.frames(), file.sampleRate()};
}

} // namespace audioexport
