#pragma once

#include "app/Startup.h"
#include "link/MeterModels.h"
#include "measure/MeasureRecord.h"
#include "meterops/ExitCodes.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace vardel {

enum class CliCommand { None, CardTest, CardReset, Read, Write, Verify, Measure, Print, ResetMeter, Scan, Diff, History, Program, Serve };

// The command line, checked but not yet applied. Link options left empty
// take their values from Vardel.cfg.
struct CliOptions {
    CliCommand command = CliCommand::None;
    QString commandName;
    bool help = false;
    bool version = false;

    QString file;         // write, verify, print, program: the configuration file
    QString output;       // read -o
    QString templateFile; // read --template
    QString pdf;          // print --pdf
    bool eeprom = false;  // write, program --eeprom
    bool force = false;   // accept a file of another model
    bool wait = false;    // wait for a card another program has
    int waitLimitMs = -1; // --wait=SECONDS: for at most this long; -1: as long as it takes
    int count = 0;        // measure --count; 0: until interrupted

    // --card, --sim-state, --sim-fault, --sim-pace; a script waits for no
    // simulated card unless it asks to.
    StartOptions start = [] {
        StartOptions s;
        s.simPace = SimPace::Fast;
        return s;
    }();
    bool simPaceGiven = false; // serve paces its simulated card as a real one unless told
    QString trace;      // --trace FILE, "-" for stderr

    std::optional<std::int16_t> model;
    std::optional<std::int16_t> meterAddress;
    std::optional<std::int16_t> masterAddress;
    std::optional<std::int16_t> baudCode;
    std::optional<std::int16_t> transmitCheck;
    std::optional<std::int16_t> cardAddress;

    // Service-bench additions.
    QString secondFile;                  // diff A B: B (A is `file`)
    bool verifyAfterWrite = false;       // write, program --verify
    bool noVerify = false;               // program --no-verify: --eeprom without its proof
    bool changeLink = false;             // write --change-link: the file may move the meter
    bool backup = false;                 // write, program --backup: the meter's configuration into the history first
    std::vector<std::int16_t> scanBauds; // scan --bauds: baud codes in order; empty: all six
    // scan, program --addresses "A-B" or "1,4,7-9": network addresses in the
    // order given, each once; empty: scan takes 0..255, program needs them.
    std::vector<std::int16_t> addresses;
    bool scanFirstOnly = false;          // scan --first: stop at the first meter found
    // --response-time: the meter's response time; every reply wait lasts what
    // such a meter needs (scan: the slowest meter looked for, else 20 ms).
    std::optional<int> responseTimeMs;
    QString log;                         // program --log: the records appended, CSV or JSON lines
    int intervalMs = 1000;               // measure --interval
    OutputFormat format = OutputFormat::Text; // --format of measure, scan, verify, diff, card-test ...
    bool decimalComma = false;                // measure --format csv --decimal-comma

    // serve: the Modbus TCP gateway.
    QString listen = QStringLiteral("127.0.0.1:1502"); // --listen ADDR:PORT
    QStringList allow;                                 // --allow: networks other clients may come from
    int maxClients = 16;                               // --max-clients
    int pollMs = 1000;                                 // --poll
    int requestTimeoutMs = 5000;                       // --request-timeout
    bool lowWordFirst = false;                         // --word-order little
    bool allowWrite = false;                           // --allow-write
    bool allowLinkChange = false;                      // --allow-link-change
    QString metersFile;                                // --meters: the list of meters served
    bool serveScan = false;                            // --scan: serve the meters a scan finds
    int idleTimeoutMs = 60000;                         // --idle-timeout
};

// Parses the arguments after the program name. Options may stand before or
// after the command, as "--opt value" or "--opt=value"; "--" ends them. On a
// mistake returns false with a Polish message in `error`.
bool parseCliArguments(const QStringList& args, CliOptions& options, QString& error);

QString cliUsageText();

// Every option (long names and short forms) the parser takes with the
// command: what --help, the manual page and the completion must offer.
QStringList cliOptionNames(CliCommand command);

} // namespace vardel
