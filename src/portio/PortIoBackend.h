#pragma once

#include "link/PortBackend.h"

#include <QString>

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>

namespace vardel {

// Direct port I/O on Linux x86: ioperm for the card's ports, then inb/outb.
// Needs root (CAP_SYS_RAWIO). Elsewhere the back end refuses to open.
class PortIoBackend : public PortBackend {
public:
    // The three system calls the back end makes. Tests hand in their own, so the
    // bookkeeping can be checked on machines that have no ports to give.
    struct Access {
        std::function<int(unsigned long from, unsigned long num, int turnOn)> ioperm;
        std::function<std::uint8_t(std::uint16_t port)> inb;
        std::function<void(std::uint8_t value, std::uint16_t port)> outb;
    };
    static Access systemAccess();

    // Asks for the card's two ports (cardAddress and cardAddress + 1). On
    // refusal returns nullptr and puts the reason, in Polish, into message.
    // Ports below 100h are refused without asking the system.
    static std::unique_ptr<PortIoBackend> open(std::uint16_t cardAddress, QString& message);
    static std::unique_ptr<PortIoBackend> open(std::uint16_t cardAddress, QString& message, Access access);

    void vbOut(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t vbInp(std::uint16_t port) override;

    // Why the last port outside the granted ones could not be reached (empty
    // while all went well). Such reads give 0xFF and such writes are dropped,
    // which the link sees as a card that is never ready.
    QString lastError() const { return m_lastError; }
    bool isGranted(std::uint16_t port) const { return m_granted.test(port); }

    // Text for a failed ioperm of ports first..last with the given errno.
    static QString refusalText(std::uint16_t first, std::uint16_t last, int error);
    // Text for a card address whose ports fall below 100h (never asked for).
    static QString systemPortsText(std::uint16_t first);

private:
    explicit PortIoBackend(Access access);
    bool requestPair(std::uint16_t first, QString& message);
    bool reachable(std::uint16_t port);

    Access m_access;
    std::bitset<65536> m_granted;
    std::bitset<65536> m_refused;
    QString m_lastError;
};

} // namespace vardel
