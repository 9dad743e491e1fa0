#pragma once

#include "link/PortBackend.h"
#include "sim/SimClock.h"
#include "sim/SimMemory.h"

#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <vector>

namespace vardel {

struct SimStateData;

// How the program starts the simulator: the state file (EEPROM contents of
// the meters, the card's base address, faults) and faults from the command
// line, each "NAME" or "NAME=K".
struct SimOptions {
    QString stateFile;
    QStringList faults;
    SimPace pace = SimPace::Fast;
};

// Faults the simulator can play, so that every failure path of the program
// can be seen on any machine. Which are on, with their K:
struct SimFaults {
    bool deadCard = false;  // dead-card: the status never shows ready
    bool noMeter = false;   // no-meter: requests go out, no meter ever answers
    bool noAck = false;     // no-ack: writes reach RAM but are never acknowledged
    bool noStore = false;   // no-store: the EEPROM store request is dropped
    bool noReset = false;   // no-reset: the reset request is ignored (the meter runs on)
    int slowReply = 0;      // slow-reply=K: a reply completes no sooner than the K-th poll of register 6
    int badLength = 0;      // bad-length=K: reported reply length off by K (default -2)
    int oversizedReply = 0; // oversized-reply=K: reported reply length K (default 40000)
    bool powerCycle = false; // power-cycle: the meters were switched off and on before the start
};

// Where and how a meter answers: the network address, baud code (0..5 =
// 1200..38400), transmit check (0/1) and response time it took from its
// EEPROM when it started.
struct SimLink {
    int address = 1;
    int baudCode = 4;
    int transmitCheck = 1;
    nanoseconds response = std::chrono::milliseconds(20);

    bool operator==(const SimLink&) const = default;
};

// One simulated meter: model, 64 KiB of RAM and the EEPROM copy that it loads
// when it starts (at power-up and at a reset request), the link it answers at,
// and what it is busy with.
struct SimMeter {
    static constexpr std::size_t kMemorySize = SimMemory::kSize;
    static constexpr std::chrono::milliseconds kDefaultStorePerRegister{10};
    static constexpr std::chrono::milliseconds kDefaultStartup{1000};

    std::int16_t model = 0;   // 0 KX-2, 1 KX-3, 2 KX-4
    // The link in use since the meter last started. The KX-2 and KX-4 are
    // given their network address on the front panel, so `address` is that
    // too; the KX-3 takes it from register 0 like the rest from theirs.
    int address = 1;
    int baudCode = 4;
    int transmitCheck = 1;
    nanoseconds response = std::chrono::milliseconds(20);
    SimMemory ram;
    SimMemory eeprom;

    // An EEPROM store takes this per configuration register; a start takes
    // `startup`, during which the meter hears nothing.
    std::chrono::milliseconds storePerRegister = kDefaultStorePerRegister;
    std::chrono::milliseconds startup = kDefaultStartup;
    // Faults of this meter alone (`usterki=` of its section): it never
    // acknowledges a write, drops the store request, or ignores a reset.
    bool noAck = false;
    bool noStore = false;
    bool noReset = false;

    // --- while the program runs ---
    nanoseconds busyUntil{0};               // storing or starting until then
    bool storing = false;
    nanoseconds storeStart{0};
    SimMemory storeSource;                  // RAM as the store request found it
    bool changed = false;                   // RAM or link differ from the state file
    int fileAddress = -1;                   // its section in the state file: the
    int fileBaudCode = -1;                  // link the file last gave it

    // The meter's own memory map; it does not follow the program's settings.
    static std::uint16_t configBase(std::int16_t model); // 585, 633, 3801
    static int registerCount(std::int16_t model);       // 64, 100, 255
    static int liveValueCount(std::int16_t model);      // 4, 6, 10
    static constexpr std::uint16_t kLiveBase = 513;
    std::size_t liveEnd() const;
    // Whether the meter has memory at this address: its configuration
    // registers and its live values. Anywhere else a read gives 0 and a write
    // is lost, whatever another model keeps there.
    bool hasMemoryAt(std::size_t at) const;
    // A byte as a read request gets it: RAM where the meter has memory, else 0.
    std::uint8_t readByte(std::size_t at) const
    {
        at %= kMemorySize;
        return hasMemoryAt(at) ? ram[at] : std::uint8_t{0};
    }

