#include "link/BasNumber.h"

#include <cfloat>
#include <cmath>
#include <cstdio>

namespace vardel {

float BasToFloat(const RxBuffer& buf, int start)
{
    float v = 0.0f;
    for (int k = start; k <= start + 3; ++k) {
        const int b = buf[static_cast<std::size_t>(k)];
        const int hi = b / 16;
        const int lo = b - 16 * hi;
        // Nibbles are taken as they come; a nibble above 9 adds its value.
        v = v * 100.0f + static_cast<float>(hi * 10 + lo);
    }
    if (buf[static_cast<std::size_t>(start + 4)] != 0)
        v = -v;
    v = v / 10000000.0f;
    const double scaled = std::pow(10.0, buf[static_cast<std::size_t>(start + 5)] - 129) * static_cast<double>(v);
    // Exponent bytes above about 167 leave single precision; saturate instead of
    // converting an out-of-range double (which is undefined).
    if (scaled > static_cast<double>(FLT_MAX))
        return FLT_MAX;
    if (scaled < -static_cast<double>(FLT_MAX))
        return -FLT_MAX;
    return static_cast<float>(scaled);
}

void FloatToBas(RxBuffer& buf, float x)
{
    if (x == 0.0f) {
        for (int i = 1; i <= 6; ++i)
            buf[static_cast<std::size_t>(i)] = 0;
        return;
    }
    if (x < 0.0f) {
        buf[5] = 1;
        x = -x;
    } else {
        buf[5] = 0;
    }

    const double xd = static_cast<double>(x);
    int e = static_cast<int>(std::floor(std::log10(xd)));
    // log10 can be off by one right at a power of ten; settle it exactly.
    while (xd / std::pow(10.0, e) >= 10.0)
        ++e;
    while (xd / std::pow(10.0, e) < 1.0)
        --e;

    const float m = static_cast<float>(xd / std::pow(10.0, e));
    const float t = m * 10.0f;

    char text[32];
    std::snprintf(text, sizeof text, "%.5f", static_cast<double>(t));
    int digits[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    if (text[2] != '.') {
        // Rounding to seven digits carried t up to 100.
        ++e;
        digits[0] = 1;
    } else {
        digits[0] = text[0] - '0';
        digits[1] = text[1] - '0';
        for (int i = 0; i < 5; ++i)
            digits[2 + i] = text[3 + i] - '0';
    }
    for (int i = 0; i < 4; ++i)
        buf[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(16 * digits[2 * i] + digits[2 * i + 1]);
    buf[6] = static_cast<std::uint8_t>(e + 129);
}

} // namespace vardel
