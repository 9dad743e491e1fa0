#include "privilege/PrivilegeOps.h"

#include <cerrno>

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define VARDEL_HAVE_PORT_IO 1
#else
#define VARDEL_HAVE_PORT_IO 0
#endif

namespace vardel {

namespace {

// capget and capset straight from the kernel rather than through libcap:
// three calls do not justify a library in the one program that holds a
// privilege, and nothing here parses capability texts.
class SystemPrivilegeOps final : public PrivilegeOps {
public:
    constexpr SystemPrivilegeOps() = default;

    bool secureExecution() override { return ::getauxval(AT_SECURE) != 0; }

    int userIds(IdSet& ids) override
    {
        uid_t r = 0, e = 0, s = 0;
        if (::getresuid(&r, &e, &s) != 0)
            return -1;
        ids = {r, e, s};
        return 0;
    }

    int groupIds(IdSet& ids) override
    {
        gid_t r = 0, e = 0, s = 0;
        if (::getresgid(&r, &e, &s) != 0)
            return -1;
        ids = {r, e, s};
        return 0;
    }

    int setUserIds(unsigned id) override { return ::setresuid(id, id, id); }
    int setGroupIds(unsigned id) override { return ::setresgid(id, id, id); }

    int capabilities(CapabilitySets& sets) override
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return -1;
        const auto join = [](std::uint32_t low, std::uint32_t high) {
            return std::uint64_t{low} | (std::uint64_t{high} << 32);
        };
        sets.effective = join(data[0].effective, data[1].effective);
        sets.permitted = join(data[0].permitted, data[1].permitted);
        sets.inheritable = join(data[0].inheritable, data[1].inheritable);
        return 0;
    }

    int setCapabilities(const CapabilitySets& sets) override
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        for (int half = 0; half < 2; ++half) {
            const int shift = 32 * half;
            data[half].effective = static_cast<std::uint32_t>(sets.effective >> shift);
            data[half].permitted = static_cast<std::uint32_t>(sets.permitted >> shift);
            data[half].inheritable = static_cast<std::uint32_t>(sets.inheritable >> shift);
        }
        return static_cast<int>(::syscall(SYS_capset, &header, data));
    }

    int clearAmbientCapabilities() override
    {
        return ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    }

    bool hasAmbientCapabilities() override
    {
        // Asked capability by capability until the kernel knows no more.
        for (unsigned long cap = 0; cap < 64; ++cap) {
            const int set = ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0);
            if (set < 0)
                return false;
            if (set == 1)
                return true;
        }
        return false;
    }

    int setNoNewPrivileges() override { return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0); }
    bool noNewPrivileges() override { return ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1; }

    int ioperm(unsigned long from, unsigned long count, int turnOn) override
    {
#if VARDEL_HAVE_PORT_IO
        return ::ioperm(from, count, turnOn);
#else
        (void)from;
        (void)count;
        (void)turnOn;
        errno = ENOSYS;
        return -1;
#endif
    }

    int exec(const char* path, char* const argv[], char* const envp[]) override
    {
        return ::execve(path, argv, envp);
    }
};

// Constant-initialised: the start of both programs uses it before any
// initialiser has run.
constinit SystemPrivilegeOps g_system;

} // namespace

PrivilegeOps& systemPrivilegeOps()
{
    return g_system;
}

} // namespace vardel
