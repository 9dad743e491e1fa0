// The meter's six-byte number format in both directions.
#include "link/BasNumber.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace vardel {
namespace {

using Bytes = std::array<std::uint8_t, 6>;

Bytes encode(float x)
{
    RxBuffer buf;
    buf.fill(0xEE);
    FloatToBas(buf, x);
    EXPECT_EQ(buf[7], 0xEE) << "only RxBuf(1..6) is written";
    Bytes b;
    std::copy(buf.begin() + 1, buf.begin() + 7, b.begin());
    return b;
}

float decode(const Bytes& b, int start = 1)
{
    RxBuffer buf;
    buf.fill(0xEE);
    std::copy(b.begin(), b.end(), buf.begin() + start);
    return BasToFloat(buf, start);
}

std::string hex(const Bytes& b)
{
    std::string s;
    char part[4];
    for (std::uint8_t v : b) {
        std::snprintf(part, sizeof part, "%02X ", v);
        s += part;
    }
    return s;
}

TEST(BasNumber, WorkedValuesAndEdgeCases)
{
    enum Dir { Both, DecodeOnly, EncodeOnly };
    struct Case {
        float value;
        Bytes bytes;
        Dir dir;
    };
    const Case cases[] = {
        {0.0f, {0, 0, 0, 0, 0, 0}, Both},
        {1.0f, {0x10, 0, 0, 0, 0, 0x81}, Both},
        {25.0f, {0x25, 0, 0, 0, 0, 0x82}, Both},
        {0.5f, {0x50, 0, 0, 0, 0, 0x80}, Both},
        {-0.25f, {0x25, 0, 0, 0, 1, 0x80}, Both},
        {3.3f, {0x33, 0, 0, 0, 0, 0x81}, Both},
        {100.0f, {0x10, 0, 0, 0, 0, 0x83}, Both},
        {0.001f, {0x10, 0, 0, 0, 0, 0x7E}, Both},
        {-273.15f, {0x27, 0x31, 0x50, 0, 1, 0x83}, Both},
        {1234.567f, {0x12, 0x34, 0x56, 0x70, 0, 0x84}, Both},
        {65535.0f, {0x65, 0x53, 0x50, 0, 0, 0x85}, Both},
        {1000000.0f, {0x10, 0, 0, 0, 0, 0x87}, Both},
        {1000.0f, {0x10, 0, 0, 0, 0, 0x84}, Both},
        // The float just below 100 keeps its own seven digits.
        {99.99999237f, {0x99, 0x99, 0x99, 0x90, 0, 0x82}, Both},
        // The float nearest 1E+11 (99999997952) rounds up to the next decade.
        {1e11f, {0x10, 0, 0, 0, 0, 0x8C}, Both},
        // Seven digits rounded to the nearest, not truncated: 183.500854.
        {183.500854f, {0x18, 0x35, 0x00, 0x90, 0, 0x83}, EncodeOnly},
        {0.0f, {0, 0, 0, 0, 0, 0x99}, DecodeOnly},        // zero digits, any exponent
        {0.0f, {0, 0, 0, 0, 1, 0x81}, DecodeOnly},        // zero digits, negative sign
        {-25.0f, {0x25, 0, 0, 0, 2, 0x82}, DecodeOnly},   // any non-zero sign byte
        {1.0f, {0x01, 0, 0, 0, 0, 0x82}, DecodeOnly},     // leading zero digit
        {12345678.0f, {0x12, 0x34, 0x56, 0x78, 0, 0x88}, DecodeOnly}, // all eight digits
        {1.515f, {0x0F, 0x0F, 0, 0, 0, 0x81}, DecodeOnly}, // nibbles above 9 add their value
        {FLT_MAX, {0x34, 0x02, 0x82, 0x30, 0, 0xA7}, EncodeOnly},
        {-FLT_MIN, {0x11, 0x75, 0x49, 0x40, 1, 0x5B}, EncodeOnly},
        {FLT_TRUE_MIN, {0x14, 0x01, 0x29, 0x80, 0, 0x54}, Both},
    };
    for (const Case& c : cases) {
        if (c.dir != DecodeOnly) {
            EXPECT_EQ(hex(encode(c.value)), hex(c.bytes)) << "encoding " << c.value;
        }
        if (c.dir != EncodeOnly) {
            const float got = decode(c.bytes);
            EXPECT_EQ(got, c.value) << "decoding " << hex(c.bytes);
            EXPECT_FALSE(std::signbit(got) && got == 0.0f) << "no negative zero from " << hex(c.bytes);
            EXPECT_EQ(decode(c.bytes, 245), got) << "the last valid start";
        }
    }
}

TEST(BasNumber, ExponentsBeyondSinglePrecisionSaturate)
{
    const struct {
        Bytes bytes;
        float value;
    } cases[] = {
        {{0x99, 0x99, 0x99, 0x99, 0, 0xA7}, FLT_MAX},   // 9.9999999E+38
        {{0x99, 0x99, 0x99, 0x99, 1, 0xA7}, -FLT_MAX},
        {{0x10, 0, 0, 0, 0, 0xFF}, FLT_MAX},            // 1E+126
        {{0xFF, 0xFF, 0xFF, 0xFF, 1, 0xFF}, -FLT_MAX},
        {{0x10, 0, 0, 0, 0, 0xA7}, 1e38f},              // still in range
        {{0x10, 0, 0, 0, 0, 0x00}, 0.0f},               // 1E-129 is below the smallest float
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.bytes), c.value) << hex(c.bytes);

