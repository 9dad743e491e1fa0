#pragma once

#include "fileio/SafePath.h"
#include "link/PortBackend.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace vardel {

// One program at a time per interface card: two programs on one card would
// interleave their port operations and garble each other's exchanges. The
// lock is an advisory lock on a small file (flock), so the system drops it
// when the process ends, however it ends. The lock file often lies in a
// folder other users write to (/run/lock): it is opened without following a
// link and without waiting, and only a regular file with one name is taken.
// The holder's PID goes only into a file this program created; an existing
// file is locked as it is (the holder is then found among the system's
// locks). A creator removes its file when it lets go.
class CardLock {
public:
    enum class Outcome { Taken, Busy, Failed };

    CardLock() = default;
    ~CardLock();
    CardLock(CardLock&& other) noexcept;
    CardLock& operator=(CardLock&& other) noexcept;
    CardLock(const CardLock&) = delete;
    CardLock& operator=(const CardLock&) = delete;

    // One try. Busy: holder() names the process that has the card. Failed:
    // error() says why, in Polish, and owner() whose the file in the way is
    // (empty when there is none); the card must not be used then.
    Outcome take(const QString& path);
    // Tries every `poll` until the card is free; gives up (Busy) as soon as
    // `stop` says so. `waiting` is called once, when the first try finds the
    // card taken.
    Outcome wait(const QString& path, const std::function<bool()>& stop,
                 const std::function<void(qint64 holder)>& waiting = {},
                 std::chrono::milliseconds poll = std::chrono::milliseconds(50));
    void release();

    bool held() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }
    qint64 holder() const { return m_holder; }
    const QString& error() const { return m_error; }
    const QString& owner() const { return m_owner; }

private:
    Outcome failed(const QString& reason, const struct stat* file = nullptr);

    int m_fd = -1;
    bool m_created = false;
    ResolvedPath m_at;
    QString m_path;
    qint64 m_holder = 0;
    QString m_error;
    QString m_owner;
};

// „Karta interfejsu 340h jest używana przez inny program (PID 4242).”
QString cardBusyMessage(std::uint16_t cardAddress, qint64 holder);
// „Nie można założyć blokady karty interfejsu 340h (plik …, właściciel: jan):
// to jest dowiązanie symboliczne, a nie zwykły plik.”
QString cardLockFailedMessage(std::uint16_t cardAddress, const CardLock& lock);

// The installed package's lock folder for the real card, made at boot
// (tmpfiles.d) for root and the card's group alone: no other user can take
// the card from them by locking it first.
inline constexpr char kPackageLockFolder[] = "/run/vardel";

// The real card's lock folder: kPackageLockFolder for an installed program;
// in a build tree /run/lock, else /var/lock, else the temporary folder (the
// first that can be written).
QString systemLockFolder(bool installed = false);
// The lock of the real card at an address: "vardel-340h.lock" in `folder`.
QString portCardLockPath(const QString& folder, std::uint16_t cardAddress);
// The lock of a simulated card: beside its state file (the real file when the
// name is a link the kernel would follow), so that every name of one state
// file gives one lock.
QString simCardLockPath(const QString& stateFile);

// The real card's ports with the lock following "Adres karty": the program
// holds the lock of the card it talks to. When the address changes (every
// card access starts on the status port, base + 1) the old card's lock is let
// go and the new one's taken. A card another program holds, or whose lock
// cannot be taken, stays out of reach (reads give FFh, as from an empty slot,
// writes are dropped) until it can be locked; the message handler hears of
// it once per refusal.
class LockedPorts final : public PortBackend {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `lock` is the lock of the card at `cardAddress`, already taken.
    LockedPorts(std::unique_ptr<PortBackend> ports, QString lockFolder, std::uint16_t cardAddress, CardLock lock,
                Clock clock = &std::chrono::steady_clock::now);

    void vbOut(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t vbInp(std::uint16_t port) override;

    void setMessageHandler(std::function<void(const QString&)> handler) { m_onMessage = std::move(handler); }
    std::uint16_t cardAddress() const { return m_base; }
    bool cardHeld() const { return m_lock.held(); }
    bool cardBusy() const { return m_busy; }

private:
    bool reachable(std::uint16_t port);
    void moveTo(std::uint16_t base);
    void tryLock(bool announce);

    std::unique_ptr<PortBackend> m_ports;
    QString m_folder;
    std::uint16_t m_base;
    CardLock m_lock;
    bool m_busy = false;
    Clock m_clock;
    std::chrono::steady_clock::time_point m_lastTry{};
    std::function<void(const QString&)> m_onMessage;
};

} // namespace vardel
