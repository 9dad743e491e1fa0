#pragma once

#include "privilege/CardAddresses.h"
#include "privilege/PrivilegeOps.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// The port helper, the one part of Vardel that holds a privilege:
//   vardel-ports PROGRAM ADDRESS [ARGUMENT...]
// Only members of the card's group may run it (the package gives it to
// root:vardel, mode 0750, with CAP_SYS_RAWIO). It grants the ports of the
// card at ADDRESS (hexadecimal), drops every privilege for good and then
// starts <prefix>/bin/PROGRAM (vardel or vardel-cli) with the arguments,
// telling it the outcome in kPortGrantVariable. Only addresses the
// administrator allows (CardAddresses.h) are granted. It reads no file but
// that list and the PCI devices' I/O ranges, no variable and no library of
// the program.
inline constexpr char kPortHelperName[] = "vardel-ports";
// Where it lies, seen from the programs' folder (<prefix>/bin).
inline constexpr char kPortHelperFolder[] = "../libexec/vardel";
inline constexpr char kPortGrantVariable[] = "VARDEL_PORT_GRANT";

// The outcome the helper hands on: "ADDRESS RESULT PID", e.g. "340 0 4242".
struct PortGrantNote {
    std::uint16_t address = 0;
    int result = 0; // 0: granted; > 0: the kernel's errno; kHelperNotPrivileged
    long pid = 0;   // the process it was written for (execve keeps the PID)

    bool operator==(const PortGrantNote&) const = default;
};
inline constexpr int kHelperNotPrivileged = -1;

std::string formatPortGrant(const PortGrantNote& note);
std::optional<PortGrantNote> parsePortGrant(std::string_view text);

// Returned only when no program was started: the exit code and a line for
// stderr (UTF-8, Polish).
struct HelperFailure {
    int exitCode = 0;
    std::string message;
};

// Decides whether a card address may be granted (the system's list and
// devices unless a test hands in its own).
using CardAddressJudge = std::function<CardAddressVerdict(std::uint16_t)>;

// The helper's whole run. `selfPath` is its own file (/proc/self/exe), `pid`
// its process id.
HelperFailure runPortHelper(PrivilegeOps& ops, int argc, char** argv, char** envp, std::string_view selfPath,
                            long pid, const CardAddressJudge& judge = {});

} // namespace vardel
