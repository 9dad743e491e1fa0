#include "sim/SimClock.h"

#include "link/MeterModels.h"

#include <thread>

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

void SimClock::setPace(SimPace pace, Sleep sleep)
{
    m_sleep = sleep ? std::move(sleep) : Sleep([](nanoseconds time) { std::this_thread::sleep_for(time); });
    if (pace == SimPace::Fast) {
        m_paceAt = kNever;
        return;
    }
    if (!m_wall)
        setWall(steadyWall());
    m_paceAt = m_now + kPaceStep;
}

void SimClock::keepPace()
{
    // The marks are where card and wall time were last found level (or the
    // card behind): card time gained since then beyond the wall's is slept.
    const nanoseconds ahead = (m_now - m_cardMark) - (m_wall() - m_wallMark);
    if (ahead > nanoseconds::zero())
        m_sleep(ahead);
    m_paceAt = m_now + kPaceStep;
}

nanoseconds SimClock::wireTime(int bytes, int baudCode)
{
    return vardel::wireTime(bytes, static_cast<std::int16_t>(baudCode));
}

} // namespace vardel
