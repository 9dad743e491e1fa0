#include "portio/PortIoBackend.h"

#include "fileio/SafeFile.h"
#include "link/Module1.h"

#include <cerrno>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define VARDEL_HAVE_PORT_IO 1
#else
#define VARDEL_HAVE_PORT_IO 0
#endif

namespace vardel {

PortIoBackend::Access PortIoBackend::systemAccess()
{
    Access access;
#if VARDEL_HAVE_PORT_IO
    access.ioperm = [](unsigned long from, unsigned long num, int turnOn) { return ::ioperm(from, num, turnOn); };
    access.inb = [](std::uint16_t port) { return static_cast<std::uint8_t>(::inb(port)); };
    access.outb = [](std::uint8_t value, std::uint16_t port) { ::outb(value, port); };
#else
    access.ioperm = [](unsigned long, unsigned long, int) {
        errno = ENOSYS;
        return -1;
    };
    access.inb = [](std::uint16_t) { return std::uint8_t{0xFF}; };
    access.outb = [](std::uint8_t, std::uint16_t) {};
#endif
    return access;
}

QString PortIoBackend::refusalText(std::uint16_t first, std::uint16_t last, int error)
{
    if (error == EPERM) {
        return QStringLiteral("Brak dostępu do portów karty %1–%2. Uruchom program jako root "
                              "(wymagane uprawnienie CAP_SYS_RAWIO).")
            .arg(QString::fromStdString(hexText(first)), QString::fromStdString(hexText(last)));
    }
    // Name the ports here too: the technician compares them with the card's
    // jumpers before blaming the system.
    return QStringLiteral("Bezpośredni dostęp do portów karty %1–%2 nie jest dostępny w tym systemie: %3")
        .arg(QString::fromStdString(hexText(first)), QString::fromStdString(hexText(last)),
             systemErrorText(error));
}

QString PortIoBackend::systemPortsText(std::uint16_t first)
{
    return QStringLiteral("Adres karty %1: %2.")
        .arg(QString::fromStdString(hexText(first)), QString::fromUtf8(kSystemPortsText));
}

PortIoBackend::PortIoBackend(Access access) : m_access(std::move(access)) {}

std::unique_ptr<PortIoBackend> PortIoBackend::open(std::uint16_t cardAddress, QString& message)
{
    return open(cardAddress, message, systemAccess());
}

std::unique_ptr<PortIoBackend> PortIoBackend::open(std::uint16_t cardAddress, QString& message, Access access)
{
    std::unique_ptr<PortIoBackend> backend(new PortIoBackend(std::move(access)));
    if (!backend->requestPair(cardAddress, message))
        return nullptr;
    message.clear();
    return backend;
}

bool PortIoBackend::requestPair(std::uint16_t first, QString& message)
{
    const std::uint16_t last = static_cast<std::uint16_t>(first + 1);
    // The mainboard's own devices are not asked for at all: writing there can
    // hang the PC. (The command port of FFFFh would be port 0.)
    if (isSystemPortPair(static_cast<std::int16_t>(first))) {
        message = systemPortsText(first);
        return false;
    }
    errno = 0;
    if (m_access.ioperm(first, 2, 1) != 0) {
        const int error = errno != 0 ? errno : EINVAL;
        message = refusalText(first, last, error);
        return false;
    }
    m_granted.set(first);
    m_granted.set(last);
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
