#include "recorder/CsvRecording.h"

#include "fileio/SafeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vardel {

namespace {

QString cannotWrite(const QString& path, const QString& reason)
{
    return QStringLiteral("Nie można zapisać pliku %1: %2").arg(path, reason);
}

} // namespace

CsvRecording::~CsvRecording()
{
    stop();
}

bool CsvRecording::start(const QString& path, const QString& header, QString* error)
{
    stop();
    const QByteArray first = header.toUtf8() + '\n';
    QString reason;
    if (!writeFileAtomically(path, first, &reason)) {
        if (error)
            *error = cannotWrite(path, reason);
        return false;
    }
    // The writer has put a regular file there (or behind a link it may
    // follow); from now on lines are only appended to it, reached by the
    // same rule for links.
    const int fd = openForAppend(path, &reason);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
            reason = QStringLiteral("to nie jest zwykły plik");
        }
        if (error)
            *error = cannotWrite(path, reason);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_rows = 0;
    m_length = st.st_size;
    return true;
}

bool CsvRecording::append(const QString& line, QString* error)
{
    if (m_fd < 0)
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    qsizetype done = 0;
    int errnum = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errnum = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (errnum == 0 && ::fdatasync(m_fd) != 0)
        errnum = errno;
    if (errnum != 0) {
        // Whatever part of the line got in goes again, so the file ends with
        // the last whole line.
        if (::ftruncate(m_fd, static_cast<off_t>(m_length)) == 0)
            ::fdatasync(m_fd);
        if (error)
            *error = cannotWrite(m_path, systemErrorText(errnum));
        stop();
        return false;
    }
    m_length += bytes.size();
    ++m_rows;
    return true;
}

void CsvRecording::stop()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

} // namespace vardel
