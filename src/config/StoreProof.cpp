#include "config/StoreProof.h"

#include "link/ModelCheck.h"
#include "link/Module1.h"

namespace vardel {

std::chrono::nanoseconds storeBound(int registerCount)
{
    return std::chrono::seconds(2) + 2 * std::chrono::milliseconds(10) * registerCount;
}

bool waitUntilMeterAnswers(Module1& link, std::chrono::nanoseconds bound,
                           const std::function<void(std::chrono::nanoseconds)>& waited)
{
    ErrorWindows* shown = link.errorWindows();
    QuietErrors quiet;
    link.setErrorWindows(&quiet);
    const CardClock& clock = link.cardClock();
    const auto start = clock.cardTime();
    bool answered = false;
    // A card that does not even send gives up at once: no meter can answer.
    while (!link.stopRequested() && quiet.transmit == 0) {
        float value = 0.0f;
        std::int16_t flag = 1;
        link.ReadConfigReg(0, value, flag);
        const auto gone = clock.cardTime() - start;
        if (waited)
            waited(gone);
        if (flag == 0) {
            answered = true;
            break;
        }
        if (gone >= bound)
            break;
    }
    link.setErrorWindows(shown);
    return answered;
}

std::optional<QString> meterAnsweringAt(Module1& link, const MeterLink& at, const IdentifyMeter& identify)
{
    const Module1::Busy busy(link);
    const MeterLink before = linkInUse(link);
    ErrorWindows* shown = link.errorWindows();
    QuietErrors quiet;
    link.setErrorWindows(&quiet);
    // The main window's buttons would load their own baud rate: the look
    // goes where it is told, and the card gets the window's link back after.
    const LinkControls* controls = link.controls();
    link.setControls(nullptr);
    useLink(link, at);
    float value = 0.0f;
    std::int16_t flag = 1;
    link.ReadConfigReg(0, value, flag);
    std::optional<QString> found;
    if (flag == 0)
        found = identify ? identify(link) : modelText(checkMeterModel(link));
    link.setErrorWindows(shown);
    useLink(link, before);
    link.setControls(controls);
    if (controls)
        link.CardSetLink();
    return found;
}

QString linkTakenText(const MeterLink& at, const QString& found)
{
    QString place = linkPlaceText(at);
    place[0] = place[0].toUpper();
    return QStringLiteral("%1 odpowiada już inny miernik%2; miernika nie przeniesiono.")
        .arg(place, found.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(found));
}

QString storeLostText()
{
    return QStringLiteral("Miernik wrócił do poprzedniej konfiguracji z pamięci EEPROM — zapis w EEPROM się nie udał.");
}

RestartOutcome restartAfterStore(Module1& link, const RestartSteps& steps)
{
    const auto report = [&steps](RestartStep step, std::chrono::nanoseconds bound) {
        return [&steps, step, bound](std::chrono::nanoseconds gone) {
            if (steps.progress)
                steps.progress(step, gone, bound);
        };
    };
    const Module1::Busy busy(link);
    const auto toStore = storeBound(regCountOf(link.MeterModel));
    if (!waitUntilMeterAnswers(link, toStore, report(RestartStep::Storing, toStore)))
        return {false, RestartStep::Storing};

    // A reset that is not sent the link shows as any failed send.
    if (link.SendMeterReset() != 0)
        return {false, RestartStep::Reset};
    const CardClock& clock = link.cardClock();
    const auto resetAt = clock.cardTime();
    // A meter that starts hears nothing for a while; one that answers at
    // once, where it was, never restarted and runs on its RAM: whatever it
    // gives back proves nothing of its EEPROM. The look counts towards the
    // start's bound.
    const MeterLink before = linkInUse(link);
    if (meterAnsweringAt(link, before))
        return {false, RestartStep::ResetIgnored};

    if (steps.follow)
        steps.follow(steps.after);
    const auto toStart = std::chrono::nanoseconds(kStartBound);
    const auto looked = clock.cardTime() - resetAt;
    const auto started = [&steps, looked, toStart](std::chrono::nanoseconds gone) {
        if (steps.progress)
            steps.progress(RestartStep::Starting, looked + gone, toStart);
    };
    if (!waitUntilMeterAnswers(link, toStart - looked, started)) {
        RestartOutcome lost{false, RestartStep::Starting};
        // Silent where it should be: if it answers where it was, it started
        // from the EEPROM it had, and the store did not take.
        if (steps.after != before && !link.stopRequested() && meterAnsweringAt(link, before)) {
            lost.backAtOldLink = true;
            if (steps.follow)
                steps.follow(before);
        }
        return lost;
    }
    return {true, RestartStep::Starting};
}

} // namespace vardel
