#pragma once

#include <cstdint>

namespace vardel {

// Capability sets of a process, one bit per capability.
struct CapabilitySets {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
    std::uint64_t inheritable = 0;

    bool operator==(const CapabilitySets&) const = default;
};

// CAP_SYS_RAWIO (17): what ioperm asks for.
inline constexpr std::uint64_t kCapSysRawio = std::uint64_t{1} << 17;

// Real, effective and saved user or group id.
struct IdSet {
    unsigned real = 0;
    unsigned effective = 0;
    unsigned saved = 0;

    bool operator==(const IdSet&) const = default;
};

// The system calls privilege is made of. The program uses the kernel's
// (systemPrivilegeOps); tests stand in for the kernel. Calls that can fail
// return 0 or -1 with errno, as the system calls do.
class PrivilegeOps {
public:
    // getauxval(AT_SECURE): started set-id or with file capabilities.
    virtual bool secureExecution() = 0;
    virtual int userIds(IdSet& ids) = 0;
    virtual int groupIds(IdSet& ids) = 0;
    // setresuid(id, id, id) and setresgid(id, id, id).
    virtual int setUserIds(unsigned id) = 0;
    virtual int setGroupIds(unsigned id) = 0;
    virtual int capabilities(CapabilitySets& sets) = 0;
    virtual int setCapabilities(const CapabilitySets& sets) = 0;
    virtual int clearAmbientCapabilities() = 0;
    virtual bool hasAmbientCapabilities() = 0;
    virtual int setNoNewPrivileges() = 0;
    virtual bool noNewPrivileges() = 0;
    virtual int ioperm(unsigned long from, unsigned long count, int turnOn) = 0;
    // execve: returns only when it failed.
    virtual int exec(const char* path, char* const argv[], char* const envp[]) = 0;

protected:
    ~PrivilegeOps() = default;
};

// The kernel's. Usable before any library of the program is initialised.
PrivilegeOps& systemPrivilegeOps();

} // namespace vardel
