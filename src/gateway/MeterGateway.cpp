#include "gateway/MeterGateway.h"
#include "gateway/MeterList.h"

#include "link/MeterModels.h"
#include "link/Module1.h"
#include "measure/MeasureValues.h"
#include "meterops/MeterSession.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace vardel {

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kReadInput = 0x04;
constexpr std::uint8_t kWriteCoil = 0x05;
constexpr std::uint8_t kWriteRegister = 0x06;
constexpr std::uint8_t kWriteCoils = 0x0F;
constexpr std::uint8_t kWriteRegisters = 0x10;
constexpr std::uint8_t kEncapsulated = 0x2B;
constexpr std::uint8_t kDeviceId = 0x0E;
constexpr int kMaxReadQuantity = 125;

QByteArray exception(const QByteArray& pdu, ModbusException code)
{
    return modbusExceptionPdu(static_cast<std::uint8_t>(pdu.at(0)), code);
}

// The start and quantity of a read request, checked as the protocol asks:
// a malformed request 0x03, a range beyond the map 0x02.
std::optional<QByteArray> badRead(const QByteArray& pdu, int mapSize, int& start, int& quantity)
{
    if (pdu.size() != 5)
        return exception(pdu, ModbusException::IllegalValue);
    start = pduWord(pdu, 1);
    quantity = pduWord(pdu, 3);
    if (quantity < 1 || quantity > kMaxReadQuantity)
        return exception(pdu, ModbusException::IllegalValue);
    if (start + quantity > mapSize)
        return exception(pdu, ModbusException::IllegalAddress);
    return std::nullopt;
}

} // namespace

