#include "app/ProcessGuards.h"

#include "fileio/SafeFile.h"

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vardel {

namespace {

// Signal handlers can reach nothing else.
std::atomic<int>* g_stop = nullptr;
int g_wakeFd = -1;


void onStopSignal(int signal)
{
    const int saved = errno;
    if (g_stop)
        requestStop(*g_stop, signal);
    if (g_wakeFd >= 0) {
        const char byte = 1;
        if (::write(g_wakeFd, &byte, 1) < 0) {
            // Full already: the loop has been woken.
        }
    }
    errno = saved;
}

} // namespace

bool requestStop(std::atomic<int>& stop, int reason)
{
    int none = 0;
    return stop.compare_exchange_strong(none, reason);
}

void installStopSignals(std::atomic<int>& stop, int wakeFd)
{
    g_stop = &stop;
    g_wakeFd = wakeFd;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: blocked calls end with EINTR
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal : {SIGPIPE, SIGXFSZ})
        ::sigaction(signal, &ignore, nullptr);
}

void holdStandardStreams()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

QString descriptorShortage(int needed)
{
    // Without /dev/null there is nothing to count with; the first open that
    // fails will say so itself.
    const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (first < 0 && errno != EMFILE && errno != ENFILE)
        return {};
    int error = first < 0 ? errno : 0;
    std::vector<int> taken;
    if (first >= 0)
        taken.push_back(first);
    while (error == 0 && static_cast<int>(taken.size()) < needed) {
        const int fd = ::fcntl(first, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            error = errno;
        else
            taken.push_back(fd);
    }
    const int free = static_cast<int>(taken.size());
    for (const int fd : taken)
        ::close(fd);
    if (error == 0)
        return {};
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return QStringLiteral("%1: limit procesu (ulimit -n %2) zostawia programowi %3 z potrzebnych %4 deskryptorów.")
        .arg(systemErrorText(error))
        .arg(static_cast<qulonglong>(limit.rlim_cur))
        .arg(free)
        .arg(needed);
}

} // namespace vardel
