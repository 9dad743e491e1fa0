#pragma once

#include "link/CardClock.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace vardel {

using std::chrono::nanoseconds;

// The simulated card's time. The simulator does in nanoseconds of the PC what
// a card does in milliseconds, so it keeps a time of its own: every port
// operation costs one ISA bus cycle, every byte on the wire its ten bits at
// the link's baud rate, every meter its pauses. Flags flip when this time has
// come, so a wait polls as often as it would on a real card.
//
// An idle PC lets time pass too (a user who reads a meter a minute after a
// store finds the store long done): when `wall` is set, the clock catches up
// with it whenever it is read from outside and at the start of every send,
// so an exchange timed from its start does not count the idle time before
// it. Tests and benchmarks leave it unset and get the same times every run.
// How the simulated card's time relates to the PC's while an exchange runs:
// Fast lets it run as fast as the PC can count it (tests, scripts); Real
// makes every exchange last its card time on the wall clock, as a real card's
// would, so that the windows can be seen at a real card's pace.
enum class SimPace { Fast, Real };

class SimClock final : public CardClock {
public:
    using Wall = std::function<nanoseconds()>;

    static constexpr nanoseconds kDefaultPortCycle{1000};

    // One port operation: hot, so inline and a compare beside the count.
    void tick()
    {
        m_now += m_portCycle;
        if (m_now >= m_paceAt)
            keepPace();
    }

    nanoseconds now() const { return m_now; }
    nanoseconds cardTime() const override
    {
        catchUpWithWall();
        return m_now;
    }
    void advance(nanoseconds by)
    {
        m_now += by;
        if (m_now >= m_paceAt)
            keepPace();
    }

    // Real: the card's time never runs ahead of the wall clock (set by
    // setWall, else the PC's steady clock); the PC sleeps to keep it so.
    // The sleep is the PC's own unless a test passes one that moves its wall.
    using Sleep = std::function<void(nanoseconds)>;
    void setPace(SimPace pace, Sleep sleep = {});
    SimPace pace() const { return m_paceAt == kNever ? SimPace::Fast : SimPace::Real; }

    nanoseconds portCycle() const { return m_portCycle; }
    void setPortCycle(nanoseconds cycle) { m_portCycle = cycle; }

    // Follow the PC's steady clock while idle (the programs do); null: never.
    void setWall(Wall wall);
    static Wall steadyWall();
    void catchUpWithWall() const;
    // The simulator's own work (writing its state file) is no time of the
    // card's: the wall time it took is not caught up with.
    void ignoreWallSoFar();

    // How long `bytes` bytes of a body take on the wire at a baud code
    // (0..5 = 1200..38400), framing included: the link's own wireTime.
    static nanoseconds wireTime(int bytes, int baudCode);

private:
    static constexpr nanoseconds kNever = nanoseconds::max();
    // How far the card may run ahead of the wall clock between two looks at
    // it: a sleep of the PC is never much finer than this anyway.
    static constexpr nanoseconds kPaceStep{1'000'000};

    void keepPace();

    nanoseconds m_paceAt = kNever; // card time of the next look at the wall clock
    Sleep m_sleep;
    mutable nanoseconds m_now{0}; // a look at the clock may bring it up to the wall's
    nanoseconds m_portCycle = kDefaultPortCycle;
    Wall m_wall;
    mutable nanoseconds m_wallMark{0}; // wall time at the last catch-up
    mutable nanoseconds m_cardMark{0}; // card time then
};

} // namespace vardel
