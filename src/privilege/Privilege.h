#pragma once

#include "privilege/PrivilegeOps.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vardel {

// Gives up every privilege for good: the ambient capabilities, the real user
// and group ids in place of those a set-id start gave, the effective,
// permitted and inheritable capabilities, and any later gain through
// execve (no_new_privs). Then checks that all of it holds. False when any
// step failed: the caller must not go on.
bool dropPrivileges(PrivilegeOps& ops);

// For both programs, before anything else runs: a program started with a
// privilege the user running it does not have (set-id, file capabilities)
// drops it. One that the user started with their own rights (root included)
// keeps them. False when the drop failed.
bool dropInheritedPrivilege(PrivilegeOps& ops);

// What the privileged step did with a card's port pair.
enum class PortGrant {
    Granted,
    SystemPorts,   // the pair reaches below 100h: not asked for
    NotPrivileged, // this process may not grant ports (no CAP_SYS_RAWIO): not asked for
    Refused,       // the kernel said no; `error` says why
};

struct PortGrantResult {
    PortGrant grant = PortGrant::Refused;
    int error = 0; // errno of a refusal
};

// Asks the kernel for the card's two ports (address and address + 1), with
// CAP_SYS_RAWIO raised for the call when it is only permitted. Ports granted
// stay granted after the privilege is dropped and across execve.
PortGrantResult grantCardPorts(PrivilegeOps& ops, std::uint16_t address);

// The card address as the helper takes it: one to four hexadecimal digits,
// nothing else.
std::optional<std::uint16_t> parseHelperAddress(std::string_view text);

} // namespace vardel
