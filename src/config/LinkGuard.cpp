#include "config/LinkGuard.h"

#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "link/Module1.h"

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

QStringList LinkGuard::unusableLines(std::int16_t model, const QString& where) const
{
    QStringList out;
    for (const LinkChange& c : changes) {
        if (!c.usable)
            out << QStringLiteral("%1: %2 %3, a miernik przyjmuje tylko %4")
                       .arg(head(model, c), where, fileValue(c.inFile),
                            c.name == kLinkAddressName ? QStringLiteral("liczby całkowite od 0 do 255")
                            : c.name == kLinkBaudCodeName ? QStringLiteral("liczby całkowite od 0 do 5")
                                                          : QStringLiteral("0 albo 1"));
    }
    return out;
}

LinkGuard checkLinkChanges(const Module1& link, const RegisterTable& table)
{
    LinkGuard guard;
    const MeterLink now = linkInUse(link);
    guard.after = now;
    const MeterLinkRegisters regs = linkRegistersOf(link.MeterModel);
    const auto check = [&](int reg, const char* name, int inUse, int high, std::int16_t& after) {
        if (reg < 0 || reg >= table.RegCount)
            return;
        const float v = table.RegValue[static_cast<std::size_t>(reg)];
        if (v == static_cast<float>(inUse))
            return;
        const bool usable = v >= 0.0f && v <= static_cast<float>(high) && v == std::floor(v);
        guard.changes.push_back({reg, name, inUse, v, usable});
        if (usable)
            after = static_cast<std::int16_t>(v);
    };
    check(regs.address, kLinkAddressName, now.address, 255, guard.after.address);
    check(regs.baudCode, kLinkBaudCodeName, now.baudCode, 5, guard.after.baudCode);
    check(regs.transmitCheck, kLinkTransmitCheckName, now.transmitCheck, 1, guard.after.transmitCheck);
    return guard;
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
