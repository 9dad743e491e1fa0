#include "gateway/MeterList.h"

#include "fileio/SafeFile.h"
#include "link/MeterModels.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringConverter>

namespace vardel {

namespace {

std::optional<int> wholeNumber(const QString& text, int low, int high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

// One "name=value" field into the entry; a Polish reason when it does not fit.
std::optional<QString> applyField(const QString& field, MeterListEntry& entry)
{
    const qsizetype eq = field.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return QStringLiteral("„%1” nie jest polem NAZWA=WARTOŚĆ (model=, baud=, transmit-check=, response-time=)")
            .arg(field);
    const QString name = field.left(eq);
    const QString value = field.mid(eq + 1);
    const auto twice = [&name] { return QStringLiteral("pole %1= podane dwa razy").arg(name); };
    if (name == QLatin1String("model")) {
        if (entry.model)
            return twice();
        entry.model = modelFromName(value);
        if (!entry.model)
            return QStringLiteral("nieznany model „%1” (KX-2, KX-3 albo KX-4)").arg(value);
    } else if (name == QLatin1String("baud")) {
        if (entry.baudCode)
            return twice();
        const auto rate = wholeNumber(value, 0, 38400);
        entry.baudCode = rate ? baudCodeOfRate(*rate) : std::nullopt;
        if (!entry.baudCode)
            return QStringLiteral("nieznana prędkość „%1” (1200, 2400, 4800, 9600, 19200 albo 38400)").arg(value);
    } else if (name == QLatin1String("transmit-check")) {
        if (entry.transmitCheck)
            return twice();
        const auto check = wholeNumber(value, 0, 1);
        if (!check)
            return QStringLiteral("kontrola nadawania „%1” (0 albo 1)").arg(value);
        entry.transmitCheck = static_cast<std::int16_t>(*check);
    } else if (name == QLatin1String("response-time")) {
        if (entry.responseTimeMs)
            return twice();
        entry.responseTimeMs = wholeNumber(value, 0, kMaxResponseTimeMs);
        if (!entry.responseTimeMs)
            return QStringLiteral("czas odpowiedzi „%1” (milisekundy od 0 do %2)").arg(value).arg(kMaxResponseTimeMs);
    } else {
        return QStringLiteral("nieznane pole „%1” (model, baud, transmit-check, response-time)").arg(name);
    }
    return std::nullopt;
}

} // namespace

bool parseMeterList(const QString& text, std::vector<MeterListEntry>& entries, int& errorLine, QString& error)
{
    entries.clear();
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    static const QRegularExpression blanks(QStringLiteral("[ \t]+"));
    const QStringList lines = text.split(lineBreak);
    std::vector<MeterListEntry> read;
    const auto fail = [&](int line, const QString& reason) {
        errorLine = line;
        error = reason;
        return false;
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        QString content = lines[i];
        if (const qsizetype hash = content.indexOf(QLatin1Char('#')); hash >= 0)
            content.truncate(hash);
        const QStringList fields = content.trimmed().split(blanks, Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        MeterListEntry entry;
        entry.line = number;
        const auto address = wholeNumber(fields[0], 0, 255);
        if (!address)
            return fail(number, QStringLiteral("„%1” nie jest adresem miernika (liczba od %2 do %3)")
                                    .arg(fields[0])
                                    .arg(kFirstUnit)
                                    .arg(kLastUnit));
        if (*address < kFirstUnit || *address > kLastUnit)
            return fail(number, QStringLiteral("adres %1 nie może być jednostką Modbus (adresy od %2 do %3)")
                                    .arg(*address)
                                    .arg(kFirstUnit)
                                    .arg(kLastUnit));
        entry.address = static_cast<std::int16_t>(*address);
        for (qsizetype f = 1; f < fields.size(); ++f) {
            if (const auto reason = applyField(fields[f], entry))
                return fail(number, *reason);
        }
        for (const MeterListEntry& earlier : read) {
            // One unit identifier, one meter: a client could not tell two apart.
            if (earlier.address == entry.address)
                return fail(number, QStringLiteral("adres %1 jest już w wierszu %2").arg(entry.address).arg(earlier.line));
        }
        read.push_back(entry);
    }
    if (read.empty())
        return fail(0, QStringLiteral("lista nie zawiera żadnego miernika"));
    entries = std::move(read);
    return true;
}

bool readMeterList(const QString& path, std::vector<MeterListEntry>& entries, QString& error)
{
    const QString shown = QDir::toNativeSeparators(path);
    QByteArray bytes;
    QString reason;
    if (!readWholeFile(path, kMeterListMaxBytes, bytes, &reason)) {
        // A refused link names itself already.
        error = reason.startsWith(shown) ? reason : QStringLiteral("%1: %2").arg(shown, reason);
        return false;
    }
    // The decoder skips a byte order mark (Notepad puts one there).
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError()) {
        error = QStringLiteral("%1: plik nie jest tekstem UTF-8").arg(shown);
        return false;
    }
    int line = 0;
    if (!parseMeterList(text, entries, line, reason)) {
        error = line > 0 ? QStringLiteral("%1:%2: %3").arg(shown).arg(line).arg(reason)
                         : QStringLiteral("%1: %2").arg(shown, reason);
        return false;
    }
    return true;
}

} // namespace vardel
