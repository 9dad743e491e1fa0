#include "config/ConfigTransfer.h"

#include "config/RegisterTable.h"
#include "link/Module1.h"

#include <thread>

namespace vardel {

TransferResult ReadConfiguration(Module1& link, RegisterTable& table, const TransferProgress& progress)
{
    const Module1::Busy busy(link); // no timer-driven exchange between two registers
    TransferResult result;
    const int n = table.RegCount; // the bound is taken once
    for (int i = 1; i <= n; ++i) {
        float value = 0.0f;
        std::int16_t flag = 0;
        link.ReadConfigReg(static_cast<std::int16_t>(i - 1), value, flag);
        if (flag > 0)
            return result;
        table.RegValue[static_cast<std::size_t>(i - 1)] = value;
        result.done = i;
        if (progress)
            progress(i, n);
    }
    result.complete = true;
    return result;
}

TransferResult WriteConfiguration(Module1& link, const RegisterTable& table, bool eepromStore,
                                  const TransferProgress& progress, std::chrono::milliseconds pause)
{
    const Module1::Busy busy(link);
    TransferResult result;
    const int n = table.RegCount;
    for (int i = 1; i <= n; ++i) {
        link.Kx_Reg_Write(static_cast<std::int16_t>(i - 1), table.RegValue[static_cast<std::size_t>(i - 1)]);
        result.done = i;
        if (progress)
            progress(i, n);
        std::int16_t flag = 0;
        link.WaitWriteReply(flag);
        if (flag > 0) {
            // The meter did not acknowledge: stop here and say so.
            if (ErrorWindows* errors = link.errorWindows())
                errors->showTransmitError();
            return result;
        }
    }
    result.complete = true;
    // The pause comes after the last acknowledgement even when no store follows.
    std::this_thread::sleep_for(pause);
    if (eepromStore)
        link.SendEepromStore();
    return result;
}

} // namespace vardel
