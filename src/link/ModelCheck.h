#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vardel {

class Module1;

// What a meter's memory says of its model.
struct ModelFinding {
    // The model, only when the memory proves it: see checkMeterModel.
    std::optional<std::int16_t> model;
    // The models whose own registers hold the link the meter answers at and
    // that nothing read rules out, in model order: "KX-2|KX-3" when the
    // memory cannot tell them apart. Empty: no model fits.
    std::vector<std::int16_t> possible;
    // A read got no reply (or a stop request cut it short): the model is
    // unknown, however far the check got.
    bool readFailed = false;
};

// Tells the model of the meter `link` talks to now, by reading only. The
// layouts overlap in the meter's memory (a KX-3's registers 0-2 are a KX-2's
// 8-10) and a meter has no memory outside its configuration and live values
// (reads there give 0), so a number that another model keeps at some place
// proves nothing by itself. Hence:
// - a value other than 0 read at an address rules out every model that has no
//   memory there;
// - a model fits when its own registers that set the meter's link (address
//   where it keeps one, baud code, transmit check) hold the link in use;
// - the model is proven when it alone fits and every other model has been
//   ruled out by a value read within its own layout (reading on, a few
//   registers at most, where a rival has no memory).
// No configuration of another model can satisfy that: its memory reads 0
// wherever it has none. A tie, a rival not ruled out or a failed read leave
// the model unknown. Reads with the link's full reply wait at the register
// base addresses of `link`; leaves link.MeterModel as it was.
ModelFinding checkMeterModel(Module1& link);

// The same rule over any reader of the meter's registers: `read` gives
// register r of `model`'s layout as the meter answers it, or nothing when it
// does not. `address`, `baudCode`, `transmitCheck`: the link the meter
// answered at; `regBase`: the register base addresses of the three layouts.
using ModelRegisterRead = std::function<std::optional<float>(std::int16_t model, int r)>;
ModelFinding checkMeterModel(int address, int baudCode, int transmitCheck, const std::array<std::int16_t, 3>& regBase,
                             const ModelRegisterRead& read);

// The model as scan, program, the write guard and the gateway name it: "KX-3"; "KX-2|KX-4" when the
// meter's memory cannot tell several apart; "nieznany" otherwise.
QString modelText(const ModelFinding& finding);

} // namespace vardel
