#pragma once

#include "link/PortBackend.h"

#include <QString>

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>

namespace vardel {

// Direct port I/O on Linux x86: ioperm for the card's ports, then inb/outb.
// A port this process was not granted is never read or written (an inb
// there ends the process): reads give FFh and writes are dropped, which the
// link sees as a card that is never ready.
class PortIoBackend : public PortBackend {
public:
    // What the back end asks of the system. Tests hand in their own, so the
    // bookkeeping can be checked on machines that have no ports to give.
    struct Access {
        std::function<int(unsigned long from, unsigned long num, int turnOn)> ioperm;
        std::function<std::uint8_t(std::uint16_t port)> inb;
        std::function<void(std::uint8_t value, std::uint16_t port)> outb;
        // The kernel's lockdown mode ("integrity", "confidentiality"), else empty.
        std::function<QString()> lockdown;
        // Why a card address may not be used (not allowed, a device of the
        // PC's), else empty; none: every address above 100h may.
        std::function<QString(std::uint16_t cardAddress)> refusal;
    };
    static Access systemAccess();

    // For a process that may grant ports itself (root): asks for the card's
    // two ports (cardAddress and cardAddress + 1), and for a new card
    // address's when "Adres karty" changes. On refusal returns nullptr and
    // puts the reason, in Polish, into message. Ports below 100h are refused
    // without asking the system.
    static std::unique_ptr<PortIoBackend> open(std::uint16_t cardAddress, QString& message);
    static std::unique_ptr<PortIoBackend> open(std::uint16_t cardAddress, QString& message, Access access);

    // For a program the port helper started: the ports of `grantedAddress`
    // are granted already and no others can be. A new card address waits for
    // the next start; the message handler is told so once.
    static std::unique_ptr<PortIoBackend> adopt(std::uint16_t grantedAddress, Access access = systemAccess());

    // Whether this process may really read `port` (an inb on a port not
    // granted raises SIGSEGV, caught here): what a note in the environment
    // claims is tried before it is believed.
    static bool portReadable(std::uint16_t port);

    void vbOut(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t vbInp(std::uint16_t port) override;

    // Told why a new card address's ports cannot be used, once per refused
    // pair (once in all for adopted ports).
    void setMessageHandler(std::function<void(const QString&)> handler) { m_onMessage = std::move(handler); }

    // Why the last port outside the granted ones could not be reached (empty
    // while all went well).
    QString lastError() const { return m_lastError; }
    bool isGranted(std::uint16_t port) const { return m_granted.test(port); }

private:
    PortIoBackend(Access access, bool mayGrant);
    bool requestPair(std::uint16_t first, QString& message);
    bool reachable(std::uint16_t port);
    void grantPair(std::uint16_t first);

    Access m_access;
    bool m_mayGrant;
    std::uint16_t m_adopted = 0;
    std::bitset<65536> m_granted;
    std::bitset<65536> m_refused;
    QString m_lastError;
    bool m_toldNextStart = false;
    std::function<void(const QString&)> m_onMessage;
};

} // namespace vardel
