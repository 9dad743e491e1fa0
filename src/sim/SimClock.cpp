#include "sim/SimClock.h"

#include "link/MeterModels.h"

namespace vardel {

void SimClock::setWall(Wall wall)
{
    m_wall = std::move(wall);
    if (m_wall) {
        m_wallMark = m_wall();
        m_cardMark = m_now;
    }
}

SimClock::Wall SimClock::steadyWall()
{
    return [] {
        return std::chrono::duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    };
}

void SimClock::catchUpWithWall() const
{
    if (!m_wall)
        return;
    // Card time never runs slower than the PC's: what the wall clock gained
    // beyond the card's own count since the last look is idle time.
    const nanoseconds wall = m_wall();
    const nanoseconds idle = (wall - m_wallMark) - (m_now - m_cardMark);
    if (idle > nanoseconds::zero())
        m_now += idle;
    m_wallMark = wall;
    m_cardMark = m_now;
}

void SimClock::ignoreWallSoFar()
{
    if (!m_wall)
        return;
    m_wallMark = m_wall();
    m_cardMark = m_now;
}

nanoseconds SimClock::wireTime(int bytes, int baudCode)
{
    return vardel::wireTime(bytes, static_cast<std::int16_t>(baudCode));
}

} // namespace vardel
