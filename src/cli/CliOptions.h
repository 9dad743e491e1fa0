#pragma once

#include "app/Startup.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vardel {

// What vardel-cli tells its caller. Scripts test these, so they never change.
enum CliExit : int {
    kExitOk = 0,
    kExitLinkFailed = 1, // an exchange with the card or the meter failed
    kExitUsage = 2,      // bad usage, or a file that cannot be read or written
    kExitNoBackend = 3,  // the card cannot be reached at all (ports refused)
    kExitDiffers = 4,    // verify: the meter holds other values than the file
};

enum class CliCommand { None, CardTest, CardReset, Read, Write, Verify, Measure, Print, ResetMeter };

// The command line, checked but not yet applied. Link options left empty
// take their values from Vardel.cfg.
struct CliOptions {
    CliCommand command = CliCommand::None;
    QString commandName;
    bool help = false;
    bool version = false;

    QString file;         // write, verify, print: the configuration file
    QString output;       // read -o
    QString templateFile; // read --template
    QString pdf;          // print --pdf
    bool eeprom = false;  // write --eeprom
    bool force = false;   // accept a file of another model
    int count = 0;        // measure --count; 0: until interrupted

    StartOptions start; // --card, --sim-state, --sim-fault
    QString trace;      // --trace FILE, "-" for stderr

    std::optional<std::int16_t> model;
    std::optional<std::int16_t> meterAddress;
    std::optional<std::int16_t> masterAddress;
    std::optional<std::int16_t> baudCode;
    std::optional<std::int16_t> transmitCheck;
    std::optional<std::int16_t> cardAddress;
};

// Parses the arguments after the program name. Options may stand before or
// after the command, as "--opt value" or "--opt=value"; "--" ends them. On a
// mistake returns false with a Polish message in `error`.
bool parseCliArguments(const QStringList& args, CliOptions& options, QString& error);

QString cliUsageText();

// "KX-2" for 0 and so on; the model names users type and read.
QString modelNameOf(std::int16_t model);

} // namespace vardel
