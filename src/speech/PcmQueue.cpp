#include "PcmQueue.h"

#include <algorithm>
#include <cstring>

namespace speech {

PcmQueue::PcmQueue(std::size_t capacitySamples)
    : m_capacity(std::max<std::size_t>(capacitySamples, 1))
    , m_ring(m_capacity) {}

void PcmQueue::reset(std::uint64_t generation) {
    {
        std::scoped_lock lock(m_mutex);
        m_generation = generation;
        m_head = 0;
        m_count = 0;
        m_finished = false;
        m_consumed = 0;
    }
    m_space.notify_all();
}

bool PcmQueue::push(std::uint64_t generation, const std::int16_t *samples, std::size_t count) {
    std::unique_lock lock(m_mutex);
    while (count > 0) {
        m_space.wait(
            lock, [&] { return m_closed || m_generation != generation || m_count < m_capacity; });
        if (m_closed || m_generation != generation)
            return false;
        const std::size_t tail = (m_head + m_count) % m_capacity;
        const std::size_t n = std::min({count, m_capacity - m_count, m_capacity - tail});
        std::memcpy(m_ring.data() + tail, samples, n * sizeof(std::int16_t));
        m_count += n;
        samples += n;
        count -= n;
    }
    return true;
}

void PcmQueue::finish(std::uint64_t generation) {
    std::scoped_lock lock(m_mutex);
    if (m_generation == generation)
        m_finished = true;
}

void PcmQueue::close() {
    {
        std::scoped_lock lock(m_mutex);
        m_closed = true;
    }
    m_space.notify_all();
}

std::size_t PcmQueue::pop(std::int16_t *out, std::size_t max, std::uint64_t *generation) {
    std::size_t taken = 0;
    {
        std::scoped_lock lock(m_mutex);
        if (generation)
            *generation = m_generation;
        while (taken < max && m_count > 0) {
            const std::size_t n = std::min({max - taken, m_count, m_capacity - m_head});
            std::memcpy(out + taken, m_ring.data() + m_head, n * sizeof(std::int16_t));
            m_head = (m_head + n) % m_capacity;
            m_count -= n;
            taken += n;
        }
        m_consumed += taken;
    }
    if (taken > 0)
        m_space.notify_all();
    return taken;
}

bool PcmQueue::finished() const {
    std::scoped_lock lock(m_mutex);
    return m_finished && m_count == 0;
}

bool PcmQueue::hasAudio() const {
    std::scoped_lock lock(m_mutex);
    return m_count > 0;
}

std::size_t PcmQueue::size() const {
    std::scoped_lock lock(m_mutex);
    return m_count;
}

} // namespace speech
