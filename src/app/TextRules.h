#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace vardel {

// "Adres karty": the box's text read as "&h" + text (blanks skipped, the
// leading hexadecimal digits, the first other character ends them; empty
// gives 0). Up to four digits give the 16-bit pattern (FFFF is -1). Refused:
// a value beyond 16 bits, 7FFF (whose command port would not exist) and an
// address whose ports fall below 100h (the mainboard's own devices; this takes
// in the empty text and FFFF). On refusal, `refusal` receives the reason as
// the box's tooltip gives it.
std::optional<std::int16_t> parseCardAddressText(const QString& text, QString* refusal = nullptr);

// The network address boxes: the leading decimal number of the text (blanks
// skipped, optional sign, point and exponent), rounded half to even. Values
// outside 16 bits are refused.
std::optional<std::int16_t> parseNetworkAddressText(const QString& text);

} // namespace vardel
