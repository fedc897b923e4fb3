#pragma once
// The bounded queue of audio between the thread that receives it from the worker (producer) and
// the audio thread (consumer). Audio carries a generation: a new request or a stop starts a new
// one, and audio of an older generation is dropped on the floor.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace speech {

class PcmQueue {
public:
    explicit PcmQueue(std::size_t capacitySamples);

    // Drops everything queued and from now on accepts only `generation`.
    void reset(std::uint64_t generation);
    // Blocks while the queue is full. Returns false (and drops the audio) if `generation` is not
    // the current one, or once close() was called.
    bool push(std::uint64_t generation, const std::int16_t *samples, std::size_t count);
    // No more audio will come for `generation`.
    void finish(std::uint64_t generation);
    // Wakes and refuses every producer, for shutting down.
    void close();

    // Takes up to `max` samples; never blocks. `generation`, if given, is set to the generation
    // they belong to.
    std::size_t pop(std::int16_t *out, std::size_t max, std::uint64_t *generation = nullptr);

    std::uint64_t generation() const { return m_generation.load(); }
    // Samples taken by the consumer since the last reset.
    std::uint64_t consumed() const { return m_consumed.load(); }
    bool finished() const; // the current generation is complete and fully taken
    bool hasAudio() const; // something is waiting to be taken
    std::size_t size() const;

private:
    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::condition_variable m_space;
    std::vector<std::int16_t> m_ring; // guarded by m_mutex
    std::size_t m_head = 0;           // guarded by m_mutex
    std::size_t m_count = 0;          // guarded by m_mutex
    bool m_finished = false;          // guarded by m_mutex
    bool m_closed = false;            // guarded by m_mutex
    std::atomic<std::uint64_t> m_generation{0};
    std::atomic<std::uint64_t> m_consumed{0};
};

} // namespace speech
