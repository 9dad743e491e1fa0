#pragma once

#include <cstdint>

namespace vardel {

// Ports below 100h belong to the PC's own devices (DMA and interrupt
// controllers, timer, keyboard controller). The card is never looked for there.
// Kept free of Qt: the step that grants the card's ports checks it too.
inline constexpr unsigned kFirstCardPort = 0x100;

// True when a card at this address would have its data or command port below
// 100h (FFFFh counts: its command port wraps round to port 0).
constexpr bool isSystemPortPair(std::int16_t cardAddress)
{
    const auto data = static_cast<std::uint16_t>(cardAddress);
    const auto command = static_cast<std::uint16_t>(data + 1);
    return data < kFirstCardPort || command < kFirstCardPort;
}

// Why such an address is refused, as the program says it (UTF-8).
inline constexpr const char* kSystemPortsText = "Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h)";

} // namespace vardel
