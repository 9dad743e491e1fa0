#include "fuzz/FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace vardel::fuzz {

QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

QString scratchFile(const QByteArray& bytes)
{
    // In memory where the system offers it: on a disk the writes, not the
    // readers, would set the pace.
    static const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                    : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/vardel-fuzz-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("input"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("the scratch file cannot be written", __FILE__, __LINE__);
    return path;
}

void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

} // namespace vardel::fuzz
