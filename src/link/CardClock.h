#pragma once

#include <chrono>

namespace vardel {

// Time as the card lives it. The simulated card counts its own time (every
// port operation, every byte on the wire, every pause of a meter), so that a
// bound or a figure taken from it is what a real card would give; a real card
// lives in the PC's own time. Readers: the bus monitor, the waits for a meter
// that stores or restarts, the benchmarks.
class CardClock {
public:
    virtual ~CardClock() = default;
    // Since some fixed moment; only differences mean anything.
    virtual std::chrono::nanoseconds cardTime() const = 0;
};

// The PC's steady clock, for a real card.
class SteadyCardClock final : public CardClock {
public:
    std::chrono::nanoseconds cardTime() const override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

} // namespace vardel
