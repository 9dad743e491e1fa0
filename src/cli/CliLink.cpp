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

void ProgressDisplay::hide()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_writer(QByteArrayLiteral("\r\x1b[K"));
}

} // namespace vardel
