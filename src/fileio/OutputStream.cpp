#include "fileio/OutputStream.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

bool writeAllTo(int fd, const char* data, std::size_t size, const std::atomic<int>* stop, std::size_t* written)
{
    const auto stopped = [stop] { return stop && stop->load() != 0; };
    std::size_t done = 0;
    if (!written)
        written = &done;
    *written = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::min<std::size_t>(size, std::size_t{1} << 20));
        if (n < 0) {
            if (errno == EINTR && !stopped())
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        *written += static_cast<std::size_t>(n);
        // Cut short by a signal: the rest would block again.
        if (size > 0 && stopped()) {
            errno = EINTR;
            return false;
        }
    }
    return true;
}

bool OutputStream::write(const QByteArray& bytes)
{
    if (m_error != 0)
        return false;
    std::size_t written = 0;
    if (writeAllTo(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), m_stop, &written))
        return true;
    m_error = errno != 0 ? errno : EIO;
    // Only where this line is the file's end: nobody wrote after it.
    struct stat st {};
    const off_t end = ::lseek(m_fd, 0, SEEK_CUR);
    if (written > 0 && end >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == end) {
        const off_t start = end - static_cast<off_t>(written);
        if (::ftruncate(m_fd, start) == 0)
            ::lseek(m_fd, start, SEEK_SET);
    }
    return false;
}

} // namespace vardel
