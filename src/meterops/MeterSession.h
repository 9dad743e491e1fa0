#pragma once

#include "link/ModelCheck.h"
#include "meterops/ExitCodes.h"
#include "meterops/MeterFeedback.h"
#include "config/RegisterTable.h"
#include "files/ConfigHistory.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace vardel {

class LinkTrace;
class Module1;
class SimCard;
struct LinkGuard;

// What a write of a configuration to one meter asks for (write's options).
struct WriteRequest {
    bool eeprom = false;
    bool verify = false;
    bool backup = false;
    bool changeLink = false;
};

// The step at which a write to one meter ended; Done when every step asked
// for went through.
enum class WriteStep {
    Done,
    Card,         // the card is not ready
    Guard,        // the file would move the meter off its link (or holds a value it cannot take)
    Backup,       // the copy of the meter's configuration before the write
    Registers,    // a register was not sent or not acknowledged
    StoreRequest, // the EEPROM store request was not sent, or the simulator could not keep it
    Storing,      // the meter did not answer again after the store: no reset sent
    Reset,        // the reset request was not sent
    Starting,     // the meter did not answer after its reset
    ReadBack,     // the read-back failed
    Differs,      // the read-back differs from the file
};

// How far the meter got, whatever stopped the write: what it is left with.
enum class WriteReach {
    Untouched,      // nothing written
    Ram,            // registers written to RAM (some or all), no store asked
    StoreRequested, // the EEPROM store request went out; its end not seen
    Stored,         // the meter answered after its store (and may have been reset)
};

struct WriteOutcome {
    WriteStep step = WriteStep::Done;
    int code = kExitOk;          // write's exit code for it
    std::vector<int> differing;  // registers the read-back found different
    WriteReach reached = WriteReach::Untouched;
    int registersSent = 0;       // write requests that went out
};

// Registers of the meter compared with a configuration, as verify does.
struct Comparison {
    int code = kExitOk;         // kExitOk, or the read's failure
    std::vector<int> differing; // in register order
    RegisterTable meter;        // what the meter holds
};

// Where a session's words go and what stops it: stderr and the progress bar
// for the command line; the gateway's log, without a bar.
struct SessionIo {
    std::function<void(const QString&)> say;       // a message line
    std::function<void(const QByteArray&)> rawErr; // the progress bar, as it stands
    bool terminal = false;                         // draw progress bars at all
    // Why the operation must stop (0: it need not); every wait watches it.
    const std::atomic<int>* stopSignal = nullptr;
    // The option that lets a write change the meter's link, named in the refusal.
    QString linkChangeOption = QStringLiteral("--change-link");
};

// The meter operations every front end shares: the read and write routines
// with everything around them (progress, history, the simulator's state,
// the write guard and the store proof). Messages go through `say`: stderr
// for write, the meter's result for program, the log for the gateway.
class MeterSession {
public:
    using Say = std::function<void(const QString&)>;
    // Shows a read-back's comparison with the file (verify's lines).
    using ShowComparison = std::function<void(const RegisterTable& file, const Comparison& comparison)>;

    MeterSession(SessionIo io, Module1& link, LinkErrors& errors, LinkTrace* trace, SimCard* sim,
                 QString historyFolder);

    void setSay(Say say) { m_say = std::move(say); }
    void setShowComparison(ShowComparison show) { m_showComparison = std::move(show); }
    // Progress bars are drawn under this line of a longer run (nullptr: alone).
    void setRunLine(const QString* line) { m_runLine = line; }

    ProgressDisplay progress(const QString& label) const;
    int stopSignal() const;
    // The card gets the link parameters; false when it is not ready (said).
    bool prepareLink();
    // "Błąd nadawania danych (what): reason"; kExitLinkFailed.
    int linkFailed(const QString& what, const QString& reason = {});
    QString registerText(int r) const;
    // Messages the simulator raised on the way (a state file it could not
    // write) are said; true when there were any.
    bool takeSimMessages();
    const QStringList& simShown() const { return m_simShown; }
    // A history that cannot be written is said; the command goes on.
    bool keepInHistory(const RegisterTable& table, HistoryKind kind);
    // Every register of the meter into `table`, with the progress bar.
    int readMeter(RegisterTable& table);
    // Reads the meter and compares it with `file` (and shows it); keepRead:
    // the read goes into the history too.
    Comparison compare(const RegisterTable& file, bool keepRead = false);
    // write: the guard, the copy, every register, the history, the store and
    // its proof, the read-back, each as asked; it stops at the first step
    // that fails and says why. A stop request ends it as it stands (code 0:
    // the signal gives the exit code).
    WriteOutcome write(const RegisterTable& table, const WriteRequest& request);

private:
    WriteOutcome writeSteps(const RegisterTable& table, const WriteRequest& request);
    // The guard's refusal said, or Done when it lets the write go on.
    WriteOutcome refuseByGuard(const LinkGuard& guard, const WriteRequest& request);
    WriteOutcome proveStore(const RegisterTable& table, const LinkGuard& guard);
    WriteOutcome readBack(const RegisterTable& table);

    SessionIo m_io;
    Module1& m_link;
    LinkErrors& m_errors;
    LinkTrace* m_trace;
    SimCard* m_sim;
    QString m_historyFolder;
    Say m_say;
    ShowComparison m_showComparison;
    const QString* m_runLine = nullptr;
    QStringList m_simShown;
    WriteReach m_reached = WriteReach::Untouched;
    int m_sent = 0;
};

// What the meter holds of a configuration: its registers, none of the
// description kept on the PC.
RegisterTable withoutDescription(RegisterTable table);

// „Karta interfejsu nie zgłasza gotowości (status FFh).”
QString notReadyMessage(std::uint8_t status);

// "30 s", "0,5 s": seconds as Polish writes them.
QString secondsText(int ms);

} // namespace vardel
