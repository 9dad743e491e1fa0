#include "app/TextRules.h"

#include "link/Module1.h"

#include <charconv>
#include <cmath>
#include <string>

namespace vardel {

namespace {

// The text without blanks: blanks never end a number here.
std::string withoutBlanks(const QString& text)
{
    std::string s;
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        s += c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x7f';
    }
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::int16_t> parseCardAddressText(const QString& text, QString* refusal)
{
    const auto refuse = [refusal](const QString& why) -> std::optional<std::int16_t> {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };
    const QString outOfRange = QStringLiteral("Nieprawidłowy adres: wartość poza zakresem 16 bitów");
    const std::string s = withoutBlanks(text);
    long value = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0)
            break;
        value = value * 16 + d;
        if (value > 0xFFFF)
            return refuse(outOfRange);
    }
    if (value == 0x7FFF)
        return refuse(outOfRange);
    const auto address = static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    if (isSystemPortPair(address))
        return refuse(QString::fromUtf8(kSystemPortsText));
    return address;
}

std::optional<std::int16_t> parseNetworkAddressText(const QString& text)
{
    const std::string s = withoutBlanks(text);
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number += s[i++];
    bool digits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        number += s[i++];
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            number += s[i++];
            digits = true;
        }
    }
    if (digits && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        bool expDigits = false;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
            exponent += s[j++];
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    if (!digits)
        return std::int16_t{0};
    // The user's LC_NUMERIC (the application sets it) must not decide
    // where the number ends: from_chars reads the point whatever it is.
    double value = 0.0;
    std::from_chars(number.data(), number.data() + number.size(), value);
    const double rounded = std::nearbyint(value); // the default rounding mode: halves to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

} // namespace vardel
