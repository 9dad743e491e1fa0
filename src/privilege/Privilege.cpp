#include "privilege/Privilege.h"

#include "link/CardPorts.h"

#include <cerrno>

namespace vardel {

namespace {

bool allReal(const IdSet& ids)
{
    return ids.effective == ids.real && ids.saved == ids.real;
}

} // namespace

bool dropPrivileges(PrivilegeOps& ops)
{
    IdSet users;
    IdSet groups;
    if (ops.userIds(users) != 0 || ops.groupIds(groups) != 0)
        return false;
    // Kernels before 4.3 know no ambient set (EINVAL): nothing to clear then.
    if (ops.clearAmbientCapabilities() != 0 && errno != EINVAL)
        return false;
    // The group first: changing it needs the privilege that changing the
    // user takes away.
    if (!allReal(groups) && ops.setGroupIds(groups.real) != 0)
        return false;
    if (!allReal(users) && ops.setUserIds(users.real) != 0)
        return false;
    if (ops.setCapabilities(CapabilitySets{}) != 0)
        return false;
    if (ops.setNoNewPrivileges() != 0)
        return false;

    // Checked, not assumed: a drop that silently kept something would be
    // worse than none.
    CapabilitySets left;
    IdSet usersAfter;
    IdSet groupsAfter;
    return ops.capabilities(left) == 0 && left == CapabilitySets{} && !ops.hasAmbientCapabilities()
        && ops.noNewPrivileges() && ops.userIds(usersAfter) == 0 && allReal(usersAfter)
        && usersAfter.real == users.real && ops.groupIds(groupsAfter) == 0 && allReal(groupsAfter)
        && groupsAfter.real == groups.real;
}

bool dropInheritedPrivilege(PrivilegeOps& ops)
{
    return !ops.secureExecution() || dropPrivileges(ops);
}

PortGrantResult grantCardPorts(PrivilegeOps& ops, std::uint16_t address)
{
    if (isSystemPortPair(static_cast<std::int16_t>(address)))
        return {PortGrant::SystemPorts, 0};
    CapabilitySets caps;
    if (ops.capabilities(caps) != 0)
        return {PortGrant::Refused, errno};
    if ((caps.permitted & kCapSysRawio) == 0)
        return {PortGrant::NotPrivileged, 0};
    if ((caps.effective & kCapSysRawio) == 0) {
        CapabilitySets raised = caps;
        raised.effective |= kCapSysRawio;
        if (ops.setCapabilities(raised) != 0)
            return {PortGrant::Refused, errno};
    }
    if (ops.ioperm(address, 2, 1) != 0)
        return {PortGrant::Refused, errno};
    return {PortGrant::Granted, 0};
}

std::optional<std::uint16_t> parseHelperAddress(std::string_view text)
{
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace vardel
