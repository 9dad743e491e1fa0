#pragma once

#include <QString>

#include <cstdint>

namespace vardel {

// What the program says when the real card's ports cannot be had. Every text
// names the ports (the technician compares them with the card's jumpers) and
// says what to do, in Polish; no system text in English.

// The group whose members may use the card.
inline constexpr char kCardGroup[] = "vardel";

// A card address whose pair reaches below 100h (never asked for).
QString systemPortsText(std::uint16_t first);

// The kernel refused ioperm for ports first..first+1 with `error`.
// `privileged`: the process asked with CAP_SYS_RAWIO, so EPERM is the
// kernel's own rule: lockdown (`lockdown` is its mode, "integrity" or
// "confidentiality", else empty) or a security module.
QString kernelRefusalText(std::uint16_t first, int error, bool privileged, const QString& lockdown);

// The helper could not be started because the user is not in its group.
// `listed`: the group lists the user, only this session began before that.
QString notMemberText(std::uint16_t first, const QString& user, const QString& group, bool listed);
QString helperMissingText(std::uint16_t first, const QString& helperPath);
QString helperUnprivilegedText(std::uint16_t first, const QString& helperPath);
QString helperStartText(std::uint16_t first, const QString& helperPath, int error);
QString unsafeHelperText(std::uint16_t first, const QString& helperPath);
QString noNewPrivilegesText(std::uint16_t first, const QString& helperPath);
QString unreadableGrantText(std::uint16_t first);
// The note says the ports were granted, but they cannot be read.
QString forgedGrantText(std::uint16_t first);

// Why the card at `address` may not be used: not in the administrator's list
// of card addresses (the file named), or a device of the PC's there. Empty
// when it may. Reads the list and the PCI devices each time.
QString cardAddressRefusalText(std::uint16_t address);

// The helper's group is not the program's own: the installation is broken.
QString wrongHelperGroupText(std::uint16_t first, const QString& helperPath, const QString& group);

// "Adres karty" changed after the start while the ports of `granted` were
// all this program was given.
QString nextStartText(std::uint16_t granted);

} // namespace vardel
