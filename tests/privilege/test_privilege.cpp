// The privileged step against a stand-in for the kernel: what the program and
// the port helper do for each kind of user, machine and card address, what
// they say, and that nothing privileged is left afterwards.
#include "portio/PortAccess.h"
#include "portio/PortIoBackend.h"
#include "portio/PortTexts.h"
#include "privilege/PortHelper.h"
#include "privilege/Privilege.h"

#include "support/ScopedEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vardel {
namespace {

constexpr std::uint64_t kAllCaps = (std::uint64_t{1} << 41) - 1;
constexpr unsigned kUser = 1000;
constexpr unsigned kUserGroup = 1000;

// One process as the kernel keeps it, with the kernel's rules for what it
// may change.
class FakeProcess final : public PrivilegeOps {
public:
    struct Kernel {
        int iopermError = 0; // 0: the ports are given
        std::vector<unsigned long> granted;
        int iopermCalls = 0;
    };

    explicit FakeProcess(Kernel& kernel) : m_kernel(kernel) {}

    bool secure = false;
    IdSet users{kUser, kUser, kUser};
    IdSet groups{kUserGroup, kUserGroup, kUserGroup};
    CapabilitySets caps;
    bool ambient = false;
    bool nnp = false;
    std::function<int(const char*, char* const*, char* const*)> onExec;

    bool secureExecution() override { return secure; }
    int userIds(IdSet& ids) override
    {
        ids = users;
        return 0;
    }

    int groupIds(IdSet& ids) override
    {
        ids = groups;
        return 0;
    }

    int setUserIds(unsigned id) override
    {
        if (!(caps.effective & (std::uint64_t{1} << 7)) && id != users.real) // CAP_SETUID
            return refuse(EPERM);
        users = {id, id, id};
        if (id != 0) // leaving root takes the capabilities with it
            caps = {};
        return 0;
    }

    int setGroupIds(unsigned id) override
    {
        if (!(caps.effective & (std::uint64_t{1} << 6)) && id != groups.real) // CAP_SETGID
            return refuse(EPERM);
        groups = {id, id, id};
        return 0;
    }

    int capabilities(CapabilitySets& sets) override
    {
        sets = caps;
        return 0;
    }

    int setCapabilities(const CapabilitySets& sets) override
    {
        // Nothing gained: permitted only shrinks, effective stays within it.
        if ((sets.permitted & ~caps.permitted) != 0 || (sets.effective & ~sets.permitted) != 0)
            return refuse(EPERM);
        caps = sets;
        return 0;
    }

    int clearAmbientCapabilities() override
    {
        ambient = false;
        return 0;
    }

    bool hasAmbientCapabilities() override { return ambient; }

    int setNoNewPrivileges() override
    {
        nnp = true;
        return 0;
    }
    bool noNewPrivileges() override { return nnp; }

    int ioperm(unsigned long from, unsigned long count, int turnOn) override
    {
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(turnOn, 1);
        ++m_kernel.iopermCalls;
        if ((caps.effective & kCapSysRawio) == 0)
            return refuse(EPERM);
        if (m_kernel.iopermError != 0)
            return refuse(m_kernel.iopermError);
        m_kernel.granted.push_back(from);
        return 0;
    }

    int exec(const char* path, char* const argv[], char* const envp[]) override
    {
        return onExec ? onExec(path, argv, envp) : refuse(ENOENT);
    }

    bool holdsNothing() const
    {
        return caps == CapabilitySets{} && !ambient && nnp && users.effective == users.real
            && users.saved == users.real && groups.effective == groups.real && groups.saved == groups.real;
    }

private:
    static int refuse(int error)
    {
        errno = error;
        return -1;
    }

