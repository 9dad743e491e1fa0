#pragma once

#include "config/LinkGuard.h"

#include <chrono>
#include <functional>
#include <optional>

#include <QString>

namespace vardel {

class Module1;

// How long, on the card's clock, a meter may stay silent before the program
// gives it up. A store takes time for every register (the simulated meter
// 10 ms each: 2.55 s for a KX-4); the bound allows twice that and two
// seconds more, so a slower EEPROM passes while a meter that never comes back
// is named within seconds. A start takes the simulated meter one second; five
// are allowed.
std::chrono::nanoseconds storeBound(int registerCount);
inline constexpr std::chrono::seconds kStartBound{5};

// Reads register 0 of the model, a read that changes nothing, until the meter
// answers or `bound` of card time has passed (each silent try is one whole
// reply wait). The link's error windows stay shut meanwhile: silence is what
// is waited out here. `waited` hears the card time gone after each try.
bool waitUntilMeterAnswers(Module1& link, std::chrono::nanoseconds bound,
                           const std::function<void(std::chrono::nanoseconds waited)>& waited = {});

// Whether anyone answers at `at` (one read of register 0 of the selected
// model, with the reply wait in force; the link goes back where it was
// afterwards). `identify` runs while the link is still at `at` and names
// what answered there (by default its model, as the model check tells it).
// Nothing when nobody answers.
using IdentifyMeter = std::function<QString(Module1& link)>;
std::optional<QString> meterAnsweringAt(Module1& link, const MeterLink& at, const IdentifyMeter& identify = {});
// „Pod adresem 7 z prędkością 9600 bodów odpowiada już inny miernik (KX-3);
// miernika nie przeniesiono.”
QString linkTakenText(const MeterLink& at, const QString& found);
// What a store that did not take leaves: the meter restarted from what its
// EEPROM held before.
QString storeLostText();

// After an EEPROM store request: the steps that make the meter run on what
// its EEPROM kept, never resetting it while it may still be storing.
// ResetIgnored: the meter answered at once after the reset, which a meter
// that starts never does: the reset was not taken.
enum class RestartStep { Storing, Reset, ResetIgnored, Starting };
struct RestartOutcome {
    bool ok = false;
    RestartStep failedAt = RestartStep::Storing;
    // Starting failed at a new link, and the meter answers at the old one:
    // it started from its old EEPROM (the store did not take); the link has
    // been followed back there.
    bool backAtOldLink = false;
};
struct RestartSteps {
    // Where the meter answers once started, and how the program follows it
    // there (the command line moves the link; the window its own controls).
    MeterLink after;
    std::function<void(const MeterLink&)> follow;
    // Each wait in turn: the step, the card time waited and the bound.
    std::function<void(RestartStep, std::chrono::nanoseconds waited, std::chrono::nanoseconds bound)> progress;
};
// Waits until the meter answers again (the store is over), sends the reset,
// sees it silent while it starts (one unanswered read at once), follows it
// to `after` and waits until it answers there.
RestartOutcome restartAfterStore(Module1& link, const RestartSteps& steps);

} // namespace vardel
