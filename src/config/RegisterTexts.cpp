#include "config/RegisterTexts.h"

#include "config/ListInput.h"
#include "fileio/SafeFile.h"
#include "link/Module1.h"


#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace vardel {

QString RegisterNumberText(std::int16_t model, int r, const QString& current)
{
    switch (model) {
    case kModelKX2:
    case kModelKX4:
        return QStringLiteral("   ") + QString::number(r, 16).toUpper();
    case kModelKX3:
        // The fourth blank stands where a minus sign would go.
        return QStringLiteral("   ") + (r < 0 ? QStringLiteral("-") : QStringLiteral(" "))
            + QString::number(std::abs(r));
    default:
        return current;
    }
}

// Fixed notation while the value, rounded to 7 significant digits, has a
// decimal exponent from -4 to 6 (0.0001 to 9999999), exponent notation outside
// it. Infinity shows as the largest single value, as the meter's own numbers
// saturate there; a NaN cannot reach the table and would show as 0.
QString SevenDigitText(float value, QChar separator, bool zeroBeforePoint)
{
    if (std::isnan(value) || value == 0.0f)
        return QStringLiteral("0");
    if (std::isinf(value))
        value = std::signbit(value) ? -FLT_MAX : FLT_MAX;

    char buf[40];
    const auto res = std::to_chars(std::begin(buf), std::end(buf), std::fabs(static_cast<double>(value)),
                                   std::chars_format::scientific, 6);
    // buf holds d.dddddde[+-]xx: the rounding to 7 digits is done, carry included.
    const std::string text(std::begin(buf), res.ptr);
    const std::size_t ePos = text.find('e');
    std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2);
    const int exponent = std::stoi(text.substr(ePos + 1));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const QString sep(separator);
    QString out;
    if (value < 0.0f)
        out += QLatin1Char('-');
    const auto nDigits = static_cast<int>(digits.size());
    if (exponent >= -4 && exponent <= 6) {
        if (exponent < 0) {
            if (zeroBeforePoint)
                out += QLatin1Char('0');
            out += sep + QString(-exponent - 1, QLatin1Char('0')) + QString::fromLatin1(digits);
        } else if (nDigits <= exponent + 1) {
            out += QString::fromLatin1(digits) + QString(exponent + 1 - nDigits, QLatin1Char('0'));
        } else {
            const auto whole = static_cast<std::size_t>(exponent + 1);
            out += QString::fromLatin1(digits.substr(0, whole)) + sep + QString::fromLatin1(digits.substr(whole));
        }
    } else {
        out += QLatin1Char(digits[0]);
        if (nDigits > 1)
            out += sep + QString::fromLatin1(digits.substr(1));
        out += exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+");
        const int absExp = std::abs(exponent);
        if (absExp < 10)
            out += QLatin1Char('0');
        out += QString::number(absExp);
    }
    return out;
}

QString PointValueText(float value)
{
    return SevenDigitText(value, QLatin1Char('.'), true);
}

QString ValueText(float value, const QLocale& locale)
{
    // Only the point and the comma are separators ParseValue can read back;
    // any other locale gets the point.
    const QString sep = locale.decimalPoint();
    return SevenDigitText(value, sep == QLatin1String(",") ? QLatin1Char(',') : QLatin1Char('.'), true);
}

namespace {

float saturateToFloat(double d)
{
    // Converting a double beyond the float range is undefined; clamp first.
    if (d > static_cast<double>(FLT_MAX))
        return FLT_MAX;
    if (d < -static_cast<double>(FLT_MAX))
        return -FLT_MAX;
    return static_cast<float>(d);
}

// Walks the text as Val does: blanks, tabs and line feeds are invisible, and
// every comma has already become a point.
class ValScanner {
public:
    explicit ValScanner(const QString& text) : m_text(text) { skip(); }
    QChar peek() const { return m_pos < m_text.size() ? m_text[m_pos] : QChar(); }
    void advance()
    {
        ++m_pos;
        skip();
    }

private:
    void skip()
    {
        while (m_pos < m_text.size()
               && (m_text[m_pos] == QLatin1Char(' ') || m_text[m_pos] == QLatin1Char('\t')
                   || m_text[m_pos] == QLatin1Char('\n')))
            ++m_pos;
    }
    const QString& m_text;
    qsizetype m_pos = 0;
};

int digitValue(QChar c, int base)
{
    int d = -1;
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        d = u - u'0';
    else if (u >= u'a' && u <= u'f')
        d = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        d = u - u'A' + 10;
    return d < base ? d : -1;
}

} // namespace

