#include "config/StoreProof.h"

#include "link/Module1.h"

namespace vardel {

namespace {

// Counts what the link would have shown: a silent meter is expected here.
class QuietErrors final : public ErrorWindows {
public:
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override {}
    int transmit = 0;
};

} // namespace

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

    if (steps.follow)
        steps.follow(steps.after);
    const auto toStart = std::chrono::nanoseconds(kStartBound);
    if (!waitUntilMeterAnswers(link, toStart, report(RestartStep::Starting, toStart)))
        return {false, RestartStep::Starting};
    return {true, RestartStep::Starting};
}

} // namespace vardel
