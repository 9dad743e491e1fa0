#include "portio/PortAccess.h"

#include "link/Module1.h"
#include "portio/PortIoBackend.h"
#include "portio/PortTexts.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

bool hasRawIo(PrivilegeOps& ops)
{
    CapabilitySets caps;
    return ops.capabilities(caps) == 0 && (caps.effective & kCapSysRawio) != 0;
}

HelperGroup systemHelperGroup(const QString& helperPath)
{
    HelperGroup facts;
    const uid_t uid = ::getuid();
    const passwd* user = ::getpwuid(uid);
    facts.user = user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
    struct stat st {};
    if (::stat(QFile::encodeName(helperPath).constData(), &st) != 0) {
        facts.group = QString::fromLatin1(kCardGroup);
        return facts;
    }
    const group* g = ::getgrgid(st.st_gid);
    facts.group = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    if (user && user->pw_gid == st.st_gid)
        facts.listed = true;
    for (char** member = g ? g->gr_mem : nullptr; member && *member && user; ++member) {
        if (std::strcmp(*member, user->pw_name) == 0)
            facts.listed = true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    facts.inSession = ::getegid() == st.st_gid || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    return facts;
}

// The file checked is the file run: it is opened once, looked at, and that
// very file is executed. Root's, or the user's own (a build tree), and
// nobody else may change it; anything else in its place is not run.
int startHelperFile(const QByteArray& path, char* const argv[])
{
    const int fd = ::open(path.constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_uid != 0 && st.st_uid != ::geteuid())
        || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(fd);
        return kUnsafeHelper;
    }
    ::fexecve(fd, argv, environ);
    const int error = errno;
    ::close(fd);
    return error;
}

PortAccess refused(QString why)
{
    PortAccess access;
    access.way = PortAccess::Way::Refused;
    access.refusal = std::move(why);
    return access;
}

} // namespace

HelperGrant takeHelperGrant(PrivilegeOps& ops)
{
    HelperGrant grant;
    const char* value = std::getenv(kPortGrantVariable);
    if (!value)
        return grant;
    grant.present = true;
    const std::optional<PortGrantNote> note = parsePortGrant(value);
    ::unsetenv(kPortGrantVariable);
    // A note in an environment someone handed on, or typed by hand, would
    // make the program read ports it was never given.
    if (note && note->pid == static_cast<long>(::getpid()) && ops.noNewPrivileges())
        grant.note = note;
    return grant;
}

PortAccessSystem PortAccessSystem::real()
{
    PortAccessSystem system;
    system.ops = &systemPrivilegeOps();
    system.startHelper = startHelperFile;
    system.lockdown = [] { return kernelLockdownMode(); };
    system.helperGroup = systemHelperGroup;
    system.portReadable = PortIoBackend::portReadable;
    return system;
}

QString portHelperPath(const QString& programDir)
{
    return QDir::cleanPath(QDir(programDir).filePath(QStringLiteral("%1/%2").arg(
        QString::fromLatin1(kPortHelperFolder), QString::fromLatin1(kPortHelperName))));
}

PortAccess reachCardPorts(const PortAccessSystem& system, const HelperGrant& grant, std::uint16_t address,
                          const char* program, char** argv, const QString& programDir)
{
    PrivilegeOps& ops = *system.ops;
    const QString helper = portHelperPath(programDir);
    if (grant.present) {
        // Back from the helper: never to it again, whatever it said.
        if (!grant.note)
            return refused(unreadableGrantText(address));
        const PortGrantNote& note = *grant.note;
        if (note.result == kHelperNotPrivileged)
            return refused(helperUnprivilegedText(note.address, helper));
        if (note.result != 0)
            return refused(kernelRefusalText(note.address, note.result, true,
                                             note.result == EPERM ? system.lockdown() : QString()));
        // A note forged under no_new_privs would otherwise end the program
        // at its first inb.
        if (system.portReadable && !system.portReadable(static_cast<std::uint16_t>(note.address + 1)))
            return refused(forgedGrantText(note.address));
        PortAccess access;
        access.way = PortAccess::Way::Granted;
        access.granted = note.address;
        return access;
    }
    const QString notAllowed = system.addressRefusal ? system.addressRefusal(address) : cardAddressRefusalText(address);
    if (!notAllowed.isEmpty())
        return refused(notAllowed);
    if (hasRawIo(ops))
        return {};
    // The helper could not gain its privilege: say so rather than let it
    // report a missing privilege that the installation does have.
    if (ops.noNewPrivileges())
        return refused(noNewPrivilegesText(address, helper));

    const QByteArray helperFile = QFile::encodeName(helper);
    const QByteArray addressText = QByteArray::number(address, 16).toUpper();
    std::vector<char*> arguments{const_cast<char*>(helperFile.constData()), const_cast<char*>(program),
                                 const_cast<char*>(addressText.constData())};
    for (char** a = argv + 1; *a; ++a)
        arguments.push_back(*a);
    arguments.push_back(nullptr);
    const int error = system.startHelper(helperFile, arguments.data());
    if (error == kUnsafeHelper)
        return refused(unsafeHelperText(address, helper));
    if (error == ENOENT)
        return refused(helperMissingText(address, helper));
    if (error == EACCES) {
        const HelperGroup facts = system.helperGroup(helper);
        // Only the program's own group is ever named to be joined.
        if (facts.group != QLatin1String(kCardGroup))
            return refused(wrongHelperGroupText(address, helper, facts.group));
        if (!facts.inSession)
            return refused(notMemberText(address, facts.user, facts.group, facts.listed));
    }
    return refused(helperStartText(address, helper, error));
}

QString kernelLockdownMode(const QString& path)
{
    // "none [integrity] confidentiality": the mode in force is in brackets.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.read(256);
    const qsizetype open = text.indexOf('[');
    const qsizetype close = text.indexOf(']', open + 1);
    if (open < 0 || close < 0)
        return {};
    const QByteArray mode = text.mid(open + 1, close - open - 1);
    return mode == "none" ? QString() : QString::fromLatin1(mode);
}

} // namespace vardel
