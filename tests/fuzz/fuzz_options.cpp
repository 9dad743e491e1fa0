// The command lines of vardel-cli and vardel: one argument per line.
#include "app/Startup.h"
#include "cli/CliOptions.h"
#include "fuzz/FuzzSupport.h"
#include "sim/SimState.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QStringList args = QString::fromUtf8(fuzz::bytesOf(data, size)).split(QLatin1Char('\n'));

    CliOptions cli;
    QString error;
    if (parseCliArguments(args, cli, error)) {
        // What the parser lets through is in range for the link.
        FUZZ_CHECK(!cli.model || (*cli.model >= 0 && *cli.model <= 2));
        FUZZ_CHECK(!cli.baudCode || (*cli.baudCode >= 0 && *cli.baudCode <= 5));
        FUZZ_CHECK(!cli.transmitCheck || (*cli.transmitCheck >= 0 && *cli.transmitCheck <= 1));
        FUZZ_CHECK(!cli.meterAddress || (*cli.meterAddress >= 0 && *cli.meterAddress <= 255));
        FUZZ_CHECK(!cli.masterAddress || (*cli.masterAddress >= 0 && *cli.masterAddress <= 255));
        FUZZ_CHECK(cli.count >= 0 && cli.intervalMs >= 100);
        for (const std::int16_t address : cli.addresses)
            FUZZ_CHECK(address >= 0 && address <= 255);
        FUZZ_CHECK(cli.addresses.size() <= 256);
        FUZZ_CHECK(cli.command != CliCommand::Program || !cli.addresses.empty());
        FUZZ_CHECK(!cli.responseTimeMs || (*cli.responseTimeMs >= 0 && *cli.responseTimeMs <= 60000));
        for (const std::int16_t baud : cli.scanBauds)
            FUZZ_CHECK(baud >= 0 && baud <= 5);
        FUZZ_CHECK(cli.waitLimitMs >= -1 && cli.waitLimitMs <= 86400 * 1000);
        FUZZ_CHECK(cli.waitLimitMs == -1 || cli.wait);
        FUZZ_CHECK(!cli.decimalComma || cli.format == OutputFormat::Csv || cli.help || cli.version);
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }

    StartOptions start;
    if (parseStartOptions(args, start, error)) {
        // The simulator checks the faults only when it starts.
        for (const QString& fault : start.simFaults) {
            SimFaults faults;
            parseSimFault(fault, faults, &error);
        }
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }
    return 0;
}
