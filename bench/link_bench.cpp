// What the busy waits of the link cost per port read, with a back end that
// answers at once, so the figures are the link's own overhead.
#include "link/Module1.h"

#include <benchmark/benchmark.h>

namespace {

using vardel::Module1;
using vardel::PortBackend;

// Always ready; requests are reported sent and answered at once with a
// six-byte reply, so every wait ends at its first read.
class ReadyPort : public PortBackend {
public:
    long ops = 0;
    void vbOut(std::uint16_t port, std::uint8_t value) override
    {
        ++ops;
        if (port == kStatus)
            m_selected = value & 63;
    }
    std::uint8_t vbInp(std::uint16_t port) override
    {
        ++ops;
        if (port == kStatus)
            return 4;
        switch (m_selected) {
        case 6:
        case 7: return 128;
        case 15: return 0;
        case 16: return 8;
        default: return 0x25;
        }
    }

private:
    static constexpr std::uint16_t kStatus = 833;
    int m_selected = 0;
};

// A card that never shows the ready status.
class DeadPort : public PortBackend {
public:
    long reads = 0;
    void vbOut(std::uint16_t, std::uint8_t) override {}
    std::uint8_t vbInp(std::uint16_t) override
    {
        ++reads;
        return 0;
    }
};

// One complete ready-wait time-out: 19999 status reads.
void BM_LinkFake_CardWaitReady_Timeout(benchmark::State& state)
{
    DeadPort port;
    Module1 link(port);
    for (auto _ : state)
        benchmark::DoNotOptimize(link.CardWaitReady());
    state.counters["status_reads"] = benchmark::Counter(static_cast<double>(port.reads), benchmark::Counter::kAvgIterations);
    // Time per status read through CardWaitReady.
    state.counters["ns_per_status_read"] = benchmark::Counter(
        static_cast<double>(port.reads), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LinkFake_CardWaitReady_Timeout);

// A card that is ready at once: one status read per wait.
void BM_LinkFake_CardWaitReady_Ready(benchmark::State& state)
{
    ReadyPort port;
    Module1 link(port);
    for (auto _ : state)
        benchmark::DoNotOptimize(link.CardWaitReady());
}
BENCHMARK(BM_LinkFake_CardWaitReady_Ready);

// One configuration register read against a card that answers at once; the
// counter gives the port operations of the whole exchange.
void BM_LinkFake_ReadConfigReg(benchmark::State& state)
{
    ReadyPort port;
    Module1 link(port);
    float value = 0;
    std::int16_t flag = 0;
    long before = 0;
    for (auto _ : state) {
        before = port.ops;
        link.ReadConfigReg(5, value, flag);
        benchmark::DoNotOptimize(value);
    }
    state.counters["port_ops"] = static_cast<double>(port.ops - before);
    state.counters["flag"] = flag;
}
BENCHMARK(BM_LinkFake_ReadConfigReg);

// One failed exchange against a card that never shows the ready status, with
// the status reads it costs: a register read (ends at its send wait), a
// register write with its acknowledgement wait, as "Zapisz" does it, and
// "Reset miernika".
void BM_LinkFake_DeadCardExchange(benchmark::State& state)
{
    DeadPort port;
    Module1 link(port);
    const auto which = state.range(0);
    state.SetLabel(which == 0 ? "ReadConfigReg" : which == 1 ? "Kx_Reg_Write+WaitWriteReply" : "SendMeterReset");
    for (auto _ : state) {
        port.reads = 0;
        std::int16_t flag = 1;
        if (which == 0) {
            float value = 0;
            link.ReadConfigReg(0, value, flag);
        } else if (which == 1) {
            link.Kx_Reg_Write(0, 25.0f);
            link.WaitWriteReply(flag);
        } else {
            link.SendMeterReset();
        }
        if (flag != 1)
            state.SkipWithError("a dead card answered");
    }
    state.counters["status_reads"] = static_cast<double>(port.reads);
}
BENCHMARK(BM_LinkFake_DeadCardExchange)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace
