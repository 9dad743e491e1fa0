#include "portio/PortIoBackend.h"

#include "link/CardPorts.h"
#include "portio/PortAccess.h"
#include "portio/PortTexts.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <utility>

// inb and outb: x86 only. Elsewhere ioperm is refused (ENOSYS), so they are
// never reached.
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

namespace vardel {

PortIoBackend::Access PortIoBackend::systemAccess()
{
    Access access;
    access.ioperm = [](unsigned long from, unsigned long num, int turnOn) {
        return systemPrivilegeOps().ioperm(from, num, turnOn);
    };
#if defined(__x86_64__) || defined(__i386__)
    access.inb = [](std::uint16_t port) { return static_cast<std::uint8_t>(::inb(port)); };
    access.outb = [](std::uint8_t value, std::uint16_t port) { ::outb(value, port); };
#else
    access.inb = [](std::uint16_t) { return std::uint8_t{0xFF}; };
    access.outb = [](std::uint8_t, std::uint16_t) {};
#endif
    access.lockdown = [] { return kernelLockdownMode(); };
    access.refusal = [](std::uint16_t cardAddress) { return cardAddressRefusalText(cardAddress); };
    return access;
}

namespace {

sigjmp_buf g_probeFault;

void onProbeFault(int)
{
    siglongjmp(g_probeFault, 1);
}

} // namespace

bool PortIoBackend::portReadable(std::uint16_t port)
{
#if defined(__x86_64__) || defined(__i386__)
    struct sigaction probe {};
    struct sigaction before {};
    probe.sa_handler = onProbeFault;
    sigemptyset(&probe.sa_mask);
    if (::sigaction(SIGSEGV, &probe, &before) != 0)
        return false;
    bool readable = false;
    if (sigsetjmp(g_probeFault, 1) == 0) {
        static_cast<void>(::inb(port));
        readable = true;
    }
    ::sigaction(SIGSEGV, &before, nullptr);
    return readable;
#else
    static_cast<void>(port);
    return false;
#endif
}

PortIoBackend::PortIoBackend(Access access, bool mayGrant) : m_access(std::move(access)), m_mayGrant(mayGrant) {}

std::unique_ptr<PortIoBackend> PortIoBackend::open(std::uint16_t cardAddress, QString& message)
{
    return open(cardAddress, message, systemAccess());
}

std::unique_ptr<PortIoBackend> PortIoBackend::open(std::uint16_t cardAddress, QString& message, Access access)
{
    std::unique_ptr<PortIoBackend> backend(new PortIoBackend(std::move(access), true));
    if (!backend->requestPair(cardAddress, message))
        return nullptr;
    message.clear();
    return backend;
}

std::unique_ptr<PortIoBackend> PortIoBackend::adopt(std::uint16_t grantedAddress, Access access)
{
    std::unique_ptr<PortIoBackend> backend(new PortIoBackend(std::move(access), false));
    backend->m_adopted = grantedAddress;
    backend->grantPair(grantedAddress);
    return backend;
}

void PortIoBackend::grantPair(std::uint16_t first)
{
    m_granted.set(first);
    m_granted.set(static_cast<std::uint16_t>(first + 1));
}

bool PortIoBackend::requestPair(std::uint16_t first, QString& message)
{
    // The mainboard's own devices are not asked for at all: writing there can
    // hang the PC. (The command port of FFFFh would be port 0.)
    if (isSystemPortPair(static_cast<std::int16_t>(first))) {
        message = systemPortsText(first);
        return false;
    }
    // An address the administrator has not allowed (or one of the PC's own
    // devices) is neither asked for nor touched, root's run included.
    if (m_access.refusal) {
        if (const QString refusal = m_access.refusal(first); !refusal.isEmpty()) {
            message = refusal;
            return false;
        }
    }
    if (!m_mayGrant) {
        // The privilege is gone: asking the kernel would only be refused.
        message = nextStartText(m_adopted);
        return false;
    }
    errno = 0;
    if (m_access.ioperm(first, 2, 1) != 0) {
        const int error = errno != 0 ? errno : EINVAL;
        const QString lockdown = error == EPERM && m_access.lockdown ? m_access.lockdown() : QString();
        message = kernelRefusalText(first, error, true, lockdown);
        return false;
    }
    grantPair(first);
    return true;
}

bool PortIoBackend::reachable(std::uint16_t port)
{
    if (m_granted.test(port))
        return true;
    // A port refused once stays refused: a dead-card wait would otherwise ask
    // the kernel 20000 times per register access.
    if (m_refused.test(port))
        return false;
    // "Adres karty" changed. Every card access starts on the command port, so
    // the new pair is this port and the one below it (port 0 gives FFFFh, which
    // is refused like every pair reaching below 100h).
    const auto first = static_cast<std::uint16_t>(port - 1);
    QString message;
    if (requestPair(first, message))
        return true;
    m_refused.set(port);
    m_lastError = message;
    // The box already says "below 100h" for those. For adopted ports the
    // advice is the same whatever address comes next: said once.
    // A refused address is said each time; the next start's advice once.
    const bool nextStart = !m_mayGrant && message == nextStartText(m_adopted);
    if (isSystemPortPair(static_cast<std::int16_t>(first)) || (nextStart && std::exchange(m_toldNextStart, true)))
        return false;
    if (m_onMessage)
        m_onMessage(message);
    return false;
}

void PortIoBackend::vbOut(std::uint16_t port, std::uint8_t value)
{
    if (reachable(port))
        m_access.outb(value, port);
}

std::uint8_t PortIoBackend::vbInp(std::uint16_t port)
{
    return reachable(port) ? m_access.inb(port) : std::uint8_t{0xFF};
}

} // namespace vardel
