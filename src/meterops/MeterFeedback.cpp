#include "meterops/MeterFeedback.h"

#include <algorithm>
#include <utility>

namespace vardel {

QString timeLeftText(std::chrono::nanoseconds left)
{
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    const auto minutes = (seconds + 59) / 60;
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString LinkErrors::message(const QString& what) const
{
    QString text = m_first == Kind::Receive ? QStringLiteral("Błąd odbioru danych")
                                            : QStringLiteral("Błąd nadawania danych");
    if (!what.isEmpty())
        text += QStringLiteral(" (%1)").arg(what);
    return text;
}

ProgressDisplay::ProgressDisplay(QString label, bool terminal, Writer writer, const QString* above)
    : m_label(std::move(label))
    , m_terminal(terminal)
    , m_writer(std::move(writer))
    , m_above(above)
{
}

ProgressDisplay::~ProgressDisplay()
{
    finish();
}

void ProgressDisplay::update(int done, int total, const QString& note)
{
    if (!m_terminal || total < 0)
        return;
    QString text = m_label;
    if (total > 0) {
        constexpr int kWidth = 30;
        const int filled = std::clamp(done, 0, total) * kWidth / total;
        const QString bar = QString(filled, QLatin1Char('#')) + QString(kWidth - filled, QLatin1Char('.'));
        text = QStringLiteral("[%1] %2: %3 z %4").arg(bar, m_label).arg(done).arg(total);
    }
    if (!note.isEmpty())
        text += QStringLiteral(", ") + note;
    if (m_above)
        // Both lines, each wiped to its end, and back to the upper one.
        text = QStringLiteral("\r\x1b[K%1\n\x1b[K%2\x1b[1A\r").arg(*m_above, text);
    else
        text = QStringLiteral("\r") + text;
    m_writer(text.toUtf8());
    m_drawn = true;
}

void ProgressDisplay::finish()
{
    if (m_above) {
        hide();
        return;
    }
    if (!m_drawn)
        return;
    m_drawn = false;
    m_writer(QByteArrayLiteral("\n"));
}

void ProgressDisplay::hide()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_writer(m_above ? QByteArrayLiteral("\r\x1b[K\n\x1b[K\x1b[1A\r") : QByteArrayLiteral("\r\x1b[K"));
}

} // namespace vardel
