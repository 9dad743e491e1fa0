#include "link/BasNumber.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace vardel {

// Both directions go through decimal text made by to_chars/from_chars: they
// round correctly and ignore the user's locale. Rounding through single
// precision on the way (or letting printf write a decimal comma under a Polish
// locale) changed the seventh digit of a register value read from the meter and
// written back unchanged.

float BasToFloat(const RxBuffer& buf, int start)
{
    // Nibbles are taken as they come; a nibble above 9 adds its value.
    long digits = 0;
    for (int k = start; k <= start + 3; ++k) {
        const int b = buf[static_cast<std::size_t>(k)];
        const int hi = b / 16;
        const int lo = b - 16 * hi;
        digits = digits * 100 + hi * 10 + lo;
    }
    if (digits == 0)
        return 0.0f; // also with a sign byte: no "-0" on screen
    const bool negative = buf[static_cast<std::size_t>(start + 4)] != 0;
    const int exponent = buf[static_cast<std::size_t>(start + 5)] - 129 - 7;

    // Integers only: printf puts no locale's decimal sign in here.
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lde%d", digits, exponent);

    float value = 0.0f;
    const auto parsed = std::from_chars(text, text + length, value);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Exponent bytes above about 167 leave single precision: the largest
        // float stands in, so every display and file can still show it.
        const double estimate = static_cast<double>(digits) * std::pow(10.0, exponent);
        value = estimate > 1.0 ? FLT_MAX : 0.0f;
    }
    return negative ? -value : value;
}

void FloatToBas(RxBuffer& buf, float x)
{
    if (std::isnan(x))
        x = 0.0f;
    else if (std::isinf(x))
        x = x < 0.0f ? -FLT_MAX : FLT_MAX;

    if (x == 0.0f) {
        for (int i = 1; i <= 6; ++i)
            buf[static_cast<std::size_t>(i)] = 0;
        return;
    }
    buf[5] = x < 0.0f ? 1 : 0;

    // Seven significant digits of x, rounded to the nearest: "d.dddddde+EE".
    // A carry up to the next power of ten already shows in the exponent.
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, std::fabs(static_cast<double>(x)),
                                       std::chars_format::scientific, 6);
    int digits[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    digits[0] = text[0] - '0';
    for (int i = 0; i < 6; ++i)
        digits[1 + i] = text[2 + i] - '0';
    int e = 0;
    const char* exponentText = text + 9; // after "d.dddddde"
    if (*exponentText == '+')
        ++exponentText;
    std::from_chars(exponentText, written.ptr, e);

    for (int i = 0; i < 4; ++i)
        buf[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(16 * digits[2 * i] + digits[2 * i + 1]);
    buf[6] = static_cast<std::uint8_t>(e + 129);
}

} // namespace vardel
