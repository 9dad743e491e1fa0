#include "fileio/OutputStream.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace vardel {

bool writeAllTo(int fd, const char* data, std::size_t size, const std::atomic<int>* stop)
{
    const auto stopped = [stop] { return stop && stop->load() != 0; };
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
    if (writeAllTo(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), m_stop))
        return true;
    m_error = errno != 0 ? errno : EIO;
    return false;
}

} // namespace vardel