    // Non-finite input never reaches the meter as garbage.
    EXPECT_EQ(hex(encode(INFINITY)), hex(encode(FLT_MAX)));
    EXPECT_EQ(hex(encode(-INFINITY)), hex(encode(-FLT_MAX)));
    EXPECT_EQ(hex(encode(NAN)), hex(Bytes{0, 0, 0, 0, 0, 0}));
}

// Over floats of every magnitude, denormals included: the bytes carry x rounded
// to seven significant digits, and decoding gives exactly that number as a
// float, so a value read from the meter and written back keeps its bytes.
TEST(BasNumber, RoundTripKeepsSevenSignificantDigits)
{
    std::mt19937 random(20240611);
    int checked = 0;
    while (checked < 200000) {
        const auto bits = static_cast<std::uint32_t>(random());
        float x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x) || x == 0.0f)
            continue;
        ++checked;
        char text[32];
        std::snprintf(text, sizeof text, "%.6e", static_cast<double>(x));
        const float rounded = std::strtof(text, nullptr);

        const Bytes b = encode(x);
        ASSERT_EQ(b[3] & 0x0F, 0) << x << ": the eighth digit is always 0";
        ASSERT_EQ(b[4], x < 0.0f ? 1 : 0) << x;
        const float back = decode(b);
        ASSERT_EQ(back, rounded) << "x " << text << " bytes " << hex(b);
        ASSERT_EQ(hex(encode(back)), hex(b)) << text;
    }
}

TEST(BasNumber, DecimalCommaLocaleDoesNotChangeTheBytes)
{
    // The windows run with the user's locale, where printf writes "25,0".
    // Without an installed Polish locale, one is compiled for this test.
    QTemporaryDir localeDir;
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    bool polish = std::setlocale(LC_NUMERIC, "pl_PL.UTF-8") != nullptr;
    if (!polish && localeDir.isValid()) {
        const QString target = localeDir.filePath(QStringLiteral("pl_PL.UTF-8"));
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), QStringLiteral("pl_PL"), QStringLiteral("-f"),
                           QStringLiteral("UTF-8"), target});
        qputenv("LOCPATH", localeDir.path().toLocal8Bit());
        polish = std::setlocale(LC_NUMERIC, "pl_PL.UTF-8") != nullptr;
        qunsetenv("LOCPATH");
    }
    if (!polish)
        GTEST_SKIP() << "no Polish locale available";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 2.5);
    const Bytes b25 = encode(25.0f);
    const Bytes bFrac = encode(-273.15f);
    const float back = decode(Bytes{0x12, 0x34, 0x56, 0x70, 0, 0x84});
    std::setlocale(LC_NUMERIC, previous.c_str());

    EXPECT_STREQ(probe, "2,5") << "the locale in force has a decimal comma";
    EXPECT_EQ(hex(b25), hex(Bytes{0x25, 0, 0, 0, 0, 0x82}));
    EXPECT_EQ(hex(bFrac), hex(Bytes{0x27, 0x31, 0x50, 0, 1, 0x83}));
    EXPECT_EQ(back, 1234.567f);
}

} // namespace
} // namespace vardel
