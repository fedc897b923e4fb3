#include "SinkClock.h"

#include "BenchSupport.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace bench {
namespace {

constexpr int kRate = 48000; // the test sink's own rate: nothing is resampled on the way
constexpr int kBlock = kRate / 1000;
constexpr int kLoud = 300; // well above dither, well below the quietest speech onset
constexpr qint64 kSampleNs = 1000000000 / kRate;

} // namespace

SinkClock::SinkClock()
    : m_thread([this] { listen(); }) {
    // Data flows only once the monitor runs; wait for the first blocks.
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::seconds(5), [this] { return m_blocks.size() > 50; });
}

SinkClock::~SinkClock() {
    m_stop = true;
    m_thread.join();
}

void SinkClock::listen() {
    pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = kBlock * 2;
    int error = 0;
    pa_simple *in = pa_simple_new(nullptr, "parlivo-bench", PA_STREAM_RECORD, "test.monitor",
                                  "sink clock", &format, nullptr, &attr, &error);
    if (!in) {
        m_arrived.notify_all();
        return;
    }
    m_listening = true;
    std::array<std::int16_t, kBlock> samples{};
    while (!m_stop) {
        if (pa_simple_read(in, samples.data(), sizeof samples, &error) < 0)
            break;
        const qint64 end = nowNs();
        Block block{end, 0, 0};
        for (int i = 0; i < kBlock; ++i) {
            if (std::abs(int(samples[i])) < kLoud)
                continue;
            const qint64 at = end - qint64(kBlock - 1 - i) * kSampleNs;
            if (block.firstLoudNs == 0)
                block.firstLoudNs = at;
            block.lastLoudNs = at;
        }
        {
            std::lock_guard lock(m_mutex);
            m_blocks.push_back(block);
            while (m_blocks.size() > 60000)
                m_blocks.pop_front();
        }
        m_arrived.notify_all();
    }
    pa_simple_free(in);
    m_listening = false;
}

std::optional<qint64> SinkClock::soundAfter(qint64 afterNs, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(m_mutex);
    std::size_t next = 0;
    while (true) {
        for (; next < m_blocks.size(); ++next) {
            const Block &b = m_blocks[next];
            if (b.firstLoudNs > afterNs)
                return b.firstLoudNs;
            if (b.lastLoudNs > afterNs) // loud within the block that holds the moment
                return afterNs;
        }
        if (m_arrived.wait_until(lock, deadline) == std::cv_status::timeout)
            return std::nullopt;
        // Blocks may have been dropped from the front: start again.
        next = 0;
    }
}

std::optional<qint64> SinkClock::silenceAfter(qint64 afterNs, int quietMs, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(m_mutex);
    while (true) {
        qint64 lastLoud = afterNs;
        for (const Block &b : m_blocks) {
            if (b.endNs <= afterNs)
                continue;
            if (b.lastLoudNs > lastLoud)
                lastLoud = b.lastLoudNs;
            if (b.endNs - lastLoud >= qint64(quietMs) * 1000000)
                return lastLoud;
        }
        if (m_arrived.wait_until(lock, deadline) == std::cv_status::timeout)
            return std::nullopt;
    }
}

bool SinkClock::waitForQuiet(int quietMs, int timeoutMs) {
    return silenceAfter(nowNs(), quietMs, timeoutMs).has_value();
}

} // namespace bench
