#include "files/ConfigFile.h"

#include "config/ListInput.h"
#include "config/RegisterTexts.h"
#include "fileio/SafeFile.h"

#include <QDir>
#include <QHash>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace vardel {

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

QString saveFailed(const QString& path, const QString& reason)
{
    return QStringLiteral("Nie można zapisać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

QString loadFailed(const QString& path, const QString& reason)
{
    return QStringLiteral("Nie można wczytać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
}

// Windows-1250 both ways. A character can be written only if the reader gives
// it back unchanged, so that is what is checked: encode, decode, compare. The
// system's encoder substitutes silently for what it cannot hold.
class Windows1250 {
public:
    Windows1250()
        : m_encoder("windows-1250")
    {
        if (!m_encoder.isValid()) {
            // No system converter: the reverse of the reader's built-in table.
            for (int b = 0x80; b < 0x100; ++b) {
                const QString c = decodeWindows1250(QByteArray(1, static_cast<char>(b)));
                if (c.size() == 1 && c[0] != QChar(QChar::ReplacementCharacter))
                    m_reverse.insert(c[0].unicode(), static_cast<char>(b));
            }
        }
    }

    QByteArray encode(const QString& text)
    {
        if (m_encoder.isValid())
            return m_encoder.encode(text);
        QByteArray bytes;
        bytes.reserve(text.size());
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                bytes.append(static_cast<char>(c.unicode()));
            else
                bytes.append(m_reverse.value(c.unicode(), '?'));
        }
        return bytes;
    }

    // The characters of text (each once, in order) that would not read back.
    QStringList unwritable(const QString& text)
    {
        QStringList bad;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].unicode() < 0x80)
                continue;
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString c = text.mid(i, n);
            i += n - 1;
            auto known = m_canHold.constFind(c);
            if (known == m_canHold.cend())
                known = m_canHold.insert(c, decodeWindows1250(encode(c)) == c);
            if (!*known && !bad.contains(c))
                bad.append(c);
        }
        return bad;
    }

private:
    QStringEncoder m_encoder;
    QHash<char16_t, char> m_reverse;
    QHash<QString, bool> m_canHold;
};

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// What the list-input reader would not give back if the text stood on its
// line as it is: a comma ends the field early, blanks at either end are
// dropped. Quotes keep all of it.
bool needsQuotes(const QString& text)
{
    return text.contains(QLatin1Char(',')) || (!text.isEmpty() && (isBlank(text.front()) || isBlank(text.back())));
}

// A double quote inside an unquoted field is read as it stands (96x48 5"
// panel); only one at the start opens a quoted field, and inside quotes none
// can stand at all.
bool quoteCannotComeBack(const QString& text)
{
    return text.contains(QLatin1Char('"')) && (text.front() == QLatin1Char('"') || needsQuotes(text));
}

QString quotedList(const QStringList& chars)
{
    QStringList items;
    for (const QString& c : chars) {
        if (c == QLatin1String("\n") || c == QLatin1String("\r"))
            items.append(QStringLiteral("koniec wiersza"));
        else
            items.append(QStringLiteral("„%1”").arg(c));
    }
    items.removeDuplicates();
    return items.join(QStringLiteral(", "));
}

QString refusedField(const QString& fieldName, const QStringList& chars)
{
    return QStringLiteral("Tekst w polu „%1” zawiera znaki, których nie można zapisać w pliku konfiguracji: %2")
        .arg(fieldName, quotedList(chars));
}

// Every line break of a free text as CR LF, so that its length line counts
// exactly the characters that follow it in the file.
QString withCrLf(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            out += kLineEnd;
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += kLineEnd;
        } else {
            out += c;
        }
    }
    return out;
}

// Integer text of a length line: sign position, digits, one trailing blank.
QString integerText(qsizetype n)
{
    return (n < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + QString::number(n < 0 ? -n : n)
        + QLatin1Char(' ');
}

struct DescriptionField {
    QString RegisterTable::*member;
    const char* name;
};

constexpr std::array<DescriptionField, 6> kDescriptionFields{{
    {&RegisterTable::SerialNo, "Numer seryjny miernika"},
    {&RegisterTable::ProgVersion, "Wersja programu"},
    {&RegisterTable::InVer1, "Wykonanie wejść We-1"},
    {&RegisterTable::InVer2, "Wykonanie wejść We-2"},
    {&RegisterTable::InVer3, "Wykonanie wejść We-3"},
    {&RegisterTable::InVer4, "Wykonanie wejść We-4"},
}};

} // namespace

QString FileValueText(float value)
{
    // A sign blank for values that are not negative, and always a point.
    const QString text = SevenDigitText(value, QLatin1Char('.'), false);
    return text.startsWith(QLatin1Char('-')) ? text : QLatin1Char(' ') + text;
}