MeterGateway::MeterGateway(Module1& link, std::vector<ServedMeter> meters, GatewaySettings settings, Log log,
                           QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_settings(std::move(settings))
    , m_log(std::move(log))
{
    std::sort(meters.begin(), meters.end(),
              [](const ServedMeter& a, const ServedMeter& b) { return a.link.address < b.link.address; });
    for (const ServedMeter& m : meters)
        m_units.push_back({m, std::vector<std::optional<float>>(kMeasureBoxes), std::nullopt, 0});
}

MeterGateway::~MeterGateway()
{
    stop();
}

void MeterGateway::start()
{
    if (m_card.joinable())
        return;
    m_stopping = false;
    m_card = std::thread([this] { cardLoop(); });
}

void MeterGateway::stop()
{
    {
        const std::lock_guard lock(m_queueMutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    if (m_card.joinable())
        m_card.join();
}

void MeterGateway::say(const QString& line)
{
    if (QThread::currentThread() == thread())
        m_log(line);
    else
        QMetaObject::invokeMethod(this, [this, line] { m_log(line); }, Qt::QueuedConnection);
}

void MeterGateway::onCard(const QString& client, std::function<QByteArray()> exchange, Reply reply, bool write)
{
    if (!m_card.joinable()) {
        reply(exchange());
        return;
    }
    {
        const std::lock_guard lock(m_queueMutex);
        m_queue.push_back({client, [this, exchange = std::move(exchange), reply = std::move(reply)] {
                               const QByteArray pdu = exchange();
                               // The sockets are the gateway thread's: the reply goes there.
                               QMetaObject::invokeMethod(this, [reply, pdu] { reply(pdu); }, Qt::QueuedConnection);
                           },
                           write});
    }
    m_wake.notify_one();
}

std::optional<ModbusException> MeterGateway::timedOut(const QString& client)
{
    const std::lock_guard lock(m_queueMutex);
    const auto it = std::find_if(m_queue.begin(), m_queue.end(), [&client](const Job& j) { return j.client == client; });
    if (it == m_queue.end() && client == m_writing)
        return std::nullopt;
    if (it == m_queue.end())
        return ModbusException::TargetFailed; // under way: the meter is what is slow
    m_queue.erase(it);
    return ModbusException::Busy;
}

void MeterGateway::abandoned(const QString& client)
{
    const std::lock_guard lock(m_queueMutex);
    const auto it = std::find_if(m_queue.begin(), m_queue.end(), [&client](const Job& j) { return j.client == client; });
    if (it != m_queue.end())
        m_queue.erase(it);
}

// The card thread: a poll of one meter, then the next queued request, and so
// on, so that neither the cache nor the clients wait behind the other for
// longer than one exchange.
void MeterGateway::cardLoop()
{
    std::size_t next = m_units.size(); // the next meter of the cycle under way
    Clock::time_point cycleDue = Clock::now();
    bool pollTurn = true;
    while (true) {
        std::optional<Job> job;
        Unit* poll = nullptr;
        {
            std::unique_lock lock(m_queueMutex);
            const bool cycling = next < m_units.size();
            m_wake.wait_until(lock, cycling ? Clock::now() : cycleDue,
                              [this] { return m_stopping.load() || !m_queue.empty(); });
            if (m_stopping)
                return;
            const bool due = cycling || Clock::now() >= cycleDue;
            if (!m_queue.empty() && (!due || !pollTurn)) {
                job = std::move(m_queue.front());
                m_queue.pop_front();
                if (job->write)
                    m_writing = job->client;
                pollTurn = true;
            } else if (due) {
                if (!cycling) {
                    next = 0;
                    cycleDue = Clock::now() + m_settings.poll;
                }
                poll = &m_units[next++];
                pollTurn = false;
            }
        }
        if (job) {
            job->run();
            const std::lock_guard lock(m_queueMutex);
            m_writing.clear();
        } else if (poll) {
            pollOne(*poll);
        }
    }
}

MeterGateway::Unit* MeterGateway::unitAt(std::uint8_t address)
{
    const std::lock_guard lock(m_cache);
    const auto it = std::find_if(m_units.begin(), m_units.end(),
                                 [address](const Unit& u) { return u.meter.link.address == address; });
    return it == m_units.end() ? nullptr : &*it;
}

void MeterGateway::talkTo(const Unit& unit)
{
    m_link.MeterModel = unit.meter.model;
    if (linkInUse(m_link) != unit.meter.link)
        useLink(m_link, unit.meter.link);
    m_link.setResponseTime(unit.meter.responseTime);
}

bool MeterGateway::fresh(const Unit& unit) const
{
    // Judged by the meter's answers, not by the clock: a meter the card
    // thread did not ask meanwhile (a long bus, a long write) has not failed,
    // and its reading's age is in registers 20-21.
    return unit.readAt && unit.missedPolls < 3;
}

void MeterGateway::pollAll()
{
    for (Unit& unit : m_units)
        pollOne(unit);
}

void MeterGateway::pollOne(Unit& unit)
{
    talkTo(unit);
    const MeasureReading reading = readMeasuredValues(m_link);
    const std::lock_guard lock(m_cache);
    if (reading.flag != 0) {
        unit.failedPolls = std::min(unit.failedPolls + 1, 0xFFFF);
        ++unit.missedPolls;
        return;
    }
    // A value the reply did not carry is no value, not the last one kept.
    std::fill(unit.boxes.begin(), unit.boxes.end(), std::nullopt);
    for (const MeasuredValue& v : reading.values)
        unit.boxes[static_cast<std::size_t>(v.box - 1)] = v.value;
    unit.readAt = Clock::now();
    unit.missedPolls = 0;
}

void MeterGateway::appendFloat32(QByteArray& words, float value) const
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto high = static_cast<std::uint16_t>(bits >> 16);
    const auto low = static_cast<std::uint16_t>(bits & 0xFFFF);
    appendWord(words, m_settings.lowWordFirst ? low : high);
    appendWord(words, m_settings.lowWordFirst ? high : low);
}

void MeterGateway::appendFloat64(QByteArray& words, double value) const
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 4; ++i) {
        const int word = m_settings.lowWordFirst ? i : 3 - i;
        appendWord(words, static_cast<std::uint16_t>((bits >> (16 * word)) & 0xFFFF));
    }
}

