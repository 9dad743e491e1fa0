// What the operations take on a real card, measured on the simulated card's
// own clock (its virtual time): one bus cycle per port operation, ten bits a
// byte at the baud rate, the meter's 20 ms response time. Each benchmark's
// "card_s" counter is that time per operation; the wall time beside it is
// only what the simulation costs the PC.
#include "cli/CliScan.h"
#include "config/ConfigTransfer.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace vardel;

struct Bench {
    explicit Bench(std::int16_t model, std::int16_t baudCode)
    {
        // The meters at the bench's baud rate (their EEPROM says so too).
        for (SimMeter& m : card.meters()) {
            m.baudCode = baudCode;
            m.setConfigValue(linkRegistersOf(m.model).baudCode, baudCode);
            m.eeprom = m.ram;
        }
        link.setCardClock(&card.cardClock());
        link.MeterModel = model;
        link.MeterAddress = static_cast<std::int16_t>(model + 1); // the factory network
        link.BaudCode = baudCode;
        link.CardSetLink();
        table.RegCount = regCountOf(model);
    }
    std::chrono::nanoseconds now() const { return card.cardClock().now(); }

    SimCard card; // card time alone: the PC's clock does not push it on
    Module1 link{card};
    RegisterTable table;
};

// Runs `op` once per iteration and gives its card time; `op` says whether it
// went as expected.
template <typename Op>
void onCard(benchmark::State& state, const Bench& b, const char* unexpected, Op op)
{
    std::chrono::nanoseconds total{0};
    for (auto _ : state) {
        const auto start = b.now();
        if (!op())
            state.SkipWithError(unexpected);
        total += b.now() - start;
    }
    state.counters["card_s"] = benchmark::Counter(std::chrono::duration<double>(total).count(),
                                                  benchmark::Counter::kAvgIterations);
}

const char* modelLabel(std::int64_t model) { return model == 0 ? "KX-2" : model == 1 ? "KX-3" : "KX-4"; }

// One configuration register read: {model, baud code}.
void BM_CardTime_ReadConfigReg(benchmark::State& state)
{
    Bench b(static_cast<std::int16_t>(state.range(0)), static_cast<std::int16_t>(state.range(1)));
    onCard(state, b, "no answer", [&b] {
        float value = 0.0f;
        std::int16_t flag = 1;
        b.link.ReadConfigReg(0, value, flag);
        return flag == 0;
    });
}
BENCHMARK(BM_CardTime_ReadConfigReg)->Args({1, 0})->Args({1, 4})->Unit(benchmark::kMicrosecond);

// A whole configuration read, and a whole write (no store): {model, baud code, write}.
void BM_CardTime_Configuration(benchmark::State& state)
{
    const bool write = state.range(2) != 0;
    state.SetLabel(std::string(modelLabel(state.range(0))) + (write ? " write" : " read"));
    Bench b(static_cast<std::int16_t>(state.range(0)), static_cast<std::int16_t>(state.range(1)));
    onCard(state, b, "stopped", [&b, write] {
        return (write ? WriteConfiguration(b.link, b.table, false, {}, std::chrono::milliseconds(0))
                      : ReadConfiguration(b.link, b.table))
            .complete;
    });
}
BENCHMARK(BM_CardTime_Configuration)
    ->ArgsProduct({{0, 1, 2}, {0, 4}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A failed exchange: a register read nobody answers (the address is silent),
// and one on a card that never shows ready.
void BM_CardTime_FailedExchange(benchmark::State& state)
{
    const bool dead = state.range(0) != 0;
    state.SetLabel(dead ? "dead card" : "silent address, 19200 baud");
    Bench b(kModelKX3, 4);
    b.link.MeterAddress = 99;
    b.link.CardSetLink();
    if (dead)
        b.card.setFault(QStringLiteral("dead-card"));
    onCard(state, b, "answered", [&b] {
        float value = 0.0f;
        std::int16_t flag = 0;
        b.link.ReadConfigReg(0, value, flag);
        return flag == 1;
    });
}
BENCHMARK(BM_CardTime_FailedExchange)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);

// scan over the factory network: every address at one baud rate (19200, and
// 1200 where nobody answers), and the default scan of all six.
void BM_CardTime_Scan(benchmark::State& state)
{
    const bool all = state.range(0) == 1;
    const bool slowest = state.range(0) == 2;
    state.SetLabel(all ? "6 baud rates x 256 addresses" : slowest ? "1200 baud x 256 addresses" : "19200 baud x 256 addresses");
    Bench b(kModelKX3, 4);
    LinkErrors errors;
    b.link.setErrorWindows(&errors);
    CliOptions options;
    if (!all)
        options.scanBauds = {static_cast<std::int16_t>(slowest ? 0 : 4)};
    CliContext context;
    int found = 0;
    context.out = [&found](const QString&) { ++found; };
    context.err = [](const QString&) {};
    context.rawErr = [](const QByteArray&) {};
    onCard(state, b, "the factory network was not found", [&] {
        found = 0;
        const int code = runScan(b.link, errors, options, context);
        return slowest ? code == 1 && found == 0 : code == 0 && found == 3;
    });
}
BENCHMARK(BM_CardTime_Scan)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
