#include "config/ListInput.h"

#include <QStringDecoder>

#include <array>
#include <charconv>
#include <string>
#include <system_error>

namespace vardel {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isLineEndChar(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Strict reading of one numeric field: [sign] digits [. digits] [E|D [sign] digits],
// with at least one digit in the mantissa.
ListInput::Number parseNumber(QStringView token, double& value)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(token.size()));
    qsizetype i = 0;
    const qsizetype n = token.size();
    bool negative = false;
    if (i < n && (token[i] == QLatin1Char('+') || token[i] == QLatin1Char('-'))) {
        negative = token[i] == QLatin1Char('-');
        ++i;
    }
    int intDigits = 0;      // significant digits before the point
    int leadingZeros = 0;   // zeros right after the point before the first significant digit
    int mantissaDigits = 0;
    bool seenNonZero = false;
    for (; i < n && isDigit(token[i]); ++i) {
        text.push_back(static_cast<char>(token[i].unicode()));
        ++mantissaDigits;
        if (token[i] != QLatin1Char('0'))
            seenNonZero = true;
        if (seenNonZero)
            ++intDigits;
    }
    if (i < n && token[i] == QLatin1Char('.')) {
        text.push_back('.');
        for (++i; i < n && isDigit(token[i]); ++i) {
            text.push_back(static_cast<char>(token[i].unicode()));
            ++mantissaDigits;
            if (token[i] != QLatin1Char('0'))
                seenNonZero = true;
            else if (!seenNonZero)
                ++leadingZeros;
        }
    }
    if (mantissaDigits == 0)
        return ListInput::Number::Invalid;
    long long exponent = 0;
    if (i < n) {
        const QChar e = token[i].toUpper();
        if (e != QLatin1Char('E') && e != QLatin1Char('D'))
            return ListInput::Number::Invalid;
        text.push_back('e');
        ++i;
        if (i < n && (token[i] == QLatin1Char('+') || token[i] == QLatin1Char('-'))) {
            text.push_back(static_cast<char>(token[i].unicode()));
            ++i;
        }
        if (i == n)
            return ListInput::Number::Invalid;
        bool sign = text.back() == '-';
        for (; i < n; ++i) {
            if (!isDigit(token[i]))
                return ListInput::Number::Invalid;
            text.push_back(static_cast<char>(token[i].unicode()));
            if (exponent < 100000)
                exponent = exponent * 10 + (token[i].unicode() - '0');
        }
        if (sign)
            exponent = -exponent;
    }
    double result = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (ec == std::errc::result_out_of_range) {
        // Too large is an error; too small is as good as zero.
        const long long magnitude = intDigits > 0 ? exponent + intDigits : exponent - leadingZeros;
        if (magnitude > 0)
            return ListInput::Number::Invalid;
        result = 0.0;
    } else if (ec != std::errc() || end != text.data() + text.size()) {
        return ListInput::Number::Invalid;
    }
    value = negative ? -result : result;
    return ListInput::Number::Ok;
}

} // namespace

ListInput::ListInput(QString text)
    : m_text(std::move(text))
{
}

bool ListInput::atEnd() const
{
    return m_pos >= m_text.size();
}

bool ListInput::atLineEnd() const
{
    return !atEnd() && isLineEndChar(m_text.at(m_pos));
}

void ListInput::skipBlanks()
{
    while (!atEnd() && isBlank(m_text.at(m_pos)))
        ++m_pos;
}

void ListInput::skipLineEnd()
{
    if (atEnd())
        return;
    if (m_text.at(m_pos) == QLatin1Char('\r')) {
        ++m_pos;
        if (!atEnd() && m_text.at(m_pos) == QLatin1Char('\n'))
            ++m_pos;
    } else if (m_text.at(m_pos) == QLatin1Char('\n')) {
        ++m_pos;
    }
}

void ListInput::skipSeparators()
{
    while (!atEnd() && (isBlank(m_text.at(m_pos)) || isLineEndChar(m_text.at(m_pos)) || m_text.at(m_pos) == QLatin1Char(',')))
        ++m_pos;
}

std::optional<QString> ListInput::readTextField()
{
    if (atEnd())
        return std::nullopt;
    skipBlanks();
    if (!atEnd() && m_text.at(m_pos) == QLatin1Char('"')) {
        const qsizetype start = m_pos + 1;
        qsizetype close = m_text.indexOf(QLatin1Char('"'), start);
        if (close < 0)
            close = m_text.size();
        QString field = m_text.mid(start, close - start);
        m_pos = close < m_text.size() ? close + 1 : close;
        // Whatever trails the closing quote is not part of the field.
        while (!atEnd() && m_text.at(m_pos) != QLatin1Char(',') && !atLineEnd())
            ++m_pos;
        if (!atEnd() && m_text.at(m_pos) == QLatin1Char(','))
            ++m_pos;
        else
            skipLineEnd();
        return field;
    }
    const qsizetype start = m_pos;
    while (!atEnd() && m_text.at(m_pos) != QLatin1Char(',') && !atLineEnd())
        ++m_pos;
    qsizetype stop = m_pos;
    while (stop > start && isBlank(m_text.at(stop - 1)))
        --stop;
    QString field = m_text.mid(start, stop - start);
    if (!atEnd() && m_text.at(m_pos) == QLatin1Char(','))
        ++m_pos;
    else
        skipLineEnd();
    return field;
}

ListInput::Number ListInput::readNumberField(double& value)
{
    if (atEnd())
        return Number::End;
    skipBlanks();
    const qsizetype start = m_pos;
    while (!atEnd() && !isBlank(m_text.at(m_pos)) && m_text.at(m_pos) != QLatin1Char(',') && !atLineEnd())
        ++m_pos;
    const QStringView token = QStringView(m_text).mid(start, m_pos - start);
    skipBlanks();
    if (!atEnd() && m_text.at(m_pos) == QLatin1Char(','))
        ++m_pos;
    else
        skipLineEnd();
    if (token.isEmpty()) {
        value = 0.0;
        return Number::Ok;
    }
    return parseNumber(token, value);
}

std::optional<QString> ListInput::readChars(int n)
{
    if (n < 0 || m_text.size() - m_pos < n)
        return std::nullopt;
    QString chars = m_text.mid(m_pos, n);
    m_pos += n;
    return chars;
}

int ListInput::lineNumber() const
{
    int line = 1;
    for (qsizetype i = 0; i < m_pos; ++i) {
        if (m_text.at(i) == QLatin1Char('\n'))
            ++line;
        else if (m_text.at(i) == QLatin1Char('\r') && (i + 1 >= m_text.size() || m_text.at(i + 1) != QLatin1Char('\n')))
            ++line;
    }
    return line;
}

QString decodeWindows1250(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-1250");
    if (decoder.isValid())
        return decoder.decode(bytes);

    // The upper half of Windows-1250; U+FFFD where the code page leaves a gap.
    static constexpr std::array<char16_t, 128> kUpper = {
        0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0x0160, 0x2039,
        0x015A, 0x0164, 0x017D, 0x0179, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
        0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
        0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
        0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
        0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
        0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
        0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
        0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
        0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        text.append(b < 0x80 ? QChar(static_cast<char16_t>(b)) : QChar(kUpper[b - 0x80u]));
    }
    return text;
}

} // namespace vardel
