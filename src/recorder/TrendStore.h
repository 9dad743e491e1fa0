#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vardel {

// A day of refreshes at the default 1 s: the recorder keeps the newest this
// many samples of every value and lets the oldest go.
inline constexpr std::size_t kTrendCapacity = 86400;

// What a sample is: the values of a refresh (NaN for a value the reply did
// not carry), a refresh whose exchange failed, a break (the recording was
// paused) across which no line is drawn, or a refresh skipped because
// another exchange held the link (no line across it either: nobody looked).
enum class SampleKind : std::uint8_t { Values, Failed, Break, Skipped };

// The recorder's memory: a ring of samples, each a time in milliseconds on a
// steady clock and one float per value. Times never go back.
class TrendStore {
public:
    explicit TrendStore(int channels = 0, std::size_t capacity = kTrendCapacity);

    // Empties the store and sets the number of values per sample.
    void reset(int channels);

    void append(qint64 ms, std::span<const float> values); // missing values: NaN
    void appendFailure(qint64 ms);
    void appendBreak(qint64 ms);
    void appendSkipped(qint64 ms);

    int channels() const { return m_channels; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    bool empty() const { return m_size == 0; }

    // Sample i, 0 the oldest kept.
    qint64 time(std::size_t i) const { return m_times[slot(i)]; }
    SampleKind kind(std::size_t i) const { return m_kinds[slot(i)]; }
    float value(std::size_t i, int channel) const
    {
        return m_values[static_cast<std::size_t>(channel) * m_capacity + slot(i)];
    }

    // The first sample at or after ms (size() when none).
    std::size_t lowerBound(qint64 ms) const;

    // Calls f(time, kind, value) for samples begin..end-1 of a value, in
    // order: the fast way through a day of samples.
    template <class F>
    void forEach(std::size_t begin, std::size_t end, int channel, F&& f) const
    {
        const float* values = m_values.data() + static_cast<std::size_t>(channel) * m_capacity;
        std::size_t i = begin;
        while (i < end) {
            const std::size_t first = slot(i);
            const std::size_t run = std::min(end - i, m_capacity - first); // up to the ring's end
            for (std::size_t s = first; s < first + run; ++s)
                f(m_times[s], m_kinds[s], values[s]);
            i += run;
        }
    }

    // Bytes held for the samples, whatever is in use.
    std::size_t memoryBytes() const;

private:
    std::size_t slot(std::size_t i) const
    {
        const std::size_t s = m_head + i;
        return s < m_capacity ? s : s - m_capacity;
    }
    std::size_t push(qint64 ms, SampleKind kind);
    void appendEmpty(qint64 ms, SampleKind kind);

    int m_channels = 0;
    std::size_t m_capacity;
    std::size_t m_head = 0; // slot of the oldest sample
    std::size_t m_size = 0;
    std::vector<qint64> m_times;
    std::vector<SampleKind> m_kinds;
    std::vector<float> m_values; // channel by channel, m_capacity slots each
};

} // namespace vardel
