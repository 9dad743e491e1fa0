#include "config/LinkGuard.h"

#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "link/Module1.h"

#include <algorithm>
#include <cmath>

namespace vardel {

MeterLink linkInUse(const Module1& link)
{
    return {link.MeterAddress, link.BaudCode, static_cast<std::int16_t>(link.TransmitCheck == 1 ? 1 : 0)};
}

void useLink(Module1& link, const MeterLink& to)
{
    link.MeterAddress = to.address;
    link.BaudCode = to.baudCode;
    link.TransmitCheck = to.transmitCheck;
    link.CardSetLink();
}

bool LinkGuard::unusable() const
{
    if (tooSlow)
        return true;
    for (const LinkChange& c : changes) {
        if (!c.usable)
            return true;
    }
    return false;
}

namespace {

// As the configuration file writes it, which is what the user looked at.
QString fileValue(float value)
{
    return SevenDigitText(value, QLatin1Char('.'), false);
}

QString head(std::int16_t model, const LinkChange& c)
{
    return QStringLiteral("Rejestr %1 (%2)").arg(registerLabel(model, c.reg), QString::fromUtf8(c.name));
}

} // namespace

QStringList LinkGuard::lines(std::int16_t model, const QString& where) const
{
    QStringList out;
    for (const LinkChange& c : changes) {
        QString inUse = QString::number(c.inUse), inFile = fileValue(c.inFile);
        // A baud code means little to the reader: the rate goes beside it.
        if (c.name == kLinkBaudCodeName) {
            inUse += QStringLiteral(" (%1 bodów)").arg(baudRateOf(static_cast<std::int16_t>(c.inUse)));
            if (c.usable)
                inFile += QStringLiteral(" (%1 bodów)").arg(baudRateOf(static_cast<std::int16_t>(c.inFile)));
        }
        out << QStringLiteral("%1: w mierniku %2, %3 %4").arg(head(model, c), inUse, where, inFile);
    }
    return out;
}

bool LinkGuard::movesMeter() const
{
    for (const LinkChange& c : changes) {
        if (c.name != kLinkResponseTimeName)
            return true;
    }
    return false;
}

QStringList LinkGuard::unusableLines(std::int16_t model, const QString& where, const QString& longer) const
{
    QStringList out;
    for (const LinkChange& c : changes) {
        if (!c.usable)
            out << QStringLiteral("%1: %2 %3, a miernik przyjmuje tylko %4")
                       .arg(head(model, c), where, fileValue(c.inFile),
                            c.name == kLinkAddressName ? QStringLiteral("liczby całkowite od 0 do 255")
                            : c.name == kLinkBaudCodeName ? QStringLiteral("liczby całkowite od 0 do 5")
                            : c.name == kLinkResponseTimeName
                                ? QStringLiteral("liczby całkowite od 0 do %1").arg(kMaxResponseTimeMs)
                                : QStringLiteral("0 albo 1"));
    }
    if (tooSlow)
        out << QStringLiteral("Czas odpowiedzi %1 ms jest dłuższy niż najdłuższe oczekiwanie łącza przy %2 bodach "
                              "(%3 ms). Aby czekać dłużej, %4.")
                   .arg(tooSlow->ms)
                   .arg(tooSlow->baudRate)
                   .arg(tooSlow->longestMs)
                   .arg(longer);
    return out;
}

namespace {

bool wholeIn(float v, int high)
{
    return v >= 0.0f && v <= static_cast<float>(high) && v == std::floor(v);
}

} // namespace

LinkGuard checkLinkChanges(const Module1& link, const RegisterTable& table, std::optional<float> responseInUse)
{
    LinkGuard guard;
    const MeterLink now = linkInUse(link);
    guard.after = now;
    const MeterLinkRegisters regs = linkRegistersOf(link.MeterModel);
    const auto inTable = [&table](int reg) { return reg >= 0 && reg < table.RegCount; };
    const auto check = [&](int reg, const char* name, int inUse, int high, std::int16_t& after) {
        if (!inTable(reg))
            return;
        const float v = table.RegValue[static_cast<std::size_t>(reg)];
        if (v == static_cast<float>(inUse))
            return;
        const bool usable = wholeIn(v, high);
        guard.changes.push_back({reg, name, inUse, v, usable});
        if (usable)
            after = static_cast<std::int16_t>(v);
    };
    check(regs.address, kLinkAddressName, now.address, 255, guard.after.address);
    check(regs.baudCode, kLinkBaudCodeName, now.baudCode, 5, guard.after.baudCode);
    check(regs.transmitCheck, kLinkTransmitCheckName, now.transmitCheck, 1, guard.after.transmitCheck);

    // How long the meter takes to answer decides as much as where: a reply
    // later than the link waits for is no reply.
    if (!inTable(regs.responseTime))
        return guard;
    const float response = table.RegValue[static_cast<std::size_t>(regs.responseTime)];
    const bool usable = wholeIn(response, kMaxResponseTimeMs);
    const bool known = responseInUse && wholeIn(*responseInUse, kMaxResponseTimeMs);
    if (!usable || (known && response != *responseInUse))
        guard.changes.push_back({regs.responseTime, kLinkResponseTimeName,
                                 known ? static_cast<int>(*responseInUse) : 0, response, usable});
    if (!usable)
        return guard;
    const std::int16_t baud = guard.after.baudCode;
    const int bytes = longestReplyBytes(link.MeterModel);
    const int longest = longestResponseMs(baud, link.replyWaitInForce(bytes, baud), bytes);
    if (response > static_cast<float>(longest))
        guard.tooSlow = SlowResponse{static_cast<int>(response), std::max(longest, 0), baudRateOf(baud)};
    return guard;
}

std::optional<float> readResponseTime(Module1& link)
{
    const int reg = linkRegistersOf(link.MeterModel).responseTime;
    if (reg < 0)
        return std::nullopt;
    ErrorWindows* shown = link.errorWindows();
    QuietErrors quiet;
    link.setErrorWindows(&quiet);
    float value = 0.0f;
    std::int16_t flag = 1;
    link.ReadConfigReg(static_cast<std::int16_t>(reg), value, flag);
    link.setErrorWindows(shown);
    if (flag != 0)
        return std::nullopt;
    return value;
}

QString linkPlaceText(const MeterLink& link)
{
    QString text = QStringLiteral("pod adresem %1 z prędkością %2 bodów")
                       .arg(link.address)
                       .arg(baudRateOf(link.baudCode));
    if (link.transmitCheck == 0)
        text += QStringLiteral(", bez kontroli nadawania");
    return text;
}

} // namespace vardel