    // A meter straight from the factory: defaults in EEPROM and RAM.
    static SimMeter factory(std::int16_t model, int address, int baudCode = 4);

    // Configuration register r decoded from RAM or EEPROM, and written into RAM.
    float configValue(int r, bool fromEeprom = false) const;
    void setConfigValue(int r, float value);

    SimLink link() const { return {address, baudCode, transmitCheck, response}; }
    void setLink(const SimLink& l);
    // The link the EEPROM sets. A value the meter cannot use (address outside
    // 0..255, baud code outside 0..5, a fraction, a transmit check other than
    // 0 or 1, a negative or absurd response time) leaves the one in use.
    SimLink linkFromEeprom() const;
    // What the store under way leaves in the EEPROM at `at`: every register
    // stored by then, in order; the rest, and the bytes beyond the registers,
    // only once it has finished.
    void commitStore(nanoseconds at);
    // Starts at `at`: RAM and link from the EEPROM, deaf for `startup`.
    void start(nanoseconds at);
    // RAM and EEPROM hold the same, live values aside.
    bool ramMatchesEeprom() const;
    // The meter as it will be when the store under way has finished.
    SimMeter whenStored() const;
    void markFiled();
};

// The default network: a KX-2 at address 1, a KX-3 at 2, a KX-4 at 3, all at
// 19200 baud.
std::vector<SimMeter> factoryNetwork();

// The simulated interface card with its meter network behind it. To the link
// it is an ordinary port back end; it answers only at its own base address
// (data port) and base + 1 (command/status port), like a real card would.
// Its time is its own (cardClock()): requests and replies take their wire
// time, meters their response time, stores and starts theirs.
class SimCard final : public PortBackend {
public:
    // Seconds on a steady clock; live values move with it.
    using Clock = std::function<double()>;

    static constexpr std::uint16_t kDefaultBase = 832;
    static constexpr std::uint8_t kStatusReady = 0x04;
    static constexpr std::uint8_t kStatusInReset = 0x80;
    static constexpr std::uint8_t kStatusAbsent = 0xFF; // dead card or nothing at that port

    // A card at 832 with the factory network, no state file, the system clock
    // for live values and card time that stands still while the PC is idle.
    SimCard();
    explicit SimCard(std::vector<SimMeter> meters, std::uint16_t base = kDefaultBase);
    ~SimCard() override;

    // The state file beside the program.
    static QString defaultStateFile(const QString& programDir);
    // Loads the state file (a missing one means factory meters; a damaged one
    // also, with a message) and switches the faults on. An unknown or
    // malformed fault is an error: nullptr and the message. Card time follows
    // the PC's while the program is idle.
    static std::unique_ptr<SimCard> create(const SimOptions& options, QStringList& messages);
    // Fault names for the --help texts ("slow-reply" etc.; K-taking ones
    // accept "=K").
    static QStringList faultNames();
    // One Polish line per fault, for the --help texts.
    static QStringList faultDescriptions();

