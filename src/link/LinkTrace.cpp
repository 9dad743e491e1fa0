#include "link/LinkTrace.h"

#include "fileio/OutputStream.h"
#include "fileio/RecordLines.h"
#include "fileio/SafeFile.h"

#include <QDir>

#include <new>
#include <utility>

#include <unistd.h>

namespace vardel {

namespace {

// Function codes after which the meter sends something back: a read gets its
// data, a write its acknowledgement. Every other request is complete once sent.
bool awaitsAnswer(std::span<const std::uint8_t> request)
{
    return !request.empty() && (request[0] == 1 || request[0] == 2);
}

} // namespace

QString hexBytes(std::span<const std::uint8_t> bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
    for (std::uint8_t b : bytes) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

LinkTrace::LinkTrace(Sink sink, Clock clock)
    : m_sink(std::move(sink))
    , m_clock(std::move(clock))
{
}

LinkTrace::~LinkTrace()
{
    // Also reached while an exhausted memory limit unwinds the program: the
    // last line is then lost rather than the program aborted.
    try {
        finish();
    } catch (const std::bad_alloc&) {
    }
}

void LinkTrace::setCardClock(const CardClock* clock)
{
    m_cardClock = clock;
    if (clock) {
        m_anchorWall = m_clock();
        m_anchorCard = clock->cardTime();
    }
}

void LinkTrace::exchangeStarted()
{
    // A line left waiting (a reply nobody fetched) ends before the next
    // exchange's clock starts.
    finish();
    if (m_cardClock)
        m_started = m_cardClock->cardTime();
}

void LinkTrace::write(const QString& line)
{
    if (!m_cardClock) {
        m_sink(line);
        return;
    }
    const double ms = std::chrono::duration<double, std::milli>(m_cardClock->cardTime() - m_started).count();
    m_sink(line + QStringLiteral(" %1 ms").arg(ms, 0, 'f', 1));
}

void LinkTrace::begin(std::span<const std::uint8_t> request, const char* outcome)
{
    finish();
    // On the card's clock, so that the stamps of a run and the durations
    // its lines give tell the same time.
    const QDateTime sent = m_cardClock
        ? m_anchorWall.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(m_cardClock->cardTime() - m_anchorCard).count())
        : m_clock();
    m_line = timeStampText(sent) + QStringLiteral(" TX ")
        + hexBytes(request);
    m_outcome = QLatin1String(outcome);
    m_pending = true;
    // In the window program the next exchange may be minutes away; a reset
    // request must not sit unwritten until then.
    if (!awaitsAnswer(request))
        finish();
}

void LinkTrace::end(const QString& reply, const char* outcome)
{
    if (!m_pending)
        return;
    // A send time-out or stop decides the line; the acknowledgement wait that
    // still follows it cannot make it look better.
    if (m_outcome != QLatin1String("send-timeout") && m_outcome != QLatin1String("stopped"))
        m_outcome = QLatin1String(outcome);
    m_line += QStringLiteral(" RX ") + (reply.isEmpty() ? QStringLiteral("-") : reply);
    m_pending = false;
    write(m_line + QLatin1Char(' ') + m_outcome);
}

void LinkTrace::finish()
{
    if (!m_pending)
        return;
    m_pending = false;
    write(m_line + QStringLiteral(" RX - ") + m_outcome);
}

void LinkTrace::linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes)
{
    switch (event) {
    case LinkEvent::RequestSent:
        begin(bytes, "sent");
        break;
    case LinkEvent::SendTimeout:
        begin(bytes, "send-timeout");
        break;
    case LinkEvent::ReplyFetched:
        end(hexBytes(bytes), "ok");
        break;
    case LinkEvent::ReplyTimeout:
        end({}, "reply-timeout");
        break;
    case LinkEvent::ReplyRefused:
        end({}, "reply-refused");
        break;
    case LinkEvent::AckReceived:
        end({}, "ack");
        break;
    case LinkEvent::AckTimeout:
        end({}, "ack-timeout");
        break;
    case LinkEvent::SendStopped:
        begin(bytes, "stopped");
        break;
    case LinkEvent::AnswerStopped:
        end({}, "stopped");
        break;
    }
}

std::unique_ptr<LinkTrace> openLinkTrace(const QString& path, QString& error, std::function<void(int)> lost,
                                         const std::atomic<int>* stop)
{
    const bool toStderr = path == QLatin1String("-");
    int fd = STDERR_FILENO;
    if (!toStderr) {
        QString reason;
        fd = openForAppend(path, &reason);
        if (fd < 0) {
            error = QStringLiteral("Nie można zapisać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
            return nullptr;
        }
    }
    // Shared by the sink's copies; the file is closed with the last of them.
    auto stream = std::shared_ptr<OutputStream>(new OutputStream(fd, stop), [toStderr](OutputStream* s) {
        if (!toStderr)
            ::close(s->fd());
        delete s;
    });
    return std::make_unique<LinkTrace>([stream, lost = std::move(lost)](const QString& line) {
        if (stream->failed())
            return;
        if (!stream->write(line.toLatin1() + '\n') && lost)
            lost(stream->error());
    });
}

} // namespace vardel
