#include "sim/SimCard.h"

#include "fileio/SafeFile.h"
#include "sim/SimState.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <optional>

#include <sys/stat.h>

namespace vardel {

namespace {

// Card registers with a meaning of their own (the rest just hold what was
// written into them).
enum : int {
    RegTxHigh = 0, RegTxLow = 1, RegRxHigh = 2, RegRxLow = 3,
    RegReplyData = 4, RegRequestData = 5, RegReplyFlag = 6, RegSendControl = 7,
    RegLinkEnable = 10, RegMode = 11, RegMaster = 12, RegMeter = 13,
    RegReplyLengthHigh = 15, RegReplyLengthLow = 16, RegRequestLengthHigh = 17, RegRequestLengthLow = 18,
};

constexpr std::uint8_t kDone = 128;
constexpr std::uint8_t kStartSending = 64;
constexpr unsigned kAllLinkRegisters = 0xF;

// Which file a path names and how it was last changed: every write of the
// state file is a new file renamed into place.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec changed {};

    bool operator==(const FileIdentity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size && changed.tv_sec == o.changed.tv_sec
            && changed.tv_nsec == o.changed.tv_nsec;
    }
};

std::optional<FileIdentity> identityOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SimCard::SimCard() : SimCard(factoryNetwork()) {}

SimCard::SimCard(std::vector<SimMeter> meters, std::uint16_t base)
    : m_meters(std::move(meters)), m_liveClock(steadySeconds)
{
    m_startTime = m_liveClock();
    setBaseAddress(base);
    for (SimMeter& m : m_meters)
        m.markFiled();
}

struct SimCard::FileCopy {
    FileIdentity identity;
    SimStateData state;
    QByteArray head;
    std::vector<QByteArray> sections; // one for each of state.meters
};

SimCard::~SimCard() = default;

void SimCard::setStateFile(const QString& path)
{
    m_stateFile = path;
    m_fileCopy.reset();
}

void SimCard::keepFileCopy(SimStateData state)
{
    const auto identity = identityOf(m_stateFile);
    if (!identity) {
        m_fileCopy.reset();
        return;
    }
    auto copy = std::make_unique<FileCopy>();
    copy->identity = *identity;
    copy->head = simStateHead(state);
    copy->sections.reserve(state.meters.size());
    for (const SimMeter& m : state.meters)
        copy->sections.push_back(simMeterSection(m));
    copy->state = std::move(state);
    m_fileCopy = std::move(copy);
}

QString SimCard::defaultStateFile(const QString& programDir)
{
    return QDir(programDir).filePath(QStringLiteral("VardelSim.txt"));
}

std::unique_ptr<SimCard> SimCard::create(const SimOptions& options, QStringList& messages)
{
    // The command line is checked before anything else: a typo there is the
    // user's mistake of the moment and stops the start.
    SimFaults commandLine;
    for (const QString& faultText : options.faults) {
        QString error;
        if (!parseSimFault(faultText, commandLine, &error)) {
            messages << error;
            return nullptr;
        }
    }

    SimStateData state;
    bool damaged = false;
    if (!options.stateFile.isEmpty()) {
        QString reason;
        switch (loadSimState(options.stateFile, state, &reason)) {
        case SimStateLoad::Damaged:
            messages << QStringLiteral("Plik stanu symulatora %1 jest uszkodzony (%2). Użyto ustawień fabrycznych mierników.")
                            .arg(QDir::toNativeSeparators(options.stateFile), reason);
            damaged = true;
            break;
        case SimStateLoad::Unreadable:
            // Factory meters now would overwrite a whole file at the next store.
            messages << stateReadError(options.stateFile, reason);
            return nullptr;
        case SimStateLoad::Loaded:
        case SimStateLoad::Missing:
            break;
        }
    }

    auto card = std::make_unique<SimCard>(state.meters.empty() ? factoryNetwork() : std::move(state.meters), state.base);
    card->m_stateFile = options.stateFile;
    card->m_fileFaults = state.faults;
    card->m_fileLiveTime = state.liveTime;
    card->m_backupDamaged = damaged;
    if (state.liveTime) {
        // Values held still: every program that reads this file sees the same.
        const auto fixed = static_cast<double>(*state.liveTime);
        card->m_liveClock = [fixed] { return fixed; };
        card->m_startTime = 0.0;
    }

    // The meters' time runs on while the program waits for its user.
    card->m_clock.setWall(SimClock::steadyWall());
    card->m_clock.setPace(options.pace);

    SimFaults faults;
    for (const QString& faultText : state.faults)
        parseSimFault(faultText, faults, nullptr); // already checked by the loader
    for (const QString& faultText : options.faults)
        parseSimFault(faultText, faults, nullptr);
    card->setFaults(faults);
    return card;
}

QStringList SimCard::faultNames()
{
    return simFaultNames();
}

QStringList SimCard::faultDescriptions()
{
    return simFaultDescriptions();
}

void SimCard::setBaseAddress(std::uint16_t base)
{
    m_base = base;
    m_statusPort = static_cast<std::uint16_t>(base + 1);
}

bool SimCard::setFault(const QString& faultText, QString* error)
{
    SimFaults faults = m_faults;
    if (!parseSimFault(faultText, faults, error))
        return false;
    setFaults(faults);
    return true;
}

void SimCard::setFaults(const SimFaults& faults)
{
    m_faults = faults;
    // Switching off and on is something that happens, not a state the card
    // stays in.
    if (m_faults.powerCycle) {
        m_faults.powerCycle = false;
        powerCycle();
    }
    updateStatus();
}

void SimCard::setClock(Clock clock)
{
    m_liveClock = std::move(clock);
    m_startTime = m_liveClock ? m_liveClock() : 0.0;
}

void SimCard::passTime(nanoseconds time)
{
    m_clock.advance(time);
    settle();
    for (SimMeter& m : m_meters)
        updateMeter(m, m_clock.now());
}

void SimCard::powerCycle()
{
    const nanoseconds now = m_clock.now();
    for (SimMeter& m : m_meters)
        resetMeter(m, now);
    // Switched on before the program started: done starting by now.
    for (SimMeter& m : m_meters)
        m.busyUntil = now;
}

SimMeter* SimCard::meterAt(int address)
{
    for (SimMeter& m : m_meters) {
        if (m.address == address)
            return &m;
    }
    return nullptr;
}

bool SimCard::linkLoaded() const
{
    return m_linkMask == kAllLinkRegisters && m_reg[RegLinkEnable] == 1;
}

void SimCard::updateStatus()
{
    if (m_faults.deadCard)
        m_status = kStatusAbsent;
    else if (m_inReset)
        m_status = kStatusInReset;
    else
        m_status = kStatusReady;
}

void SimCard::report(const QString& message)
{
    m_messages << message;
    if (m_onMessage)
        m_onMessage(message);
}

QStringList SimCard::takeMessages()
{
    QStringList out;
    out.swap(m_messages);
    return out;
}

// --- the ports ---

void SimCard::vbOut(std::uint16_t port, std::uint8_t value)
{
    m_clock.tick();
    if (m_faults.deadCard)
        return;
    if (port == m_statusPort) {
        if (value & 0x80) {
            enterReset();
            return;
        }
        if (m_inReset) {
            m_inReset = false;
            updateStatus();
        }
        m_selected = value & 63;
        m_writeSelected = (value & 64) != 0;
        return;
    }
    if (port == m_base && !m_inReset && m_writeSelected)
        writeRegister(m_selected, value);
}

std::uint8_t SimCard::readOther(std::uint16_t port)
{
    // Nothing answers on the bus there: it floats high.
    if (port != m_base || m_faults.deadCard || m_inReset)
        return kStatusAbsent;
    return readRegister(m_selected);
}

void SimCard::enterReset()
{
    // The reset line clears the link set-up and whatever was under way; the
    // card sends nothing until CardSetLink loads it again.
    m_inReset = true;
    m_linkMask = 0;
    for (int r : {RegLinkEnable, RegMode, RegMaster, RegMeter, RegReplyFlag, RegSendControl})
        m_reg[static_cast<std::size_t>(r)] = 0;
    m_txPos = 0;
    m_rxPos = 0;
    m_rxLength = 0;
    m_sending = false;
    m_replyPending = false;
    m_selected = 0;
    m_writeSelected = false;
    updateStatus();
}

std::uint8_t SimCard::readRegister(int reg)
{
    settle();
    switch (reg) {
    case RegTxHigh: return static_cast<std::uint8_t>(m_txPos >> 8);
    case RegTxLow: return static_cast<std::uint8_t>(m_txPos & 0xFF);
    case RegRxHigh: return static_cast<std::uint8_t>(m_rxPos >> 8);
    case RegRxLow: return static_cast<std::uint8_t>(m_rxPos & 0xFF);
    case RegReplyData: return m_rx[m_rxPos++];
    case RegReplyFlag:
        // slow-reply=K: not before the K-th look either.
        if (m_replyPending && --m_replyPolls <= 0 && m_clock.now() >= m_replyAt)
            deliverReply();
        return m_reg[RegReplyFlag];
    case RegReplyLengthHigh: return static_cast<std::uint8_t>((m_rxLength >> 8) & 0xFF);
    case RegReplyLengthLow: return static_cast<std::uint8_t>(m_rxLength & 0xFF);
    default: return m_reg[static_cast<std::size_t>(reg)];
    }
}

void SimCard::writeRegister(int reg, std::uint8_t value)
{
    settle();
    switch (reg) {
    case RegTxHigh: m_txPos = static_cast<std::uint16_t>((m_txPos & 0x00FF) | (value << 8)); return;
    case RegTxLow: m_txPos = static_cast<std::uint16_t>((m_txPos & 0xFF00) | value); return;
    case RegRxHigh: m_rxPos = static_cast<std::uint16_t>((m_rxPos & 0x00FF) | (value << 8)); return;
    case RegRxLow: m_rxPos = static_cast<std::uint16_t>((m_rxPos & 0xFF00) | value); return;
    case RegReplyData:
    case RegReplyLengthHigh:
    case RegReplyLengthLow:
        return; // read-only
    case RegRequestData:
        m_tx[m_txPos++] = value;
        m_reg[RegRequestData] = value;
        return;
    case RegSendControl:
        if (value == kStartSending)
            startSending();
        else
            m_reg[RegSendControl] = value;
        return;
    case RegLinkEnable:
    case RegMode:
    case RegMaster:
    case RegMeter:
        m_linkMask |= 1u << (reg - RegLinkEnable);
        m_reg[static_cast<std::size_t>(reg)] = value;
        return;
    default:
        // Register 6 included: writing 0 clears a reply that has come in;
        // one still on its way comes in later all the same.
        m_reg[static_cast<std::size_t>(reg)] = value;
        return;
    }
}

void SimCard::startSending()
{
    m_reg[RegSendControl] = kStartSending;
    m_replyPending = false;
    m_sending = false;
    m_rxLength = 0;
    // Without link parameters the card does not know where to send: the
    // request stays in the card and is never reported sent.
    if (!linkLoaded())
        return;
    m_clock.catchUpWithWall();

    const int length = m_reg[RegRequestLengthHigh] * 256 + m_reg[RegRequestLengthLow];
    m_request.assign(m_tx.begin(), m_tx.begin() + length);
    m_requestAddress = m_reg[RegMeter];
    m_requestBaud = m_reg[RegMode] & 7;
    m_requestCheck = (m_reg[RegMode] & 128) != 0 ? 1 : 0;
    m_sending = true;
    m_sentAt = m_clock.now() + SimClock::wireTime(length, m_requestBaud);
}

void SimCard::settle()
{
    if (m_sending && m_clock.now() >= m_sentAt) {
        m_sending = false;
        m_reg[RegSendControl] = kDone;
        requestArrived();
    }
}

void SimCard::requestArrived()
{
    if (m_faults.noMeter || m_request.empty())
        return;
    // Every meter set to this address, rate and transmit check hears the
    // request and does what it asks; two answers at once garble each other
    // on the wire: a bit either sender pulls low reads low (a wired AND), and
    // the frame lasts as long as the longer one.
    int answers = 0;
    std::vector<std::uint8_t> garbled;
    nanoseconds response{0};
    for (SimMeter& meter : m_meters) {
        updateMeter(meter, m_sentAt);
        if (meter.address != m_requestAddress || meter.baudCode != m_requestBaud
            || meter.transmitCheck != m_requestCheck)
            continue;
        std::vector<std::uint8_t> reply;
        if (!meterRequest(meter, m_request, m_sentAt, reply))
            continue;
        if (answers++ == 0) {
            garbled = std::move(reply);
            response = meter.response;
            continue;
        }
        for (std::size_t i = 0; i < std::min(garbled.size(), reply.size()); ++i)
            garbled[i] &= reply[i];
        if (reply.size() > garbled.size())
            garbled.insert(garbled.end(), reply.begin() + static_cast<std::ptrdiff_t>(garbled.size()), reply.end());
        response = std::max(response, meter.response);
    }
    if (answers == 0)
        return;
    m_pendingReply = std::move(garbled);
    m_replyPending = true;
    m_replyPolls = m_faults.slowReply > 0 ? m_faults.slowReply : 1;
    m_replyAt = m_sentAt + response + SimClock::wireTime(static_cast<int>(m_pendingReply.size()), m_requestBaud);
}

void SimCard::updateMeter(SimMeter& meter, nanoseconds now)
{
    if (meter.storing && now >= meter.busyUntil)
        meter.commitStore(now);
}

bool SimCard::meterRequest(SimMeter& meter, const std::vector<std::uint8_t>& body, nanoseconds at,
                           std::vector<std::uint8_t>& reply)
{
    if (at < meter.busyUntil) {
        // Busy storing, it still takes a reset: the one request that cuts a
        // store short. Starting, it hears nothing.
        if (meter.storing && body[0] == 170 && !m_faults.noReset && !meter.noReset)
            resetMeter(meter, at);
        return false;
    }
    const auto addressOf = [&body] { return static_cast<std::size_t>(body[1] * 256 + body[2]); };

    switch (body[0]) {
    case 1: { // read memory
        if (body.size() < 4)
            return false;
        const std::size_t from = addressOf();
        const std::size_t n = body[3];
        if (from < meter.liveEnd() && from + n > SimMeter::kLiveBase)
            refreshLiveValues(meter);
        reply.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            reply[i] = meter.readByte(from + i);
        return true;
    }
    case 2: { // write memory
        // A frame shorter than it says is garbage to the meter: ignored.
        if (body.size() < 4 || body.size() < 4u + body[3])
            return false;
        const std::size_t to = addressOf();
        for (std::size_t i = 0; i < body[3]; ++i) {
            const std::size_t cell = (to + i) % SimMeter::kMemorySize;
            if (!meter.hasMemoryAt(cell))
                continue; // lost, and acknowledged all the same: the meter checks no address
            meter.changed |= meter.ram.get(cell) != body[4 + i];
            meter.ram.set(cell, body[4 + i]);
        }
        if (m_faults.noAck || meter.noAck)
            return false;
        reply = {2};
        return true;
    }
    case 3:
        // The request expects no reply, so a lost store is silent here too.
        if (!m_faults.noStore && !meter.noStore)
            storeEeprom(meter, at);
        return false;
    case 170:
        if (!m_faults.noReset && !meter.noReset)
            resetMeter(meter, at);
        return false;
    default:
        return false;
    }
}

void SimCard::resetMeter(SimMeter& meter, nanoseconds at)
{
    updateMeter(meter, at);
    const bool cutShort = meter.storing;
    meter.commitStore(at);
    const SimLink before = meter.link();
    const bool ramDiffered = !meter.ramMatchesEeprom();
    meter.start(at);
    meter.changed |= ramDiffered || meter.link() != before;
    if (cutShort && !m_stateFile.isEmpty()) {
        // The file was written for the whole store; the EEPROM has only part of it.
        QString error;
        if (!saveMeter(meter, &error))
            report(error);
    }
}

void SimCard::deliverReply()
{
    m_replyPending = false;
    std::copy(m_pendingReply.begin(), m_pendingReply.end(), m_rx.begin());
    int length = static_cast<int>(m_pendingReply.size()) + 2;
    if (m_faults.oversizedReply > 0)
        length = m_faults.oversizedReply;
    else if (m_faults.badLength != 0)
        length += m_faults.badLength;
    m_rxLength = std::clamp(length, 0, 65535);
    m_reg[RegReplyFlag] = kDone;
}

void SimCard::storeEeprom(SimMeter& meter, nanoseconds at)
{
    // One register after the other, each taking its time; until the last is
    // stored the meter hears nothing but a reset.
    meter.storing = true;
    meter.storeStart = at;
    meter.storeSource = meter.ram;
    meter.busyUntil = at + meter.storePerRegister * SimMeter::registerCount(meter.model);
    if (m_stateFile.isEmpty())
        return;
    // The file gets the store as it will end: the meter goes on storing if
    // this program ends now.
    QString error;
    if (!saveMeter(meter, &error))
        report(error);
}

bool SimCard::saveMeter(SimMeter& meter, QString* error)
{
    const struct WallSkip {
        SimClock& clock;
        ~WallSkip() { clock.ignoreWallSoFar(); }
    } skip{m_clock};
    // Another program may have stored its own meters since this one read the
    // file: only this meter's section is replaced, everything else is kept
    // as the file holds it now. Unchanged since this program wrote it, the
    // file is not read again.
    if (!m_backupDamaged && m_fileCopy) {
        const auto now = identityOf(m_stateFile);
        if (!now || !(*now == m_fileCopy->identity))
            m_fileCopy.reset();
    }
    if (!m_fileCopy) {
        SimStateData state;
        QString reason;
        const SimStateLoad load = m_backupDamaged ? SimStateLoad::Damaged : loadSimState(m_stateFile, state, &reason);
        if (load == SimStateLoad::Unreadable) {
            if (error)
                *error = stateReadError(m_stateFile, reason);
            return false;
        }
        if (load != SimStateLoad::Loaded) {
            // Nothing there yet, or damage: this program's own view is written
            // (a damaged file is kept aside first).
            m_backupDamaged = load == SimStateLoad::Damaged;
            return saveState(error);
        }
        if (state.meters.empty())
            state.meters = factoryNetwork();
        keepFileCopy(std::move(state));
        if (!m_fileCopy)
            return saveState(error);
    }
    FileCopy& file = *m_fileCopy;
    // The section is found by the model and the link the file gave the
    // meter, which a reset may have changed since; of meters that share a
    // link (one moved onto another's), its own place in the network first.
    const auto fits = [&meter](const SimMeter& m) {
        return m.model == meter.model && m.address == meter.fileAddress && m.baudCode == meter.fileBaudCode;
    };
    const auto own = static_cast<std::size_t>(&meter - m_meters.data());
    const auto same = own < file.state.meters.size() && fits(file.state.meters[own])
        ? file.state.meters.begin() + static_cast<std::ptrdiff_t>(own)
        : std::find_if(file.state.meters.begin(), file.state.meters.end(), fits);
    const std::size_t index = static_cast<std::size_t>(same - file.state.meters.begin());
    const SimMeter view = meter.whenStored();
    QByteArray section = simMeterSection(view);
    qsizetype size = file.head.size() + section.size();
    for (std::size_t i = 0; i < file.sections.size(); ++i)
        size += i == index ? 0 : file.sections[i].size();
    QByteArray bytes;
    bytes.reserve(size);
    bytes += file.head;
    for (std::size_t i = 0; i < file.sections.size(); ++i)
        bytes += i == index ? section : file.sections[i];
    if (index == file.sections.size())
        bytes += section;
    QString reason;
    if (!writeSimStateBytes(m_stateFile, bytes, &reason)) {
        m_fileCopy.reset();
        if (error)
            *error = stateWriteError(reason);
        return false;
    }
    if (index == file.sections.size()) {
        file.state.meters.push_back(view);
        file.sections.push_back(std::move(section));
    } else {
        file.state.meters[index] = view;
        file.sections[index] = std::move(section);
    }
    const auto written = identityOf(m_stateFile);
    if (written)
        file.identity = *written;
    else
        m_fileCopy.reset();
    meter.markFiled();
    return true;
}

QString SimCard::stateReadError(const QString& path, const QString& reason)
{
    return QStringLiteral("Nie można wczytać pliku stanu symulatora %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

QString SimCard::stateBackupError(const QString& reason) const
{
    return QStringLiteral("Nie można zachować kopii uszkodzonego pliku stanu symulatora %1 (%2); plik pozostał bez zmian.")
        .arg(QDir::toNativeSeparators(m_stateFile), reason);
}

QString SimCard::stateWriteError(const QString& reason) const
{
    return QStringLiteral("Nie można zapisać pliku stanu symulatora %1: %2")
        .arg(QDir::toNativeSeparators(m_stateFile), reason);
}

bool SimCard::saveState(QString* error)
{
    if (m_backupDamaged) {
        // The damaged file may hold settings someone typed by hand: it is
        // kept beside the new one, and not overwritten unless it was.
        QByteArray damaged;
        QString reason;
        bool missing = false;
        if (!readWholeFile(m_stateFile, kSimStateLimit, damaged, &reason, &missing) && !missing) {
            if (error)
                *error = stateBackupError(reason);
            return false;
        }
        const QString backup = m_stateFile + QStringLiteral(".uszkodzony");
        if (!missing && !writeFileAtomically(backup, damaged, &reason, 0600)) {
            if (error)
                *error = stateBackupError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(backup), reason));
            return false;
        }
        m_backupDamaged = false;
    }
    SimStateData state;
    state.base = m_base;
    state.faults = m_fileFaults;
    state.liveTime = m_fileLiveTime;
    for (const SimMeter& m : m_meters)
        state.meters.push_back(m.whenStored());
    QString reason;
    if (!saveSimState(m_stateFile, state, &reason)) {
        m_fileCopy.reset();
        if (error)
            *error = stateWriteError(reason);
        return false;
    }
    for (SimMeter& m : m_meters)
        m.markFiled();
    keepFileCopy(std::move(state));
    return true;
}

bool SimCard::saveChanges(QString* error)
{
    if (m_stateFile.isEmpty())
        return true;
    for (SimMeter& m : m_meters) {
        if (m.changed && !saveMeter(m, error))
            return false;
    }
    return true;
}

} // namespace vardel
