// Direct port I/O: refusal messages and the ports granted when the card
// address changes while the program runs.
#include "fileio/SafeFile.h"
#include "portio/PortAccess.h"
#include "portio/PortIoBackend.h"
#include "portio/PortTexts.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace vardel {
namespace {

// Every refusal names the ports and says what to do, in Polish: never the
// system's English text, never the old advice to run as root.
TEST(PortIo, RefusalMessagesNameThePortsAndTheWayOut)
{
    struct Case {
        int error;
        bool privileged;
        QString lockdown;
        QString says;
    };
    const Case cases[] = {
        {ENOSYS, true, {}, QStringLiteral("jądro nie obsługuje ioperm")},
        {EPERM, true, QStringLiteral("integrity"), QStringLiteral("w trybie lockdown („integrity”; włącza go zwykle Secure Boot)")},
        {EPERM, true, QStringLiteral("confidentiality"), QStringLiteral("rozstrzyga administrator")},
        {EPERM, true, {}, QStringLiteral("SELinux lub AppArmor")},
        {EPERM, false, {}, QStringLiteral("członkowie grupy „vardel” (sudo adduser NAZWA vardel")},
        {EINVAL, true, {}, QStringLiteral("poza zakresem portów")},
        {EIO, true, {}, systemErrorText(EIO)},
    };
    for (const Case& c : cases) {
        const QString text = kernelRefusalText(0x340, c.error, c.privileged, c.lockdown);
        SCOPED_TRACE(text.toStdString());
        EXPECT_TRUE(text.contains(QStringLiteral("340h–341h")));
        EXPECT_TRUE(text.contains(c.says));
        EXPECT_FALSE(text.contains(QString::fromLocal8Bit(std::strerror(c.error))));
        EXPECT_FALSE(text.contains(QStringLiteral("CAP_SYS_RAWIO")));
        // Secure Boot guards the kernel: never advised off.
        EXPECT_FALSE(text.contains(QStringLiteral("wyłącz"))) << "advises turning something off";
    }
}

// On this machine the kernel gives no ports: the back end must refuse to open
// and say why, not hand out a back end that crashes on the first inb.
TEST(PortIo, SystemRefusalReturnsNoBackend)
{
    QString message = QStringLiteral("stare");
    auto backend = PortIoBackend::open(0x340, message);
    if (backend)
        GTEST_SKIP() << "this machine grants port access";
    EXPECT_TRUE(message.contains(QStringLiteral("340h–341h"))) << message.toStdString();
}

// A scripted kernel: which port ranges it grants, and a record of port traffic.
struct FakeKernel {
    std::vector<std::pair<unsigned long, unsigned long>> requests;
    int refuseWith = 0; // errno for every request, 0 = grant
    QString lockdown;
    std::vector<std::pair<std::uint16_t, int>> traffic; // port, value (-1 = read)

    PortIoBackend::Access access()
    {
        PortIoBackend::Access a;
        a.ioperm = [this](unsigned long from, unsigned long num, int on) {
            EXPECT_EQ(on, 1);
            requests.emplace_back(from, num);
            // Like the kernel: ioperm reaches ports 0..3FFh only.
            const int error = from + num > 0x400 ? EINVAL : refuseWith;
            if (error) {
                errno = error;
                return -1;
            }
            return 0;
        };
        a.inb = [this](std::uint16_t port) {
            traffic.emplace_back(port, -1);
            return std::uint8_t{4};
        };
        a.outb = [this](std::uint8_t value, std::uint16_t port) { traffic.emplace_back(port, value); };
        a.lockdown = [this] { return lockdown; };
        return a;
    }
};

TEST(PortIo, OpenAsksForBothCardPorts)
{
    for (int error : {EPERM, ENOSYS}) {
        FakeKernel kernel;
        kernel.refuseWith = error;
        kernel.lockdown = QStringLiteral("integrity");
        QString message;
        EXPECT_EQ(PortIoBackend::open(0x300, message, kernel.access()), nullptr);
        // Root asking in vain: with the privilege, EPERM is the kernel's lockdown.
        EXPECT_EQ(message, kernelRefusalText(0x300, error, true, error == EPERM ? kernel.lockdown : QString()));
        EXPECT_EQ(kernel.requests, (std::vector<std::pair<unsigned long, unsigned long>>{{0x300, 2}}));
    }

    FakeKernel kernel;
    QString message = QStringLiteral("stare");
    auto backend = PortIoBackend::open(0x340, message, kernel.access());
    ASSERT_NE(backend, nullptr);
    EXPECT_TRUE(message.isEmpty());
    EXPECT_EQ(backend->vbInp(0x341), 4);
    backend->vbOut(0x340, 170);
    EXPECT_EQ(kernel.traffic, (std::vector<std::pair<std::uint16_t, int>>{{0x341, -1}, {0x340, 170}}));
    EXPECT_EQ(kernel.requests.size(), 1u) << "granted ports are not asked for again";
    EXPECT_TRUE(backend->lastError().isEmpty());
}

TEST(PortIo, NewCardAddressIsGrantedOnFirstUse)
{
    FakeKernel kernel;
    QString message;
    auto backend = PortIoBackend::open(0x340, message, kernel.access());
    ASSERT_NE(backend, nullptr);

    // Every card access starts with a status read on the command port.
    EXPECT_EQ(backend->vbInp(0x301), 4);
    backend->vbOut(0x300, 1);
    EXPECT_EQ(kernel.requests, (std::vector<std::pair<unsigned long, unsigned long>>{{0x340, 2}, {0x300, 2}}));
    EXPECT_TRUE(backend->isGranted(0x300));
    EXPECT_TRUE(backend->lastError().isEmpty());
}

TEST(PortIo, RefusedNewAddressReadsFFDropsWritesAndSaysWhy)
{
    FakeKernel kernel;
    QString message;
    auto backend = PortIoBackend::open(0x340, message, kernel.access());
    ASSERT_NE(backend, nullptr);
    QStringList told;
    backend->setMessageHandler([&told](const QString& m) { told << m; });

    // "Adres karty" set to 400h: the command port 401h is out of ioperm's reach.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(backend->vbInp(0x401), 0xFF) << "never ready, so the link times out";
    EXPECT_EQ(backend->lastError(), kernelRefusalText(0x400, EINVAL, true, QString()));
    EXPECT_EQ(told, QStringList{backend->lastError()}) << "the window hears it once";
    backend->vbOut(0x400, 0x41);
    EXPECT_TRUE(kernel.traffic.empty()) << "nothing reaches a port that was not granted";
    EXPECT_FALSE(backend->isGranted(0x400));
    EXPECT_FALSE(backend->isGranted(0x401));
    // A refused port is not asked for again: a dead-card wait reads it 19999 times.
    EXPECT_EQ(kernel.requests,
              (std::vector<std::pair<unsigned long, unsigned long>>{{0x340, 2}, {0x400, 2}, {0x3FF, 2}}));

    // The old card still answers.
    EXPECT_EQ(backend->vbInp(0x341), 4);
    EXPECT_EQ(kernel.traffic.size(), 1u);
}

// Started by the helper, the program has the ports of one card and no
// privilege to ask for more: a new "Adres karty" is neither asked for nor
// touched (an inb there would end the program), and the user hears once that
// it takes effect at the next start.
TEST(PortIo, AdoptedPortsServeOnlyTheirCardAndTellOnceAboutANewAddress)
{
    FakeKernel kernel;
    auto backend = PortIoBackend::adopt(0x340, kernel.access());
    QStringList told;
    backend->setMessageHandler([&told](const QString& m) { told << m; });

    EXPECT_EQ(backend->vbInp(0x341), 4);
    backend->vbOut(0x340, 7);
    // 300h, then 3E0h; 100h's pair starts below 100h.
    for (std::uint16_t port : {std::uint16_t{0x301}, std::uint16_t{0x300}, std::uint16_t{0x3E1}, std::uint16_t{0x100}}) {
        EXPECT_EQ(backend->vbInp(port), 0xFF) << port;
        backend->vbOut(port, 0x41);
    }
    EXPECT_TRUE(kernel.requests.empty()) << "without the privilege the kernel is not even asked";
    EXPECT_EQ(kernel.traffic, (std::vector<std::pair<std::uint16_t, int>>{{0x341, -1}, {0x340, 7}}));
    EXPECT_EQ(told, QStringList{nextStartText(0x340)});
    EXPECT_TRUE(told.value(0).contains(QStringLiteral("po ponownym uruchomieniu programu")));
    EXPECT_TRUE(told.value(0).contains(QStringLiteral("340h–341h")));

    // Back on the card it was given, it works again.
    EXPECT_EQ(backend->vbInp(0x341), 4);
}

// "Adres karty" moved to an address the administrator has not allowed: root's
// back end does not ask the kernel for it, an adopted one does not call it
// the next start's address; nothing is read or written there, and the
// window is told which file the administrator edits.
TEST(PortIo, AnAddressNotAllowedIsNeitherAskedForNorTouchedAndTheWindowIsToldWhy)
{
    const auto refusal = [](std::uint16_t address) {
        return address == 0x340 || address == 0x300 ? QString()
                                                     : QStringLiteral("Adres karty %1h nie jest dozwolony.").arg(address, 0, 16);
    };
    for (const bool adopted : {false, true}) {
        SCOPED_TRACE(adopted ? "adopted" : "root's own");
        FakeKernel kernel;
        PortIoBackend::Access access = kernel.access();
        access.refusal = refusal;
        QString message;
        auto backend = adopted ? PortIoBackend::adopt(0x340, access) : PortIoBackend::open(0x340, message, access);
        ASSERT_NE(backend, nullptr);
        QStringList told;
        backend->setMessageHandler([&told](const QString& m) { told << m; });
        const std::size_t asked = kernel.requests.size();
        for (std::uint16_t port : {std::uint16_t{0x1F1}, std::uint16_t{0x1F1}, std::uint16_t{0x3F9}}) {
            // As the link goes: the command port first.
            EXPECT_EQ(backend->vbInp(port), 0xFF);
            backend->vbOut(port, 0x80);
        }
        EXPECT_EQ(kernel.requests.size(), asked) << "the kernel is not asked for a pair not allowed";
        EXPECT_TRUE(kernel.traffic.empty()) << "nothing reaches a port not allowed";
        EXPECT_EQ(told, (QStringList{QStringLiteral("Adres karty 1f0h nie jest dozwolony."),
                                     QStringLiteral("Adres karty 3f8h nie jest dozwolony.")}));
        // An allowed one: root's back end takes it, an adopted one waits for the next start.
        EXPECT_EQ(backend->vbInp(0x301), adopted ? 0xFF : 4);
    }
}

// Ports below 100h (DMA, interrupt controllers...) are never asked for, at
// start-up or when "Adres karty" moves, and nothing is read or written there.
TEST(PortIo, PortsBelow100hAreNeitherAskedForNorTouched)
{
    for (std::uint16_t address : {std::uint16_t{0x20}, std::uint16_t{0xFF}, std::uint16_t{0xFFFF}}) {
        FakeKernel kernel;
        QString message;
        EXPECT_EQ(PortIoBackend::open(address, message, kernel.access()), nullptr) << address;
        EXPECT_EQ(message, systemPortsText(address)) << address;
        EXPECT_TRUE(kernel.requests.empty()) << address;
    }
    EXPECT_EQ(systemPortsText(0x20),
              QStringLiteral("Adres karty 20h: Adres zarezerwowany dla urządzeń płyty głównej (poniżej 100h)."));

    FakeKernel kernel;
    QString message;
    auto backend = PortIoBackend::open(0x340, message, kernel.access());
    ASSERT_NE(backend, nullptr);
    // Typing 200h key by key passes 2 and 20h; port 100h's pair starts at FFh,
    // port 0's at FFFFh.
    for (std::uint16_t port : {std::uint16_t{0x3}, std::uint16_t{0x21}, std::uint16_t{0x100}, std::uint16_t{0}})
        EXPECT_EQ(backend->vbInp(port), 0xFF) << port;
    EXPECT_EQ(backend->lastError(), systemPortsText(0xFFFF));
    for (std::uint16_t port : {std::uint16_t{0x2}, std::uint16_t{0x20}, std::uint16_t{0xFF}})
        backend->vbOut(port, 0x41);
    EXPECT_EQ(kernel.requests, (std::vector<std::pair<unsigned long, unsigned long>>{{0x340, 2}}));
    EXPECT_TRUE(kernel.traffic.empty());
}

} // namespace
} // namespace vardel