    Kernel& m_kernel;
};

// execve that worked: the process image is gone, the test takes over.
struct Started {
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> env;
};

std::vector<std::string> strings(char* const* list)
{
    std::vector<std::string> out;
    for (; list && *list; ++list)
        out.emplace_back(*list);
    return out;
}

const QString kPrefix = QStringLiteral("/opt/vardel");
const QString kProgramDir = kPrefix + QStringLiteral("/bin");
const QString kHelper = kPrefix + QStringLiteral("/libexec/vardel/vardel-ports");

enum class Helper { FileCapability, SetUidRoot, WithoutPrivilege, Missing, Planted };

struct Row {
    const char* name;
    bool root;            // the program itself holds CAP_SYS_RAWIO (root)
    bool member;          // the kernel lets the user run the helper
    Helper helper = Helper::FileCapability;
    int kernelError = 0;  // ioperm's errno, 0 grants
    const char* lockdown = "";
    const char* address = "340";
    bool helperByHand = false; // the helper started with `address` as it stands
    bool listed = false;  // the group lists the user, the session does not carry it
    bool programNoNewPrivs = false;
    const char* allowList = nullptr; // the administrator's list; none: 340h alone
    const char* helperGroup = "vardel";
    // What comes of it.
    const char* outcome;  // "granted", "own", "refused", "exit 2"
    QString says;         // part of the message
    bool kernelAsked = true;
};

struct Result {
    std::string outcome;
    QString message;
    int iopermCalls = 0;
    bool helperHoldsNothing = true;
    bool programKeptPrivilege = false;
    Started started;
};

Result run(const Row& row)
{
    FakeProcess::Kernel kernel;
    kernel.iopermError = row.kernelError;
    Result result;

    // The helper as the kernel starts it for a member.
    FakeProcess helper(kernel);
    helper.secure = true;
    switch (row.helper) {
    case Helper::FileCapability: helper.caps.permitted = kCapSysRawio; break;
    case Helper::SetUidRoot:
        helper.users = {kUser, 0, 0};
        helper.caps = {kAllCaps, kAllCaps, 0};
        break;
    default: break;
    }
    helper.onExec = [&](const char* path, char* const* argv, char* const* envp) -> int {
        throw Started{path, strings(argv), strings(envp)};
    };
    const std::string helperPath = kHelper.toStdString();
    AllowListFile allowFile;
    allowFile.state = AllowListFile::State::Read;
    allowFile.list = parseAllowList(row.allowList ? row.allowList : "340\n");
    const CardAddressJudge judge = [&allowFile](std::uint16_t address) {
        return judgeCardAddress(address, allowFile, {});
    };
    bool helperRan = false;
    const auto runHelper = [&](std::vector<std::string> args) {
        helperRan = true;
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        char env0[] = "LANG=pl_PL.UTF-8";
        char env1[] = "VARDEL_PORT_GRANT=340 0 1"; // a stale one, replaced
        char* envp[] = {env0, env1, nullptr};
        const HelperFailure failure = runPortHelper(helper, static_cast<int>(args.size()), argv.data(), envp,
                                                    helperPath, static_cast<long>(::getpid()), judge);
        result.outcome = "exit " + std::to_string(failure.exitCode);
        result.message = QString::fromStdString(failure.message);
    };

    FakeProcess program(kernel);
    if (row.root) {
        program.users = {0, 0, 0};
        program.caps = {kAllCaps, kAllCaps, 0};
    }
    program.nnp = row.programNoNewPrivs;
    PortAccessSystem system;
    system.startHelper = [&](const QByteArray& path, char* const* argv) -> int {
        EXPECT_EQ(path.toStdString(), helperPath);
        if (row.helper == Helper::Missing)
            return ENOENT;
        if (row.helper == Helper::Planted)
            return kUnsafeHelper;
        if (!row.member)
            return EACCES;
        runHelper(strings(argv));
        return 0; // not reached when the helper started the program
    };
    system.lockdown = [&row] { return QString::fromLatin1(row.lockdown); };
    system.helperGroup = [&row](const QString& path) {
        EXPECT_EQ(path, kHelper);
        return HelperGroup{QStringLiteral("jan"), QString::fromLatin1(row.helperGroup), row.listed, false};
    };
    system.addressRefusal = [&judge](std::uint16_t address) {
        return QString::fromStdString(cardAddressRefusal(address, judge(address), "/etc/vardel/adresy-kart.conf"));
    };

    const auto settle = [&](FakeProcess& process, const HelperGrant& grant) {
        system.ops = &process;
        char arg0[] = "/opt/vardel/bin/vardel";
        char arg1[] = "--card=port";
        char* argv[] = {arg0, arg1, nullptr};
        const auto address = static_cast<std::uint16_t>(std::stoul(row.address, nullptr, 16));
        const PortAccess access = reachCardPorts(system, grant, address, "vardel", argv, kProgramDir);
        switch (access.way) {
        case PortAccess::Way::OwnPrivilege: {
            // Root asks the kernel as it goes, from the program itself.
            PortIoBackend::Access ports;
            ports.refusal = system.addressRefusal;
            ports.ioperm = [&process](unsigned long from, unsigned long n, int on) {
                return process.ioperm(from, n, on);
            };
            ports.lockdown = system.lockdown;
            QString message;
            result.outcome = PortIoBackend::open(address, message, ports) ? "own" : "refused";
            result.message = message;
            break;
        }
        case PortAccess::Way::Granted:
            result.outcome = "granted";
            result.message = QString::number(access.granted, 16);
            break;
        case PortAccess::Way::Refused:
            result.outcome = "refused";
            result.message = access.refusal;
            break;
        }
    };

    if (row.helperByHand) {
        std::vector<std::string> args{helperPath, "vardel-cli", row.address, "card-test"};
        try {
            runHelper(args);
        } catch (const Started& s) {
            result.outcome = "started";
            result.started = s;
        }
    } else {
        try {
            settle(program, HelperGrant{});
        } catch (const Started& s) {
            // The program again, as the helper started it: the same PID,
            // no_new_privs inherited, the note in its environment.
            result.started = s;
            test::ScopedEnv env;
            for (const std::string& entry : s.env) {
                if (entry.rfind("VARDEL_PORT_GRANT=", 0) == 0)
                    env.set(kPortGrantVariable, QString::fromStdString(entry.substr(18)));
            }
            FakeProcess again(kernel);
            again.nnp = helper.nnp;
            const HelperGrant grant = takeHelperGrant(again);
            EXPECT_FALSE(qEnvironmentVariableIsSet(kPortGrantVariable)) << "handed on to no child";
            settle(again, grant);
        }
    }
    result.iopermCalls = kernel.iopermCalls;
    result.helperHoldsNothing = !helperRan || helper.holdsNothing();
    result.programKeptPrivilege = program.caps.effective != 0;
    return result;
}

TEST(PrivilegedStep, EachUserMachineAndAddress)
{
    const Row rows[] = {
        {.name = "root asks the kernel itself and keeps what root has",
         .root = true, .member = false, .outcome = "own", .says = {}},
        {.name = "a member: the helper's file capability",
         .root = false, .member = true, .outcome = "granted", .says = QStringLiteral("340")},
        {.name = "a member: a set-uid root helper",
         .root = false, .member = true, .helper = Helper::SetUidRoot, .outcome = "granted",
         .says = QStringLiteral("340")},
        {.name = "not a member",
         .root = false, .member = false, .outcome = "refused",
         .says = QStringLiteral("portów karty 340h–341h: użytkownik jan nie należy do grupy „vardel”. Administrator "
                                "dodaje go poleceniem "
                                "„sudo adduser jan vardel”; potem trzeba wylogować się i zalogować ponownie."),
         .kernelAsked = false},
        {.name = "added to the group, not logged in again",
         .root = false, .member = false, .listed = true, .outcome = "refused",
         .says = QStringLiteral("ale ta sesja zaczęła się przed dodaniem go do niej. Wyloguj się i zaloguj ponownie."),
         .kernelAsked = false},
        {.name = "kernel in lockdown",
         .root = false, .member = true, .kernelError = EPERM, .lockdown = "integrity", .outcome = "refused",
         .says = QStringLiteral("Jądro systemu działa w trybie lockdown („integrity”; włącza go zwykle Secure Boot) "
                                "i nie przydziela bezpośredniego dostępu do portów karty 340h–341h nikomu, także "
                                "rootowi. To zabezpieczenie systemu: jak obsługiwać kartę na tym komputerze, "
                                "rozstrzyga administrator.")},
        {.name = "root, kernel in lockdown",
         .root = true, .member = false, .kernelError = EPERM, .lockdown = "confidentiality", .outcome = "refused",
         .says = QStringLiteral("w trybie lockdown („confidentiality”")},
        {.name = "no port I/O in this kernel",
         .root = false, .member = true, .kernelError = ENOSYS, .outcome = "refused",
         .says = QStringLiteral("portów karty 340h–341h nie jest dostępny w tym systemie: jądro nie obsługuje ioperm")},
        {.name = "a helper that lost its privilege",
         .root = false, .member = true, .helper = Helper::WithoutPrivilege, .outcome = "refused",
         .says = QStringLiteral("Brak dostępu do portów karty 340h–341h: program pomocniczy "
                                "/opt/vardel/libexec/vardel/vardel-ports nie ma uprawnienia, by je przydzielić."),
         .kernelAsked = false},
        {.name = "no helper (a build tree)",
         .root = false, .member = true, .helper = Helper::Missing, .outcome = "refused",
         .says = QStringLiteral("brak programu pomocniczego /opt/vardel/libexec/vardel/vardel-ports"),
         .kernelAsked = false},
        {.name = "a helper someone other than root could change",
         .root = false, .member = true, .helper = Helper::Planted, .outcome = "refused",
         .says = QStringLiteral("nie został uruchomiony, bo może go zmienić ktoś inny niż root"), .kernelAsked = false},
        {.name = "started under no_new_privs",
         .root = false, .member = true, .programNoNewPrivs = true, .outcome = "refused",
         .says = QStringLiteral("blokadą nowych uprawnień (no_new_privs)"), .kernelAsked = false},
        {.name = "address below 100h",
         .root = false, .member = true, .address = "20", .helperByHand = true, .outcome = "exit 2",
         .says = QStringLiteral("vardel-ports: Adres karty 20h: Adres zarezerwowany dla urządzeń płyty głównej "
                                "(poniżej 100h)."),
         .kernelAsked = false},
        {.name = "FFFFh: the pair would wrap round to port 0",
         .root = false, .member = true, .address = "FFFF", .helperByHand = true, .outcome = "exit 2",
         .says = QStringLiteral("Adres karty FFFFh: Adres zarezerwowany"), .kernelAsked = false},
        {.name = "an address the step may not grant",
         .root = false, .member = true, .address = "10340", .helperByHand = true, .outcome = "exit 2",
         .says = QStringLiteral("vardel-ports: Nieprawidłowy adres karty: 10340"), .kernelAsked = false},
        {.name = "a member asks for an address the administrator has not allowed",
         .root = false, .member = true, .address = "300", .outcome = "refused",
         .says = QStringLiteral("Adres karty 300h nie jest dozwolony. Administrator dopisuje dozwolone adresy w pliku "
                                "/etc/vardel/adresy-kart.conf."),
         .kernelAsked = false},
        {.name = "the same address by hand to the helper",
         .root = false, .member = true, .address = "300", .helperByHand = true, .outcome = "exit 2",
         .says = QStringLiteral("vardel-ports: Adres karty 300h nie jest dozwolony."), .kernelAsked = false},
        {.name = "root, an address not allowed: nothing asked, nothing touched",
         .root = true, .member = false, .address = "300", .outcome = "refused",
         .says = QStringLiteral("Adres karty 300h nie jest dozwolony."), .kernelAsked = false},
        {.name = "an allowed address",
         .root = false, .member = true, .address = "300", .allowList = "340\n300-31F\n", .outcome = "granted",
         .says = QStringLiteral("300")},
        {.name = "the disk controller, though the list allows it",
         .root = false, .member = true, .address = "1F0", .helperByHand = true, .allowList = "100-3FF\n",
         .outcome = "exit 2",
         .says = QStringLiteral("Adres karty 1F0h obejmuje porty urządzenia komputera (kontroler dysków IDE (pierwszy "
                                "kanał)); nie zostanie przydzielony."),
         .kernelAsked = false},
        {.name = "a helper of another group: the installation is broken",
         .root = false, .member = false, .helperGroup = "root", .outcome = "refused",
         .says = QStringLiteral("program pomocniczy /opt/vardel/libexec/vardel/vardel-ports należy do grupy „root”, a "
                                "nie do grupy „vardel”; instalacja jest uszkodzona."),
         .kernelAsked = false},
        {.name = "an address with other characters",
         .root = false, .member = true, .address = "340h", .helperByHand = true, .outcome = "exit 2",
         .says = QStringLiteral("Nieprawidłowy adres karty: 340h"), .kernelAsked = false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Result r = run(row);
        EXPECT_EQ(r.outcome, row.outcome) << r.message.toStdString();
        EXPECT_TRUE(r.message.contains(row.says)) << r.message.toStdString();
        EXPECT_EQ(r.iopermCalls, row.kernelAsked ? 1 : 0);
        // Whatever the outcome, the helper ends holding nothing; root's own
        // program keeps what root has.
        EXPECT_TRUE(r.helperHoldsNothing);
        EXPECT_EQ(r.programKeptPrivilege, row.root);
        if (!r.started.path.empty() && !row.helperByHand) {
            // The helper started the program beside it, with its arguments,
            // its environment and one note of the outcome.
            EXPECT_EQ(r.started.path, "/opt/vardel/bin/vardel");
            EXPECT_EQ(r.started.argv, (std::vector<std::string>{"/opt/vardel/bin/vardel", "--card=port"}));
            const auto notes = std::count_if(r.started.env.begin(), r.started.env.end(), [](const std::string& e) {
                return e.rfind("VARDEL_PORT_GRANT=", 0) == 0;
            });
            EXPECT_EQ(notes, 1);
            EXPECT_NE(std::find(r.started.env.begin(), r.started.env.end(), "LANG=pl_PL.UTF-8"), r.started.env.end());
        }
    }
}

// The note the helper leaves is taken at face value only by the process it
// was written for, under the no_new_privs the helper sets: a note handed on
// in an environment, or typed by hand, would make the program read ports it
// was never given (an inb there ends it).
TEST(PrivilegedStep, HelperNoteIsTrustedOnlyFromTheHelper)
{
    FakeProcess::Kernel kernel;
    FakeProcess process(kernel);
    process.nnp = true;
    const long pid = static_cast<long>(::getpid());
    struct Case {
        std::string value;
        bool nnp;
        bool trusted;
    };
    const Case cases[] = {
        {formatPortGrant({0x340, 0, pid}), true, true},
        {formatPortGrant({0x340, 0, pid + 1}), true, false},
        {formatPortGrant({0x340, 0, pid}), false, false},
        {"340 0", true, false},
        {"340 x " + std::to_string(pid), true, false},
        {"", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        test::ScopedEnv env;
        env.set(kPortGrantVariable, QString::fromStdString(c.value));
        process.nnp = c.nnp;
        const HelperGrant grant = takeHelperGrant(process);
        EXPECT_TRUE(grant.present);
        EXPECT_EQ(grant.note.has_value(), c.trusted);
        EXPECT_FALSE(qEnvironmentVariableIsSet(kPortGrantVariable));

        // Never granted on an untrusted note, and never back to the helper.
        PortAccessSystem system;
        system.ops = &process;
        system.lockdown = [] { return QString(); };
        system.helperGroup = [](const QString&) { return HelperGroup{}; };
        system.startHelper = [](const QByteArray&, char* const*) -> int {
            ADD_FAILURE() << "the helper started twice";
            return ENOENT;
        };
        char arg0[] = "vardel";
        char* argv[] = {arg0, nullptr};
        const PortAccess access = reachCardPorts(system, grant, 0x340, "vardel", argv, kProgramDir);
        EXPECT_EQ(access.way, c.trusted ? PortAccess::Way::Granted : PortAccess::Way::Refused);
    }
    EXPECT_EQ(parsePortGrant("3E0 -1 77"), (PortGrantNote{0x3E0, kHelperNotPrivileged, 77}));
}

// Started set-id or with file capabilities, a program gives all of it up;
// started by a user with their own rights (root too), it keeps them.
TEST(PrivilegedStep, DropAtStartOnlyWhenStartedWithAPrivilegeNotTheUsers)
{
    FakeProcess::Kernel kernel;
    FakeProcess root(kernel);
    root.users = {0, 0, 0};
    root.caps = {kAllCaps, kAllCaps, 0};
    ASSERT_TRUE(dropInheritedPrivilege(root));
    EXPECT_EQ(root.caps.effective, kAllCaps);
    EXPECT_FALSE(root.nnp);

    FakeProcess setUid(kernel);
    setUid.secure = true;
    setUid.users = {kUser, 0, 0};
    setUid.groups = {kUserGroup, 0, 0}; // set-gid root as well
    setUid.caps = {kAllCaps, kAllCaps, kAllCaps};
    setUid.ambient = true;
    ASSERT_TRUE(dropInheritedPrivilege(setUid));
    EXPECT_TRUE(setUid.holdsNothing());
    EXPECT_EQ(setUid.users, (IdSet{kUser, kUser, kUser}));
    EXPECT_EQ(setUid.groups, (IdSet{kUserGroup, kUserGroup, kUserGroup}));

    FakeProcess fileCaps(kernel);
    fileCaps.secure = true;
    fileCaps.caps = {kCapSysRawio, kCapSysRawio, 0};
    ASSERT_TRUE(dropInheritedPrivilege(fileCaps));
    EXPECT_TRUE(fileCaps.holdsNothing());
}

// A drop that the kernel does not carry out is never taken for done.
TEST(PrivilegedStep, DropThatFailsIsReported)
{
    struct Stubborn final : PrivilegeOps {
        bool secureExecution() override { return true; }
        int userIds(IdSet& ids) override
        {
            ids = {kUser, 0, 0};
            return 0;
        }
        int groupIds(IdSet& ids) override
        {
            ids = {kUserGroup, kUserGroup, kUserGroup};
            return 0;
        }
        int setUserIds(unsigned) override { return 0; } // says yes, does nothing
        int setGroupIds(unsigned) override { return 0; }
        int capabilities(CapabilitySets& sets) override
        {
            sets = {};
            return 0;
        }
        int setCapabilities(const CapabilitySets&) override { return 0; }
        int clearAmbientCapabilities() override { return 0; }
        bool hasAmbientCapabilities() override { return false; }
        int setNoNewPrivileges() override { return 0; }
        bool noNewPrivileges() override { return true; }
        int ioperm(unsigned long, unsigned long, int) override { return 0; }
        int exec(const char*, char* const*, char* const*) override { return -1; }
    } stubborn;
    EXPECT_FALSE(dropInheritedPrivilege(stubborn));

    // The helper then starts nothing.
    char arg0[] = "vardel-ports";
    char arg1[] = "vardel";
    char arg2[] = "340";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    const HelperFailure failure =
        runPortHelper(stubborn, 3, argv, nullptr, "/opt/vardel/libexec/vardel/vardel-ports", 1);
    EXPECT_EQ(failure.exitCode, 3);
    EXPECT_EQ(failure.message, "vardel-ports: nie można odrzucić uprawnień; program nie został uruchomiony.");
}


// The administrator's list of card addresses: addresses and ranges within the
// ISA range; anything else on a line, or a range that leaves the ISA range,
// makes the whole file unused rather than half read.
TEST(CardAddresses, TheListTakesAddressesAndIsaRangesAndNothingElse)
{
    struct Case {
        const char* text;
        bool ok;
        std::vector<PortRange> allowed;
        int badLine;
    };
    const Case cases[] = {
        {"340\n", true, {{0x340, 0x340}}, 0},
        {"# karta\n\n  340h  # domyślna\r\n300-31F\nA000\n", true, {{0x340, 0x340}, {0x300, 0x31F}, {0xA000, 0xA000}}, 0},
        {"", true, {}, 0},
        {"340\n300-4FF\n", false, {}, 2},   // a range outside 100h-3FFh
        {"0-3FF\n", false, {}, 1},
        {"340 300\n", false, {}, 1},
        {"10340\n", false, {}, 1},
        {"31F-300\n", false, {}, 1},
        {"-\n", false, {}, 1},
        {"0x340\n", false, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const AllowList list = parseAllowList(c.text);
        EXPECT_EQ(list.ok, c.ok);
        EXPECT_EQ(list.allowed, c.allowed);
        EXPECT_EQ(list.badLine, c.badLine);
    }
}

// With the package's default file (340h alone), on a PC without PCI I/O
// ranges there, the one pair a member can have granted is 340h-341h; every
// fixed device of the PC stays refused even when the list names it, and so
// does a PCI device's I/O range.
TEST(CardAddresses, OnlyAllowedPairsAwayFromThePcsDevicesAreGranted)
{
    AllowListFile file;
    file.state = AllowListFile::State::Read;
    file.list = parseAllowList("340\n");
    std::vector<unsigned> granted;
    for (unsigned address = 0x100; address <= 0xFFFE; ++address) {
        if (judgeCardAddress(static_cast<std::uint16_t>(address), file, {}).kind == CardAddressVerdict::Kind::Allowed)
            granted.push_back(address);
    }
    EXPECT_EQ(granted, std::vector<unsigned>{0x340});

    file.list = parseAllowList("100-3FF\n4D0\nCF8\nCF9\nA78\n");
    const std::vector<PciRange> pci = {{{0x200, 0x21F}, "0000:00:1f.0"}};
    struct Case {
        unsigned address;
        CardAddressVerdict::Kind kind;
        const char* detail;
    };
    using Kind = CardAddressVerdict::Kind;
    const Case cases[] = {
        {0x1F0, Kind::FixedDevice, "kontroler dysków IDE"}, {0x1EF, Kind::FixedDevice, "IDE"}, // 1EFh-1F0h
        {0x176, Kind::FixedDevice, "IDE"},         {0x3F6, Kind::FixedDevice, "IDE"},
        {0x372, Kind::FixedDevice, "dyskietek"},   {0x3F8, Kind::FixedDevice, "COM1"},
        {0x2E8, Kind::FixedDevice, "COM4"},        {0x378, Kind::FixedDevice, "LPT1"},
        {0x278, Kind::FixedDevice, "LPT2"},        {0x3BC, Kind::FixedDevice, "LPT"},
        {0x3C0, Kind::FixedDevice, "VGA"},         {0x4D0, Kind::FixedDevice, "ELCR"},
        {0xCF8, Kind::FixedDevice, "PCI"},         {0xCF9, Kind::FixedDevice, "reset"},
        {0xA78, Kind::FixedDevice, "Plug and Play"},
        {0x21F, Kind::PciDevice, "urządzenie PCI 0000:00:1f.0 (200h–21Fh)"},
        {0x1FF, Kind::PciDevice, "0000:00:1f.0"},  // 1FFh-200h
        {0x340, Kind::Allowed, ""},               {0x2A0, Kind::Allowed, ""},
        {0x400, Kind::NotListed, ""},              // outside the list's range
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const CardAddressVerdict verdict = judgeCardAddress(static_cast<std::uint16_t>(c.address), file, pci);
        EXPECT_EQ(verdict.kind, c.kind);
        EXPECT_NE(verdict.detail.find(c.detail), std::string::npos) << verdict.detail;
    }
}

TEST(CardAddresses, PciIoRangesAreReadFromTheDevicesResourceFiles)
{
    EXPECT_EQ(parsePciIoRanges("0x000000000000e000 0x000000000000e01f 0x0000000000040101\n"
                               "0x00000000fe000000 0x00000000fe0fffff 0x0000000000040200\n"
                               "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
                               "junk\n0x00000000000001f0 0x00000000000001f7 0x0000000000000110"),
              (std::vector<PortRange>{{0xE000, 0xE01F}, {0x1F0, 0x1F7}}));
}

// The list is trusted only as root's and changed by nobody else: a file or a
// folder another user may write, a link, or another kind of file is not used
// at all; a missing file allows 340h alone.
TEST(CardAddresses, TheListIsTrustedOnlyWhenNobodyButRootCanChangeIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of root's and of another user need root";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path()) + "/vardel";
    const QByteArray path = folder + "/adresy-kart.conf";
    struct Case {
        const char* what;
        std::function<void()> make;
        AllowListFile::State state;
        const char* why;
    };
    const auto write = [&](mode_t mode, uid_t owner) {
        ::mkdir(folder.constData(), 0755);
        test::writeBytes(QFile::decodeName(path), "300\n");
        ::chmod(path.constData(), mode);
        ::chown(path.constData(), owner, 0);
    };
    const Case cases[] = {
        {"root's 0644", [&] { write(0644, 0); }, AllowListFile::State::Read, ""},
        {"missing", [&] { ::mkdir(folder.constData(), 0755); }, AllowListFile::State::Missing, ""},
        {"no folder", [] {}, AllowListFile::State::Missing, ""},
        {"writable by its group", [&] { write(0664, 0); }, AllowListFile::State::Untrusted, "mogą go zmienić inni"},
        {"another user's", [&] { write(0644, 65534); }, AllowListFile::State::Untrusted, "nie należy do roota"},
        {"in a folder others may write", [&] { write(0644, 0); ::chmod(folder.constData(), 0777); },
         AllowListFile::State::Untrusted, "może zmienić ktoś inny niż root"},
        {"a link to root's file",
         [&] {
             ::mkdir(folder.constData(), 0755);
             test::writeBytes(dir.filePath(QStringLiteral("inny")), "300\n");
             ::symlink(QFile::encodeName(dir.filePath(QStringLiteral("inny"))).constData(), path.constData());
         },
         AllowListFile::State::Untrusted, "dowiązanie"},
        {"a FIFO", [&] { ::mkdir(folder.constData(), 0755); ::mkfifo(path.constData(), 0644); },
         AllowListFile::State::Untrusted, "to nie jest zwykły plik"},
        {"a line of nonsense",
         [&] {
             write(0644, 0);
             test::writeBytes(QFile::decodeName(path), "340\nwszystkie\n");
         },
         AllowListFile::State::Malformed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(QFile::decodeName(folder)).removeRecursively();
        c.make();
        const AllowListFile file = readAllowListFile(path.constData());
        EXPECT_EQ(file.state, c.state);
        EXPECT_NE(file.why.find(c.why), std::string::npos) << file.why;
        const bool grants300 = judgeCardAddress(0x300, file, {}).kind == CardAddressVerdict::Kind::Allowed;
        const bool grants340 = judgeCardAddress(0x340, file, {}).kind == CardAddressVerdict::Kind::Allowed;
        EXPECT_EQ(grants300, c.state == AllowListFile::State::Read);
        EXPECT_EQ(grants340, c.state == AllowListFile::State::Missing);
    }
}

} // namespace
} // namespace vardel