    // --- PortBackend ---
    void vbOut(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t vbInp(std::uint16_t port) override
    {
        // The link polls the status port billions of times on a dead card:
        // keep this a tick, a compare and a load.
        m_clock.tick();
        if (port == m_statusPort)
            return m_status;
        return readOther(port);
    }

    // --- set-up and inspection ---
    std::uint16_t baseAddress() const { return m_base; }
    void setBaseAddress(std::uint16_t base);
    const QString& stateFile() const { return m_stateFile; }
    void setStateFile(const QString& path);

    // "NAME" or "NAME=K"; false and a Polish message when it is not a fault.
    // power-cycle is done at once rather than kept.
    bool setFault(const QString& faultText, QString* error = nullptr);
    void setFaults(const SimFaults& faults);
    const SimFaults& faults() const { return m_faults; }
    void clearFaults() { setFaults(SimFaults{}); }

    void setClock(Clock clock); // also restarts the meters' balances
    std::vector<SimMeter>& meters() { return m_meters; }
    const std::vector<SimMeter>& meters() const { return m_meters; }
    // The meter that answers at this address now (any baud rate).
    SimMeter* meterAt(int address);

    // The card's time.
    SimClock& cardClock() { return m_clock; }
    const SimClock& cardClock() const { return m_clock; }
    // Lets card time pass as if the PC waited: stores finish, meters start.
    void passTime(nanoseconds time);
    // Switches every meter off and on: a store under way is cut short, RAM and
    // link come from the EEPROM. The meters have started when this returns.
    void powerCycle();

    // Live values of a meter at the current clock, in reply order.
    std::vector<float> liveValues(const SimMeter& meter) const;

    // Whether registers 10..13 were loaded since power-up or the last reset.
    bool linkLoaded() const;
    std::uint8_t cardRegister(int reg) const { return m_reg[static_cast<std::size_t>(reg & 63)]; }

    // Writes the state file now (the EEPROM store does it by itself).
    // False and a Polish message on failure.
    bool saveState(QString* error = nullptr);
    // Writes the sections of the meters whose RAM or link changed since the
    // file last had them (power stays on between programs: the next program
    // finds them as this one leaves them). True when nothing needed writing.
    bool saveChanges(QString* error = nullptr);
    // Messages the simulator raised while running (failed state file writes);
    // the caller shows them and the list empties.
    QStringList takeMessages();
    // Called at once with each such message, when set.
    void setMessageHandler(std::function<void(const QString&)> handler) { m_onMessage = std::move(handler); }

private:
    std::uint8_t readOther(std::uint16_t port);
    std::uint8_t readRegister(int reg);
    void writeRegister(int reg, std::uint8_t value);
    void enterReset();
    void startSending();
    // Whatever card time has brought by now: the request out, the reply in.
    void settle();
    void requestArrived();
    void deliverReply();
    // The meter's answer to a request that reached it at `at`; false: none.
    bool meterRequest(SimMeter& meter, const std::vector<std::uint8_t>& body, nanoseconds at,
                      std::vector<std::uint8_t>& reply);
    void updateMeter(SimMeter& meter, nanoseconds now);
    void resetMeter(SimMeter& meter, nanoseconds at);
    void refreshLiveValues(SimMeter& meter);
    void storeEeprom(SimMeter& meter, nanoseconds at);
    bool saveMeter(SimMeter& meter, QString* error);
    QString stateWriteError(const QString& reason) const;
    QString stateBackupError(const QString& reason) const;
    static QString stateReadError(const QString& path, const QString& reason);
    void updateStatus();
    void report(const QString& message);

    SimClock m_clock;
    std::uint16_t m_base = kDefaultBase;
    std::uint16_t m_statusPort = kDefaultBase + 1;
    std::uint8_t m_status = kStatusReady;
    bool m_inReset = false;

    int m_selected = 0;
    bool m_writeSelected = false;
    std::array<std::uint8_t, 64> m_reg{};
    unsigned m_linkMask = 0; // bits 0..3: registers 10..13 loaded
    std::uint16_t m_txPos = 0;
    std::uint16_t m_rxPos = 0;
    std::vector<std::uint8_t> m_tx = std::vector<std::uint8_t>(SimMeter::kMemorySize);
    std::vector<std::uint8_t> m_rx = std::vector<std::uint8_t>(SimMeter::kMemorySize);
    int m_rxLength = 0; // as registers 15/16 report it

    // The request on the wire, and the reply coming back.
    bool m_sending = false;
    nanoseconds m_sentAt{0};
    std::vector<std::uint8_t> m_request;
    int m_requestAddress = 0;
    int m_requestBaud = 0;
    int m_requestCheck = 0;
    bool m_replyPending = false;
    nanoseconds m_replyAt{0};
    int m_replyPolls = 0;
    std::vector<std::uint8_t> m_pendingReply;

    SimFaults m_faults;
    std::vector<SimMeter> m_meters;
    Clock m_liveClock;
    double m_startTime = 0.0;

    QString m_stateFile;
    // The state file as this program last wrote it, so that a store puts in
    // its one section instead of reading and writing the whole network again
    // (quadratic over a line of meters).
    struct FileCopy;
    std::unique_ptr<FileCopy> m_fileCopy;
    void keepFileCopy(SimStateData state);
    QStringList m_fileFaults; // faults named in the state file; written back with it
    std::optional<long> m_fileLiveTime; // likewise the live values' fixed time
    bool m_backupDamaged = false;
    QStringList m_messages;
    std::function<void(const QString&)> m_onMessage;
};

} // namespace vardel
