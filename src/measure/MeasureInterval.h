#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace vardel {

// Seconds as people type them: a whole number or one with a point or a
// comma and up to three decimals ("0.5", "2,25", "10"), in milliseconds,
// from `leastMs` to `mostMs`. Nothing for any other text: a value is never
// rounded or clamped into something the user did not write.
std::optional<int> parseSeconds(const QString& text, int leastMs, int mostMs = 86400 * 1000);

// Milliseconds as seconds as the windows write them: a decimal comma, no
// needless decimals, no thousands separator ("0,5", "2,25", "3600").
QString secondsNumberText(int ms);

class Module1;

// The shortest refresh interval, in milliseconds rounded up to 10 ms, in
// which one measured-values exchange with each meter of `models` fits, one
// after another, at a baud code with meters answering in `response`.
// Anything shorter the wire cannot keep.
int shortestRefreshMs(std::span<const std::int16_t> models, std::int16_t baudCode,
                      std::chrono::milliseconds response);
// The response time the link's waits allow for: the one given, or the
// factory one.
std::chrono::milliseconds responseTimeInForce(const Module1& link);

// Whether work on the link that began at card time `started` has lasted a
// refresh interval of `intervalMs` or more, so that the next tick fell due
// during it. A zero interval keeps no schedule: never.
bool overran(const Module1& link, std::chrono::nanoseconds started, int intervalMs);

// What the windows say of it: "przy 1200 bodach" and, with a response time
// given, " i czasie odpowiedzi miernika 500 ms".
QString wireConditionsText(const Module1& link);

} // namespace vardel
