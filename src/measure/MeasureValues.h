#pragma once

#include "link/BasNumber.h"

#include <QString>

#include <cstdint>
#include <span>
#include <vector>

namespace vardel {

class Module1;

// The test window's boxes Text1..Text10, numbered 1..10 here.
inline constexpr int kMeasureBoxes = 10;

// Boxes that the values of a measured-values reply go to, in reply order
// (value k, 0-based, goes to element k). Empty for a model outside 0..2.
//   KX-2: 1, 2, 5, 7    KX-3: 1, 2, 3, 4, 5, 7    KX-4: 1..10
std::span<const int> measureBoxesOf(std::int16_t model);

// Box 1..10 for value k (0-based) of the model's reply; 0 when it has none.
int measureBoxOf(std::int16_t model, int k);

// Caption of the frame around box 1..10, exactly as the window shows it
// ("Pomiar Nr 1 " ... "Bilans Nr 4"); empty for any other number.
QString measureCaptionOf(int box);

// Where a box stands in the window: column 0 measured inputs, 1 function
// values, 2 balances; row from 0 at the top. {-1, -1} for any other number.
struct BoxPlace {
    int column;
    int row;
};
BoxPlace measurePlaceOf(int box);

// What ApplyTestLayout does for a model: the visibility of frames (and boxes)
// 3, 4, 6, 8, 9 and 10. Frames 1, 2, 5 and 7 are never listed: they always
// stay as designed. Empty for a model outside 0..2, whose layout is left as
// it is.
struct BoxVisibility {
    int box;
    bool visible;
};
std::vector<BoxVisibility> measureLayoutOf(std::int16_t model);

// One value of the reply that has a box.
struct MeasuredValue {
    int box;     // 1..10
    int start;   // position in RxBuf of its first byte
    float value; // BasToFloat(start)
};

// Step 3 of ShowMeasuredValues over a fetched reply of n bytes: a value at
// every start position j = 1, 7, 13, ... value number j div 6, kept only when
// the model has a box for it and the reply carried all six of its bytes
// (j + 5 <= n). A short reply's cut value is left out rather than decoded
// from what an older reply left in RxBuf. n <= 0 gives nothing.
std::vector<MeasuredValue> mapMeasuredValues(std::int16_t model, const RxBuffer& buf, int n);

struct MeasureReading {
    std::int16_t flag = 0; // 0 done; 1 the exchange failed or the reply was refused
    int count = 0;         // n: reported length less two (0 or less: nothing read)
    std::vector<MeasuredValue> values;
};

// ShowMeasuredValues without a window: FetchReply of the reply the card
// holds, then the mapping for link.MeterModel. A reported length that does
// not fit RxBuf gives flag 1 (FetchReply has shown the receive error window).
MeasureReading fetchMeasuredValues(Module1& link);

// One whole refresh without a window: RequestMeasureBlock, then
// fetchMeasuredValues. Flag 1 when either failed; the error window has been
// shown by the link.
MeasureReading readMeasuredValues(Module1& link);

} // namespace vardel
