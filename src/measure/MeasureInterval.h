#pragma once

#include <QString>

#include <optional>

namespace vardel {

// Seconds as people type them: a whole number or one with a point or a
// comma and up to three decimals ("0.5", "2,25", "10"), in milliseconds,
// from `leastMs` to `mostMs`. Nothing for any other text: a value is never
// rounded or clamped into something the user did not write.
std::optional<int> parseSeconds(const QString& text, int leastMs, int mostMs = 86400 * 1000);

// Milliseconds as seconds as the windows write them: a decimal comma, no
// needless decimals, no thousands separator ("0,5", "2,25", "3600").
QString secondsNumberText(int ms);

} // namespace vardel
