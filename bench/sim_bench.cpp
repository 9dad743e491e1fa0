// What the simulated card costs the link: status reads (billions of them on a
// dead card), one register read, a whole KX-4 configuration.
#include "config/ConfigTransfer.h"
#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "sim/SimCard.h"

#include <benchmark/benchmark.h>

namespace {

using vardel::Module1;
using vardel::PortBackend;
using vardel::SimCard;

// Counts the port operations the link makes, passing them on to the card.
class CountingPort final : public PortBackend {
public:
    explicit CountingPort(PortBackend& inner) : m_inner(inner) {}
    void vbOut(std::uint16_t port, std::uint8_t value) override
    {
        ++outs;
        m_inner.vbOut(port, value);
    }
    std::uint8_t vbInp(std::uint16_t port) override
    {
        ++ins;
        return m_inner.vbInp(port);
    }
    long long outs = 0;
    long long ins = 0;

private:
    PortBackend& m_inner;
};

void linkUp(Module1& link)
{
    link.MeterModel = vardel::kModelKX4;
    link.MeterAddress = 3;
    link.CardSetLink();
}

void BM_StatusRead_vbInp(benchmark::State& state)
{
    SimCard card;
    PortBackend& port = card; // as the link sees it: through the interface
    benchmark::DoNotOptimize(&port);
    for (auto _ : state)
        benchmark::DoNotOptimize(port.vbInp(833));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusRead_vbInp);

void BM_CardWaitReady_Ready(benchmark::State& state)
{
    SimCard card;
    Module1 link(card);
    for (auto _ : state)
        benchmark::DoNotOptimize(link.CardWaitReady());
}
BENCHMARK(BM_CardWaitReady_Ready);

void BM_CardWaitReady_DeadTimeout(benchmark::State& state)
{
    SimCard card;
    card.setFault(QStringLiteral("dead-card"));
    Module1 link(card);
    for (auto _ : state)
        benchmark::DoNotOptimize(link.CardWaitReady());
    state.SetItemsProcessed(state.iterations() * vardel::kReadyTries);
}
BENCHMARK(BM_CardWaitReady_DeadTimeout);

void BM_WaitSendDone_DeadTimeout(benchmark::State& state)
{
    SimCard card;
    card.setFault(QStringLiteral("dead-card"));
    Module1 link(card);
    for (auto _ : state) {
        std::int16_t flag = 0;
        link.WaitSendDone(flag);
        benchmark::DoNotOptimize(flag);
    }
    // A dead card ends the wait after its not-ready reads in a row.
    state.SetItemsProcessed(state.iterations() * vardel::kNotReadyReadsInWait * vardel::kReadyTries);
}
BENCHMARK(BM_WaitSendDone_DeadTimeout)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReadConfigReg(benchmark::State& state)
{
    SimCard card;
    CountingPort port(card);
    Module1 link(port);
    linkUp(link);
    port.ins = port.outs = 0;
    for (auto _ : state) {
        float value = 0.0f;
        std::int16_t flag = 0;
        link.ReadConfigReg(10, value, flag);
        benchmark::DoNotOptimize(value);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["port_in"] = static_cast<double>(port.ins) / n;
    state.counters["port_out"] = static_cast<double>(port.outs) / n;
}
BENCHMARK(BM_ReadConfigReg)->Unit(benchmark::kMicrosecond);

void BM_ReadConfiguration_KX4(benchmark::State& state)
{
    SimCard card;
    CountingPort port(card);
    Module1 link(port);
    linkUp(link);
    vardel::RegisterTable table;
    table.RegCount = 255;
    port.ins = port.outs = 0;
    for (auto _ : state) {
        const vardel::TransferResult r = vardel::ReadConfiguration(link, table);
        if (!r.complete)
            state.SkipWithError("read stopped");
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["port_ops"] = static_cast<double>(port.ins + port.outs) / n;
}
BENCHMARK(BM_ReadConfiguration_KX4)->Unit(benchmark::kMillisecond);

void BM_ReadConfigReg_DeadCard(benchmark::State& state)
{
    SimCard card;
    Module1 link(card);
    linkUp(link);
    card.setFault(QStringLiteral("dead-card"));
    for (auto _ : state) {
        float value = 0.0f;
        std::int16_t flag = 0;
        link.ReadConfigReg(0, value, flag);
        if (flag != 1)
            state.SkipWithError("a dead card answered");
    }
}
BENCHMARK(BM_ReadConfigReg_DeadCard)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