// &H and &O read as plain non-negative integers: &HFFFF is 65535, not a
// 16-bit -1, since a register value is a quantity and a positive
// text must not turn negative. Numbers beyond single range give +/-FLT_MAX,
// numbers below it 0.
float ParseValue(const QString& text)
{
    QString t = text;
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    ValScanner s(t);

    if (s.peek() == QLatin1Char('&')) {
        s.advance();
        int base = 8;
        const QChar kind = s.peek().toUpper();
        if (kind == QLatin1Char('H')) {
            base = 16;
            s.advance();
        } else if (kind == QLatin1Char('O')) {
            s.advance();
        }
        double v = 0.0;
        for (int d = digitValue(s.peek(), base); d >= 0; d = digitValue(s.peek(), base)) {
            v = v * base + d;
            s.advance();
        }
        return saturateToFloat(v);
    }

    bool negative = false;
    if (s.peek() == QLatin1Char('+') || s.peek() == QLatin1Char('-')) {
        negative = s.peek() == QLatin1Char('-');
        s.advance();
    }
    std::string mantissa;
    int intDigits = 0;    // significant digits before the point
    int leadingZeros = 0; // zeros after the point ahead of the first significant digit
    bool seenNonZero = false;
    bool seenPoint = false;
    for (;;) {
        const QChar c = s.peek();
        if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
            mantissa.push_back('.');
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            mantissa.push_back(static_cast<char>(c.unicode()));
            if (c != QLatin1Char('0'))
                seenNonZero = true;
            if (seenNonZero && !seenPoint)
                ++intDigits;
            else if (!seenNonZero && seenPoint)
                ++leadingZeros;
        } else {
            break;
        }
        s.advance();
    }
    if (!seenNonZero)
        return 0.0f;

    long long exponent = 0;
    const QChar e = s.peek().toUpper();
    if (e == QLatin1Char('E') || e == QLatin1Char('D')) {
        s.advance();
        bool expNegative = false;
        if (s.peek() == QLatin1Char('+') || s.peek() == QLatin1Char('-')) {
            expNegative = s.peek() == QLatin1Char('-');
            s.advance();
        }
        for (QChar c = s.peek(); c >= QLatin1Char('0') && c <= QLatin1Char('9'); c = s.peek()) {
            // Capped: far beyond any double already, and safe from overflow.
            if (exponent < 100000)
                exponent = exponent * 10 + (c.unicode() - u'0');
            s.advance();
        }
        if (expNegative)
            exponent = -exponent;
    }

    const long long magnitude = intDigits > 0 ? exponent + intDigits : exponent - leadingZeros;
    double v = 0.0;
    if (magnitude > 400) {
        v = HUGE_VAL;
    } else if (magnitude < -400) {
        v = 0.0;
    } else {
        const std::string number = mantissa + 'e' + std::to_string(exponent);
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
        (void)end;
        if (ec == std::errc::result_out_of_range)
            v = magnitude > 0 ? HUGE_VAL : 0.0;
        else if (ec != std::errc())
            v = 0.0;
    }
    return saturateToFloat(negative ? -v : v);
}

NamesLoad LoadRegisterNames(RegisterTable& table)
{
    NamesLoad result;
    QByteArray bytes;
    QString reason;
    bool missing = false;
    if (!readWholeFile(table.NamesFile, kSmallFileLimit, bytes, &reason, &missing)) {
        result.ok = false;
        result.message = missing ? QStringLiteral("Nie znaleziono pliku nazw rejestrów: %1").arg(table.NamesFile)
                                 : QStringLiteral("Nie można wczytać pliku %1: %2").arg(table.NamesFile, reason);
        return result;
    }
    ListInput input(decodeWindows1250(bytes));

    const int count = std::clamp(static_cast<int>(table.RegCount), 0, kRegisterSlots);
    for (int r = 0; r < count; ++r) {
        std::optional<QString> name = input.readTextField();
        if (!name)
            break;
        table.RegName[static_cast<std::size_t>(r)] = std::move(*name);
        ++result.namesRead;
    }
    if (result.namesRead < count) {
        result.ok = false;
        result.message = QStringLiteral("Plik nazw rejestrów %1 zawiera tylko %2 z %3 nazw.")
                             .arg(table.NamesFile)
                             .arg(result.namesRead)
                             .arg(count);
    }
    return result;
}

bool isReservedName(const QString& name)
{
    return name == QLatin1String("Rezerwa");
}

} // namespace vardel
