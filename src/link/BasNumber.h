#pragma once

#include <array>
#include <cstdint>

namespace vardel {

// The receive buffer, positions 1..250 (index 0 is never used).
inline constexpr int kRxBufSize = 250;
using RxBuffer = std::array<std::uint8_t, kRxBufSize + 1>;

// The meter's six-byte number: eight packed decimal digits, a sign byte and the
// decimal exponent plus 129. Start is 1-based; valid starts are 1..245.
// A decoded magnitude beyond single precision comes back as +/-FLT_MAX, so that
// every display and the configuration file can show it and read it back.
float BasToFloat(const RxBuffer& buf, int start);
inline constexpr int kBasNumberSize = 6;

// Encodes x into buf[1..6]. x must be finite.
void FloatToBas(RxBuffer& buf, float x);

} // namespace vardel
