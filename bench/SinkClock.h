#pragma once
// Listens to the test sound server's sink (through its monitor, in 1 ms blocks) and tells when
// sound started or stopped there, on the same monotonic clock as nowNs(). What every figure of
// "click to sound" is measured against, ours and the anchors' alike, so the monitor's own small
// latency is the same for all of them.

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace bench {

class SinkClock {
public:
    SinkClock();
    ~SinkClock();
    SinkClock(const SinkClock &) = delete;
    SinkClock &operator=(const SinkClock &) = delete;

    // False if no sound server could be listened to.
    bool isListening() const { return m_listening.load(); }
    // When the first loud sample after `afterNs` was at the sink; nothing within `timeoutMs`.
    std::optional<qint64> soundAfter(qint64 afterNs, int timeoutMs = 3000);
    // When the last loud sample after `afterNs` was at the sink, once `quietMs` of quiet have
    // followed it; nothing if it never went quiet within `timeoutMs`.
    std::optional<qint64> silenceAfter(qint64 afterNs, int quietMs = 120, int timeoutMs = 3000);
    // Blocks until the sink has been quiet for `quietMs`.
    bool waitForQuiet(int quietMs = 150, int timeoutMs = 5000);

private:
    struct Block {
        qint64 endNs;       // when its last sample was at the sink
        qint64 firstLoudNs; // 0: none
        qint64 lastLoudNs;
    };
    void listen();

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_listening{false};
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Block> m_blocks; // the last minute
};

} // namespace bench
