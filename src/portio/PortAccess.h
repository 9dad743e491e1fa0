#pragma once

#include "privilege/PortHelper.h"
#include "privilege/PrivilegeOps.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace vardel {

// What the port helper left for this program, taken once at the start.
struct HelperGrant {
    bool present = false;               // the program was started by the helper
    std::optional<PortGrantNote> note;  // empty when what it left cannot be trusted
};

// Takes the helper's note out of the environment (no child inherits it).
// A note written for another process or without no_new_privs set (as the
// helper leaves it) is not trusted.
HelperGrant takeHelperGrant(PrivilegeOps& ops);

// How this run reaches the real card's ports.
struct PortAccess {
    enum class Way {
        OwnPrivilege, // this process may grant ports itself (root): it asks as it goes
        Granted,      // the helper granted the pair of `granted`; no others
        Refused,      // `refusal` says why, in Polish
    };
    Way way = Way::OwnPrivilege;
    std::uint16_t granted = 0;
    QString refusal;
};

// The helper file could be changed by someone other than root or the user.
inline constexpr int kUnsafeHelper = -1;

// Who the user is and what the helper's group is, for the message that
// names them.
struct HelperGroup {
    QString user;
    QString group;
    bool listed = false;    // the group lists the user (or is their primary one)
    bool inSession = false; // this process carries the group
};

// The parts of the system the decision looks at; tests stand in for them.
struct PortAccessSystem {
    PrivilegeOps* ops = nullptr; // this process's capabilities and no_new_privs
    // Starts the helper at `path` (returns only on failure, with errno, or
    // kUnsafeHelper when the file is not one to run).
    std::function<int(const QByteArray& path, char* const argv[])> startHelper;
    std::function<QString()> lockdown;
    std::function<HelperGroup(const QString& helperPath)> helperGroup;
    // Why a card address may not be used, else empty (none: the system's
    // list and devices, cardAddressRefusalText).
    std::function<QString(std::uint16_t address)> addressRefusal;
    // Whether a port the helper's note says was granted can be read (none:
    // believed).
    std::function<bool(std::uint16_t port)> portReadable;
    static PortAccessSystem real();
};

// Settles how the card at `address` is reached, before any Qt application
// object exists: the helper's grant when the program came back through it;
// else the process's own privilege (root); else the helper is started with
// this program's name and arguments, which ends this process image when it
// works. An address the administrator has not allowed is refused before
// either, root's run included. The helper must be a regular file of root's (or of the user's own,
// in a build tree) that nobody else may change. Never returns OwnPrivilege for a process that lacks CAP_SYS_RAWIO.
PortAccess reachCardPorts(const PortAccessSystem& system, const HelperGrant& grant, std::uint16_t address,
                          const char* program, char** argv, const QString& programDir);

// The helper beside the programs in `programDir`.
QString portHelperPath(const QString& programDir);

// The kernel's lockdown mode from `path` ("integrity", "confidentiality"),
// empty when there is none (or no such file).
QString kernelLockdownMode(const QString& path = QStringLiteral("/sys/kernel/security/lockdown"));

} // namespace vardel