FileResult WriteConfigFile(const RegisterTable& table, const QString& path)
{
    Windows1250 codec;

    // Everything is checked before the file is touched: a refused save leaves
    // the disk as it was.
    QString text;
    for (const DescriptionField& field : kDescriptionFields) {
        const QString& value = table.*field.member;
        const bool badQuote = quoteCannotComeBack(value);
        QStringList bad;
        for (const QChar c : value) {
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || (badQuote && c == QLatin1Char('"')))
                bad.append(QString(c));
        }
        bad += codec.unwritable(value);
        if (!bad.isEmpty())
            return {false, refusedField(QString::fromUtf8(field.name), bad)};
        if (needsQuotes(value))
            text += QLatin1Char('"') + value + QLatin1Char('"');
        else
            text += value;
        text += kLineEnd;
    }

    const int count = std::clamp<int>(table.RegCount, 0, kRegisterSlots);
    for (int r = 0; r < count; ++r) {
        text += FileValueText(table.RegValue[static_cast<std::size_t>(r)]);
        text += kLineEnd;
    }

    const QString customer = withCrLf(table.CustomerData);
    const QString remarks = withCrLf(table.Remarks);
    for (const auto& [value, name] : {std::pair{&customer, "Dane odbiorcy"}, std::pair{&remarks, "Uwagi dodatkowe"}}) {
        const QStringList bad = codec.unwritable(*value);
        if (!bad.isEmpty())
            return {false, refusedField(QString::fromUtf8(name), bad)};
    }
    text += integerText(customer.size()) + kLineEnd;
    text += integerText(remarks.size()) + kLineEnd;
    text += customer + kLineEnd;
    text += remarks + kLineEnd;

    const QByteArray bytes = codec.encode(text);

    // What the reader would refuse as too large is not written either.
    if (bytes.size() > kConfigFileLimit)
        return {false, saveFailed(path, QStringLiteral("dane odbiorcy i uwagi są za długie (plik miałby ponad %1 MB)")
                                            .arg(kConfigFileLimit >> 20))};
    QString reason;
    if (!writeFileAtomically(path, bytes, &reason))
        return {false, saveFailed(path, reason)};
    return {};
}

FileResult ReadConfigFile(RegisterTable& table, const QString& path)
{
    QByteArray bytes;
    QString reason;
    if (!readWholeFile(path, kConfigFileLimit, bytes, &reason))
        return {false, loadFailed(path, reason)};
    return ReadConfigData(table, bytes, path);
}

FileResult ReadConfigData(RegisterTable& table, const QByteArray& bytes, const QString& path)
{
    ListInput in(decodeWindows1250(bytes));
    const QString shortFile = QStringLiteral("plik kończy się przed końcem danych");

    // Read into a copy; the table takes it only when the whole file was read.
    std::array<QString, kDescriptionFields.size()> descriptions;
    for (QString& field : descriptions) {
        std::optional<QString> read = in.readTextField();
        if (!read)
            return {false, loadFailed(path, shortFile)};
        field = std::move(*read);
    }

    const int count = std::clamp<int>(table.RegCount, 0, kRegisterSlots);
    std::array<float, kRegisterSlots> values = table.RegValue;
    for (int r = 0; r < count; ++r) {
        // A copy of the reader (shared text, one position) names the line if
        // the field is wrong; counting lines for every field would cost more.
        const ListInput fieldStart = in;
        double value = 0.0;
        switch (in.readNumberField(value)) {
        case ListInput::Number::End:
            return {false, loadFailed(path, shortFile)};
        case ListInput::Number::Invalid:
            return {false, loadFailed(path, QStringLiteral("nieprawidłowa liczba w wierszu %1")
                                                .arg(fieldStart.lineNumber()))};
        case ListInput::Number::Ok:
            break;
        }
        // Beyond single range saturates, as the meter's own numbers do; the
        // largest value is written as 3.402824E+38, just above it.
        values[static_cast<std::size_t>(r)] =
            std::fabs(value) > static_cast<double>(FLT_MAX)
                ? (value < 0.0 ? -FLT_MAX : FLT_MAX)
                : static_cast<float>(value);
    }

    std::array<int, 2> lengths{};
    for (int& length : lengths) {
        const int line = in.lineNumber();
        double value = 0.0;
        const ListInput::Number result = in.readNumberField(value);
        if (result == ListInput::Number::End)
            return {false, loadFailed(path, shortFile)};
        if (result == ListInput::Number::Invalid || value != std::trunc(value)
            || std::fabs(value) > static_cast<double>(std::numeric_limits<int>::max()))
            return {false, loadFailed(path, QStringLiteral("nieprawidłowa liczba w wierszu %1").arg(line))};
        if (value < 0.0)
            return {false, loadFailed(path, QStringLiteral("ujemna długość tekstu w wierszu %1").arg(line))};
        length = static_cast<int>(value);
    }

    std::optional<QString> customer = in.readChars(lengths[0]);
    if (!customer)
        return {false, loadFailed(path, shortFile)};
    in.skipLineEnd();
    std::optional<QString> remarks = in.readChars(lengths[1]);
    if (!remarks)
        return {false, loadFailed(path, shortFile)};

    for (std::size_t i = 0; i < kDescriptionFields.size(); ++i)
        table.*kDescriptionFields[i].member = std::move(descriptions[i]);
    table.RegValue = values;
    table.CustomerData = std::move(*customer);
    table.Remarks = std::move(*remarks);
    return {};
}

} // namespace vardel
