#include "measure/MeasureValues.h"

#include "link/Module1.h"

#include <array>

namespace vardel {

namespace {

constexpr std::array<int, 4> kBoxesKX2{1, 2, 5, 7};
constexpr std::array<int, 6> kBoxesKX3{1, 2, 3, 4, 5, 7};
constexpr std::array<int, 10> kBoxesKX4{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Frames that ApplyTestLayout switches, and for which model they show.
struct Switched {
    int box;
    std::int16_t fromModel; // shown for this model and the larger ones
};
constexpr std::array<Switched, 6> kSwitched{{
    {3, kModelKX3}, {4, kModelKX3},
    {6, kModelKX4}, {8, kModelKX4}, {9, kModelKX4}, {10, kModelKX4},
}};

} // namespace

std::span<const int> measureBoxesOf(std::int16_t model)
{
    switch (model) {
    case kModelKX2: return kBoxesKX2;
    case kModelKX3: return kBoxesKX3;
    case kModelKX4: return kBoxesKX4;
    default: return {};
    }
}

int measureBoxOf(std::int16_t model, int k)
{
    const auto boxes = measureBoxesOf(model);
    if (k < 0 || static_cast<std::size_t>(k) >= boxes.size())
        return 0;
    return boxes[static_cast<std::size_t>(k)];
}

QString measureCaptionOf(int box)
{
    // The first two captions end in a blank; the window has always had them so.
    switch (box) {
    case 1: return QStringLiteral("Pomiar Nr 1 ");
    case 2: return QStringLiteral("Pomiar Nr 2 ");
    case 3: return QStringLiteral("Pomiar Nr 3");
    case 4: return QStringLiteral("Pomiar Nr 4");
    case 5: return QStringLiteral("Funkcja Nr 1");
    case 6: return QStringLiteral("Funkcja Nr 2");
    case 7: return QStringLiteral("Bilans Nr 1");
    case 8: return QStringLiteral("Bilans Nr 2");
    case 9: return QStringLiteral("Bilans Nr 3");
    case 10: return QStringLiteral("Bilans Nr 4");
    default: return {};
    }
}

BoxPlace measurePlaceOf(int box)
{
    if (box >= 1 && box <= 4)
        return {0, box - 1};
    if (box >= 5 && box <= 6)
        return {1, box - 5};
    if (box >= 7 && box <= 10)
        return {2, box - 7};
    return {-1, -1};
}

std::vector<BoxVisibility> measureLayoutOf(std::int16_t model)
{
    std::vector<BoxVisibility> out;
    if (model < kModelKX2 || model > kModelKX4)
        return out;
    out.reserve(kSwitched.size());
    for (const auto& s : kSwitched)
        out.push_back({s.box, model >= s.fromModel});
    return out;
}

std::vector<MeasuredValue> mapMeasuredValues(std::int16_t model, const RxBuffer& buf, int n)
{
    std::vector<MeasuredValue> out;
    for (int j = 1; j <= n; j += 6) {
        const int box = measureBoxOf(model, j / 6);
        if (box == 0)
            continue;
        // A value cut short by the reply was not sent: its missing bytes
        // would come from an older reply (a short reply showed 0 that way).
        if (j + 5 > n)
            continue;
        out.push_back({box, j, BasToFloat(buf, j)});
    }
    return out;
}

MeasureReading fetchMeasuredValues(Module1& link)
{
    MeasureReading r;
    r.flag = link.FetchReply(&r.count);
    if (r.flag == 0)
        r.values = mapMeasuredValues(link.MeterModel, link.RxBuf, r.count);
    return r;
}

MeasureReading readMeasuredValues(Module1& link)
{
    MeasureReading r;
    link.RequestMeasureBlock(r.flag);
    if (r.flag != 0)
        return r;
    return fetchMeasuredValues(link);
}

} // namespace vardel
