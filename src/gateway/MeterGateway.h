#pragma once

#include "config/LinkGuard.h"
#include "gateway/ModbusServer.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
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

// One meter the gateway serves, with the model its memory proved.
struct ServedMeter {
    MeterLink link;
    std::int16_t model = 0;
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
// with the poller (one exchange at a time on the one link). A meter whose
// last good reading is older than three poll cycles gets 0x0B, as does one
// never read. Writes are refused with 0x01 and said once per request, unless
// allowed: then they go through the session's guarded write (the meter's
// configuration read, the registers changed, the guard, the write, the
// history), and the reply comes only after the meter acknowledged them.
class MeterGateway final : public QObject, public ModbusHandler {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;
    using Clock = std::chrono::steady_clock;

    MeterGateway(Module1& link, std::vector<ServedMeter> meters, GatewaySettings settings, Log log,
                 QObject* parent = nullptr);

    // Polls every meter once now, then every `poll`.
    void start();
    void stop() { m_timer.stop(); }
    // One refresh of every meter, in address order.
    void pollAll();

    void handle(const ModbusRequest& request, const QString& client, Reply reply) override;
    // The sequence writes go through; without one every write is refused.
    void setSession(MeterSession* session) { m_session = session; }

private:
    struct Unit {
        ServedMeter meter;
        std::vector<std::optional<float>> boxes; // 10, by box number - 1
        std::optional<Clock::time_point> readAt;
        int failedPolls = 0;
        int storeOutcome = 0;
    };
    Unit* unitAt(std::uint8_t address);
    void talkTo(const Unit& unit);
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
    std::optional<double> floatAt(const QByteArray& pdu, int offset, bool wide) const;
    void appendFloat32(QByteArray& words, float value) const;
    void appendFloat64(QByteArray& words, double value) const;

    Module1& m_link;
    std::vector<Unit> m_units;
    GatewaySettings m_settings;
    Log m_log;
    QTimer m_timer;
    MeterSession* m_session = nullptr;
};

} // namespace vardel