QByteArray MeterGateway::readInputRegisters(const Unit& unit, const QByteArray& pdu)
{
    int start = 0;
    int quantity = 0;
    if (const auto bad = badRead(pdu, kInputRegisters, start, quantity))
        return *bad;
    const std::lock_guard lock(m_cache);
    if (!fresh(unit))
        return exception(pdu, ModbusException::TargetFailed);
    QByteArray all;
    for (const std::optional<float>& box : unit.boxes)
        appendFloat32(all, box.value_or(std::numeric_limits<float>::quiet_NaN()));
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *unit.readAt).count();
    const auto ageMs = static_cast<std::uint32_t>(std::clamp<long long>(age, 0, 0xFFFFFFFF));
    appendWord(all, static_cast<std::uint16_t>(ageMs >> 16));
    appendWord(all, static_cast<std::uint16_t>(ageMs & 0xFFFF));
    appendWord(all, static_cast<std::uint16_t>(unit.failedPolls));
    appendWord(all, static_cast<std::uint16_t>(unit.storeOutcome));
    QByteArray reply;
    reply.append(static_cast<char>(kReadInput));
    reply.append(static_cast<char>(quantity * 2));
    reply.append(all.mid(start * 2, quantity * 2));
    return reply;
}

QByteArray MeterGateway::readHoldingRegisters(const Unit& unit, const QByteArray& pdu)
{
    const int count = regCountOf(unit.meter.model);
    int start = 0;
    int quantity = 0;
    // The two blocks are one map with a gap; a read may not span the gap.
    const bool wide = pduWord(pdu, 1) >= kFloat64Base;
    const int base = wide ? kFloat64Base : 0;
    const int perRegister = wide ? 4 : 2;
    if (const auto bad = badRead(pdu, base + count * perRegister, start, quantity))
        return *bad;
    if (start < base)
        return exception(pdu, ModbusException::IllegalAddress);
    start -= base;
    talkTo(unit);
    QByteArray words;
    const int first = start / perRegister;
    const int last = (start + quantity - 1) / perRegister;
    for (int r = first; r <= last; ++r) {
        float value = 0;
        std::int16_t flag = 0;
        // A stop need not wait for the rest of a long read.
        if (m_stopping)
            return exception(pdu, ModbusException::TargetFailed);
        m_link.ReadConfigReg(static_cast<std::int16_t>(r), value, flag);
        if (flag != 0)
            return exception(pdu, ModbusException::TargetFailed);
        if (wide)
            appendFloat64(words, static_cast<double>(value));
        else
            appendFloat32(words, value);
    }
    QByteArray reply;
    reply.append(static_cast<char>(kReadHolding));
    reply.append(static_cast<char>(quantity * 2));
    reply.append(words.mid((start - first * perRegister) * 2, quantity * 2));
    return reply;
}

// Basic identification: the maker, the meter's model, the program's version.
QByteArray MeterGateway::deviceIdentification(const Unit& unit, const QByteArray& pdu) const
{
    if (pdu.size() != 4 || static_cast<std::uint8_t>(pdu.at(1)) != kDeviceId)
        return exception(pdu, ModbusException::IllegalValue);
    const auto code = static_cast<std::uint8_t>(pdu.at(2));
    auto object = static_cast<std::uint8_t>(pdu.at(3));
    const QByteArray objects[] = {QByteArrayLiteral("Vardel"), modelNameOf(unit.meter.model).toUtf8(),
                                  m_settings.version.toUtf8()};
    if (code != 1 && code != 4)
        return exception(pdu, ModbusException::IllegalValue);
    if (object > 2) {
        if (code == 4)
            return exception(pdu, ModbusException::IllegalAddress);
        object = 0; // a stream starts over at the first object
    }
    QByteArray reply;
    reply.append(static_cast<char>(kEncapsulated));
    reply.append(static_cast<char>(kDeviceId));
    reply.append(static_cast<char>(code));
    reply.append(static_cast<char>(code == 4 ? 0x81 : 0x01)); // basic level, individual access too
    reply.append('\0');                                       // nothing more follows
    reply.append('\0');
    const int last = code == 4 ? object : 2;
    reply.append(static_cast<char>(last - object + 1));
    for (int id = object; id <= last; ++id) {
        reply.append(static_cast<char>(id));
        reply.append(static_cast<char>(objects[id].size()));
        reply.append(objects[id]);
    }
    return reply;
}

