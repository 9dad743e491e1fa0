#pragma once

#include <cstdint>
#include <span>

namespace vardel {

// A factory register either holds a fixed value or takes the meter's own
// network address or baud code.
enum class SimFactoryKind { Value, Address, Baud };

struct SimFactoryEntry {
    SimFactoryKind kind = SimFactoryKind::Value;
    float value = 0.0f;
};

// Factory contents of register r of a KX-2 (0), KX-3 (1) or KX-4 (2);
// registers beyond the model's map hold 0.
SimFactoryEntry simFactoryEntry(std::int16_t model, int r);

} // namespace vardel
