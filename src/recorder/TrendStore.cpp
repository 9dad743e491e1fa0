#include "recorder/TrendStore.h"

#include <algorithm>
#include <limits>

namespace vardel {

TrendStore::TrendStore(int channels, std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1))
{
    reset(channels);
}

void TrendStore::reset(int channels)
{
    m_channels = std::max(channels, 0);
    m_head = 0;
    m_size = 0;
    m_times.assign(m_capacity, 0);
    m_kinds.assign(m_capacity, SampleKind::Break);
    m_values.assign(m_capacity * static_cast<std::size_t>(m_channels), std::numeric_limits<float>::quiet_NaN());
}

std::size_t TrendStore::push(qint64 ms, SampleKind kind)
{
    if (m_size > 0)
        ms = std::max(ms, time(m_size - 1));
    std::size_t s;
    if (m_size < m_capacity) {
        s = slot(m_size);
        ++m_size;
    } else {
        // Full: the oldest sample makes room.
        s = m_head;
        m_head = m_head + 1 < m_capacity ? m_head + 1 : 0;
    }
    m_times[s] = ms;
    m_kinds[s] = kind;
    return s;
}

void TrendStore::append(qint64 ms, std::span<const float> values)
{
    const std::size_t s = push(ms, SampleKind::Values);
    for (int c = 0; c < m_channels; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        m_values[ch * m_capacity + s] = ch < values.size() ? values[ch] : std::numeric_limits<float>::quiet_NaN();
    }
}

void TrendStore::appendEmpty(qint64 ms, SampleKind kind)
{
    append(ms, {});
    m_kinds[slot(m_size - 1)] = kind;
}

void TrendStore::appendFailure(qint64 ms)
{
    appendEmpty(ms, SampleKind::Failed);
}

void TrendStore::appendBreak(qint64 ms)
{
    appendEmpty(ms, SampleKind::Break);
}

void TrendStore::appendSkipped(qint64 ms)
{
    appendEmpty(ms, SampleKind::Skipped);
}

std::size_t TrendStore::lowerBound(qint64 ms) const
{
    std::size_t lo = 0;
    std::size_t hi = m_size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (time(mid) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t TrendStore::memoryBytes() const
{
    return m_times.capacity() * sizeof(qint64) + m_kinds.capacity() * sizeof(SampleKind)
        + m_values.capacity() * sizeof(float);
}

} // namespace vardel
