#include "cli/CliLink.h"

#include <utility>

namespace vardel {

QString CliErrors::message(const QString& what) const
{
    QString text = m_first == Kind::Receive ? QStringLiteral("Błąd odbioru danych")
                                            : QStringLiteral("Błąd nadawania danych");
    if (!what.isEmpty())
        text += QStringLiteral(" (%1)").arg(what);
    return text;
}

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
    finish();
}

void LinkTrace::begin(std::span<const std::uint8_t> request, const char* outcome)
{
    finish();
    m_line = m_clock().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QStringLiteral(" TX ")
        + hexBytes(request);
    m_outcome = QLatin1String(outcome);
    m_pending = true;
}

void LinkTrace::end(const QString& reply, const char* outcome)
{
    if (!m_pending)
        return;
    // A send time-out decides the line; the acknowledgement wait that still
    // follows it cannot make it look better.
    if (m_outcome != QLatin1String("send-timeout"))
        m_outcome = QLatin1String(outcome);
    m_line += QStringLiteral(" RX ") + (reply.isEmpty() ? QStringLiteral("-") : reply);
    m_pending = false;
    m_sink(m_line + QLatin1Char(' ') + m_outcome);
}

void LinkTrace::finish()
{
    if (!m_pending)
        return;
    m_pending = false;
    m_sink(m_line + QStringLiteral(" RX - ") + m_outcome);
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
    }
}

ProgressDisplay::ProgressDisplay(QString label, bool terminal, Writer writer)
    : m_label(std::move(label))
    , m_terminal(terminal)
    , m_writer(std::move(writer))
{
}

ProgressDisplay::~ProgressDisplay()
{
    finish();
}

void ProgressDisplay::update(int done, int total)
{
    if (!m_terminal || total <= 0)
        return;
    constexpr int kWidth = 30;
    const int filled = done * kWidth / total;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(kWidth - filled, QLatin1Char('.'));
    const QString text = QStringLiteral("\r[%1] %2: %3 z %4").arg(bar, m_label).arg(done).arg(total);
    m_writer(text.toUtf8());
    m_drawn = true;
}

void ProgressDisplay::finish()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_writer(QByteArrayLiteral("\n"));
}

} // namespace vardel
