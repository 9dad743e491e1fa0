#pragma once

#include <cstdint>

namespace vardel {

// The only door to the interface card: one byte out to a 16-bit I/O port, one
// byte in from it. Real port I/O, the simulated card and the test fakes all
// sit behind this and the link code cannot tell them apart.
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual void vbOut(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t vbInp(std::uint16_t port) = 0;
};

} // namespace vardel
