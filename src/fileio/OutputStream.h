#pragma once

#include <QByteArray>

#include <atomic>
#include <cstddef>

namespace vardel {

// Writes `size` bytes to `fd` whole, again after a partial write and after
// an interruption, unless `stop` is set by then: a signal that asks the
// program to stop interrupts a write blocked in the system (a stalled pipe,
// a FIFO nobody reads), and the write then gives up. False: errno says why
// (EINTR for a stop); `written`, when given, how much went out all the same.
bool writeAllTo(int fd, const char* data, std::size_t size, const std::atomic<int>* stop = nullptr,
                std::size_t* written = nullptr);

// The program's own output (stdout, stderr, the bus monitor's file), written
// straight to its descriptor with every byte checked: no buffer that could
// fail unseen later. After the first failure nothing more is written, so a
// result line never follows a lost one; in a regular file the part of a line
// that did fit (a full disk, `ulimit -f`) is cut off again, so the file ends
// with the last whole line.
class OutputStream {
public:
    explicit OutputStream(int fd, const std::atomic<int>* stop = nullptr)
        : m_fd(fd)
        , m_stop(stop)
    {
    }

    bool write(const QByteArray& bytes);
    bool failed() const { return m_error != 0; }
    int error() const { return m_error; } // errno of the first failure
    int fd() const { return m_fd; }

private:
    int m_fd;
    const std::atomic<int>* m_stop;
    int m_error = 0;
};

} // namespace vardel
