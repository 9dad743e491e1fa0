#pragma once

#include "config/LinkGuard.h"
#include "gateway/ModbusServer.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vardel {

class MeterSession;
class Module1;

// The register map the gateway serves for every unit (a meter's network
// address). Input registers (function 04), the same for every model, so that
// a register means the same quantity whichever model answers:
inline constexpr int kValueRegisters = 20;      // box b (1..10 of the test window) as float32 at 2(b-1); NaN: not carried
inline constexpr int kAgeRegister = 20;         // 20-21: age of the reading in ms, uint32 (high word first)
inline constexpr int kFailedPollsRegister = 22; // failed polls since the start, saturating at 65535
inline constexpr int kStoreRegister = 23;       // the last store asked through coil 0: 0 none, 1 proven, 2 not proven
inline constexpr int kInputRegisters = 24;
// Coils (function 05, value FF00h): what the meter is asked to do.
inline constexpr int kStoreCoil = 0; // store the configuration in EEPROM, proven after a reset
inline constexpr int kResetCoil = 1; // reset the meter
// Holding registers (function 03): configuration register N as float32 at
// 2N, and as float64 at kFloat64Base + 4N.
inline constexpr int kFloat64Base = 1024;

// One meter the gateway serves, with the model its memory proved, at its own
// link: meters of several baud rates (and response times) share one card.
struct ServedMeter {
    MeterLink link;
    std::int16_t model = 0;
    std::optional<std::chrono::milliseconds> responseTime; // none: the factory's 20 ms
};

struct GatewaySettings {
    std::chrono::milliseconds poll{1000};
    bool lowWordFirst = false; // float word order; the Modbus habit is high word first
    QString version;           // the program's, for device identification
    bool allowWrite = false;      // --allow-write: writes go through the guard, else 0x01
    bool allowLinkChange = false; // --allow-link-change: a write may change the meter's link
};

// Answers Modbus requests for the meters behind one card. Measured values
// come from a cache that a poller refreshes at `poll`, never from the bus;
// configuration registers are read from the meter when asked for, in turn
// with the poller (one exchange at a time on the one link). A meter that
// did not answer its last three polls gets 0x0B, as does one never read. Writes are refused with 0x01 and said once per request, unless
// allowed: then they go through the session's guarded write (the meter's
// configuration read, the registers changed, the guard, the write, the
// history), and the reply comes only after the meter acknowledged them.
//
// Once started, one card thread alone talks to the card (the link, the
// session): it polls the meters one at a time and, between two polls, runs
// the next queued request, in the order they came (each client has one
// request under way, so that order is fair between clients). The thread the
// gateway lives on answers measured values and identification at once from
// the cache, shared under a mutex, and gets the card thread's replies as
// queued calls. Before start() every exchange runs at once on the caller.
class MeterGateway final : public QObject, public ModbusHandler {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;
    using Clock = std::chrono::steady_clock;

    MeterGateway(Module1& link, std::vector<ServedMeter> meters, GatewaySettings settings, Log log,
                 QObject* parent = nullptr);

    ~MeterGateway() override;

    // Starts the card thread: it polls every meter now, then every `poll`.
    void start();
    // Ends the card thread once the exchange under way has ended; queued
    // requests are not run. Nothing touches the card afterwards.
    void stop();
    // One refresh of every meter, in address order (not while started).
    void pollAll();

    void handle(const ModbusRequest& request, const QString& client, Reply reply) override;
    // Still queued: taken off the queue, 0x06 (busy); under way: 0x0B, but a
    // write under way is answered when the meter has answered it: a client
    // told 0x0B might write again what the meter then took.
    std::optional<ModbusException> timedOut(const QString& client) override;
    void abandoned(const QString& client) override;
    // The sequence writes go through; without one every write is refused.
    void setSession(MeterSession* session) { m_session = session; }

private:
    struct Unit {
        ServedMeter meter;
        std::vector<std::optional<float>> boxes; // 10, by box number - 1
        std::optional<Clock::time_point> readAt;
        int failedPolls = 0;
        int missedPolls = 0; // failed in a row since the last good reading
        int storeOutcome = 0;
    };
    struct Job {
        QString client;
        std::function<void()> run;
        bool write = false;
    };
    Unit* unitAt(std::uint8_t address);
    void talkTo(const Unit& unit);
    void pollOne(Unit& unit);
    // On the card thread when started, else at once.
    void onCard(const QString& client, std::function<QByteArray()> exchange, Reply reply, bool write = false);
    void cardLoop();
    bool fresh(const Unit& unit) const;
    QByteArray readInputRegisters(const Unit& unit, const QByteArray& pdu);
    QByteArray readHoldingRegisters(const Unit& unit, const QByteArray& pdu);
    QByteArray deviceIdentification(const Unit& unit, const QByteArray& pdu) const;
    QByteArray writeRegisters(Unit& unit, const QByteArray& pdu);
    QByteArray writeCoil(Unit& unit, const QByteArray& pdu);
    // The meter's configuration with `changes` (register, value), written
    // through the guard; eeprom: stored and proven. nullopt: done.
    std::optional<ModbusException> guardedWrite(Unit& unit, const std::vector<std::pair<int, float>>& changes,
                                                bool eeprom);
    // A change of the meter's address onto another served meter's unit, or
    // outside the units 1..247: 0x03, said.
    std::optional<ModbusException> refuseUnitMove(const Unit& unit, const std::vector<std::pair<int, float>>& changes);
    std::optional<double> floatAt(const QByteArray& pdu, int offset, bool wide) const;
    void appendFloat32(QByteArray& words, float value) const;
    void appendFloat64(QByteArray& words, double value) const;

    // Said on the gateway's own thread, whichever thread has something to say.
    void say(const QString& line);

    Module1& m_link;
    std::vector<Unit> m_units; // the cache: its readings and links under m_cache
    mutable std::mutex m_cache;
    GatewaySettings m_settings;
    Log m_log;
    MeterSession* m_session = nullptr;

    // The card thread's queue and the client whose request it runs.
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    QString m_writing; // the client whose write is under way
    QString m_running;
    std::atomic<bool> m_stopping{false};
    std::thread m_card;
};

} // namespace vardel
