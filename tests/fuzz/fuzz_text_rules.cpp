// What the user types into the windows' boxes: register values, the card
// address and the network addresses. The first byte says how the rest is
// text: UTF-8, or UTF-16 code units as they come (lone surrogates too).
#include "app/TextRules.h"
#include "config/RegisterTexts.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes = fuzz::bytesOf(data + 1, size - 1);
    const QString text = data[0] & 1
        ? QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2)
        : QString::fromUtf8(bytes);

    // Saturates, never infinite or NaN; whatever it gives can be shown.
    const float value = ParseValue(text);
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(!ValueText(value).isEmpty());

    if (const std::optional<std::int16_t> card = parseCardAddressText(text))
        FUZZ_CHECK(*card != 0x7FFF);
    parseNetworkAddressText(text);
    return 0;
}