std::optional<double> MeterGateway::floatAt(const QByteArray& pdu, int offset, bool wide) const
{
    const int words = wide ? 4 : 2;
    std::uint64_t bits = 0;
    for (int i = 0; i < words; ++i) {
        const int word = m_settings.lowWordFirst ? words - 1 - i : i;
        bits = (bits << 16) | pduWord(pdu, offset + 2 * word);
    }
    const double value = wide ? std::bit_cast<double>(bits)
                              : static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<ModbusException> MeterGateway::guardedWrite(Unit& unit, const std::vector<std::pair<int, float>>& changes,
                                                          bool eeprom)
{
    if (const auto refused = refuseUnitMove(unit, changes))
        return refused;
    talkTo(unit);
    RegisterTable table;
    table.RegCount = regCountOf(unit.meter.model);
    if (m_session->readMeter(table) != kExitOk)
        return ModbusException::TargetFailed;
    for (const auto& [r, value] : changes)
        table.RegValue[static_cast<std::size_t>(r)] = value;
    WriteRequest request;
    request.eeprom = eeprom;
    request.verify = eeprom; // a store is called done only once proven
    request.changeLink = m_settings.allowLinkChange;
    const WriteOutcome outcome = m_session->write(table, request);
    // A proven store that moved the meter: it answers at its new link now.
    const MeterLink now = linkInUse(m_link);
    const bool moved = eeprom && outcome.step == WriteStep::Done && now != unit.meter.link;
    if (moved)
        say(QStringLiteral("Miernik jednostki %1 odpowiada teraz jako jednostka %2.")
                .arg(unit.meter.link.address)
                .arg(now.address));
    {
        const std::lock_guard lock(m_cache);
        if (eeprom)
            unit.storeOutcome = outcome.step == WriteStep::Done ? 1 : 2;
        if (moved)
            unit.meter.link = now;
    }
    switch (outcome.step) {
    case WriteStep::Done:
        return std::nullopt;
    case WriteStep::Guard:
        // A value the register cannot hold, or a link change not allowed.
        return outcome.code == kExitUsage ? std::optional(ModbusException::IllegalValue)
                                          : std::optional(ModbusException::TargetFailed);
    default:
        return ModbusException::TargetFailed;
    }
}

std::optional<ModbusException> MeterGateway::refuseUnitMove(const Unit& unit,
                                                            const std::vector<std::pair<int, float>>& changes)
{
    const int addressRegister = linkRegistersOf(unit.meter.model).address;
    for (const auto& [r, value] : changes) {
        // A value that is no whole address is the guard's to refuse.
        if (r != addressRegister || value != std::floor(value) || value == unit.meter.link.address)
            continue;
        QString why;
        if (value < kFirstUnit || value > kLastUnit) {
            why = QStringLiteral("jednostki Modbus to adresy od %1 do %2").arg(kFirstUnit).arg(kLastUnit);
        } else {
            // Two meters under one unit identifier: neither could be told apart.
            const std::lock_guard lock(m_cache);
            for (const Unit& other : m_units) {
                if (&other != &unit && other.meter.link.address == static_cast<std::int16_t>(value))
                    why = QStringLiteral("pod tym adresem brama obsługuje już miernik %1").arg(modelNameOf(other.meter.model));
            }
        }
        if (why.isEmpty())
            continue;
        say(QStringLiteral("Odrzucono zmianę adresu miernika jednostki %1 na %2: %3.")
                .arg(unit.meter.link.address)
                .arg(static_cast<double>(value))
                .arg(why));
        return ModbusException::IllegalValue;
    }
    return std::nullopt;
}

// Function 16 over whole floats of either block: a float is written whole or
// not at all.
QByteArray MeterGateway::writeRegisters(Unit& unit, const QByteArray& pdu)
{
    const int start = pduWord(pdu, 1);
    const int quantity = pduWord(pdu, 3);
    if (pdu.size() < 6 || quantity < 1 || quantity > 123 || static_cast<std::uint8_t>(pdu.at(5)) != quantity * 2
        || pdu.size() != 6 + quantity * 2)
        return exception(pdu, ModbusException::IllegalValue);
    const bool wide = start >= kFloat64Base;
    const int base = wide ? kFloat64Base : 0;
    const int perRegister = wide ? 4 : 2;
    const int count = regCountOf(unit.meter.model);
    if ((start - base) % perRegister != 0 || quantity % perRegister != 0
        || (start - base) / perRegister + quantity / perRegister > count)
        return exception(pdu, ModbusException::IllegalAddress);
    std::vector<std::pair<int, float>> changes;
    for (int i = 0; i < quantity / perRegister; ++i) {
        const std::optional<double> value = floatAt(pdu, 6 + 2 * perRegister * i, wide);
        if (!value || std::abs(*value) > static_cast<double>(std::numeric_limits<float>::max()))
            return exception(pdu, ModbusException::IllegalValue);
        changes.emplace_back((start - base) / perRegister + i, static_cast<float>(*value));
    }
    if (const auto failed = guardedWrite(unit, changes, false))
        return exception(pdu, *failed);
    return pdu.left(5);
}

QByteArray MeterGateway::writeCoil(Unit& unit, const QByteArray& pdu)
{
    const int coil = pduWord(pdu, 1);
    const int value = pduWord(pdu, 3);
    if (pdu.size() != 5 || (value != 0xFF00 && value != 0))
        return exception(pdu, ModbusException::IllegalValue);
    if (coil != kStoreCoil && coil != kResetCoil)
        return exception(pdu, ModbusException::IllegalAddress);
    if (value == 0) // nothing asked
        return pdu;
    if (coil == kStoreCoil) {
        if (const auto failed = guardedWrite(unit, {}, true))
            return exception(pdu, *failed);
        return pdu;
    }
    talkTo(unit);
    if (m_link.SendMeterReset() != 0)
        return exception(pdu, ModbusException::TargetFailed);
    return pdu;
}

void MeterGateway::handle(const ModbusRequest& request, const QString& client, Reply reply)
{
    const QByteArray& pdu = request.pdu;
    Unit* unit = unitAt(request.unit);
    if (!unit) {
        reply(exception(pdu, ModbusException::PathUnavailable));
        return;
    }
    switch (request.function()) {
    case kReadInput:
        reply(readInputRegisters(*unit, pdu));
        return;
    case kReadHolding:
        onCard(client, [this, unit, pdu] { return readHoldingRegisters(*unit, pdu); }, std::move(reply));
        return;
    case kEncapsulated:
        reply(deviceIdentification(*unit, pdu));
        return;
    case kWriteCoil:
    case kWriteRegister:
    case kWriteCoils:
    case kWriteRegisters:
        if (m_settings.allowWrite && m_session) {
            if (request.function() == kWriteRegisters)
                onCard(client, [this, unit, pdu] { return writeRegisters(*unit, pdu); }, std::move(reply), true);
            else if (request.function() == kWriteCoil)
                onCard(client, [this, unit, pdu] { return writeCoil(*unit, pdu); }, std::move(reply), true);
            else // a float takes two registers; one coil at a time
                reply(exception(pdu, request.function() == kWriteRegister ? ModbusException::IllegalAddress
                                                                          : ModbusException::IllegalFunction));
            return;
        }
        m_log(QStringLiteral("Odrzucono zapis od %1 (jednostka %2, rejestr %3): zapis wyłączony; włącza go --allow-write.")
                  .arg(client)
                  .arg(request.unit)
                  .arg(pduWord(pdu, 1)));
        reply(exception(pdu, ModbusException::IllegalFunction));
        return;
    default:
        reply(exception(pdu, ModbusException::IllegalFunction));
        return;
    }
}

} // namespace vardel
