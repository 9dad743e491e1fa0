#include "measure/MeasureInterval.h"

#include <QRegularExpression>

namespace vardel {

std::optional<int> parseSeconds(const QString& text, int leastMs, int mostMs)
{
    static const QRegularExpression seconds(QStringLiteral("^([0-9]{1,5})(?:[.,]([0-9]{1,3}))?$"));
    const QRegularExpressionMatch m = seconds.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int ms = m.captured(1).toInt() * 1000 + m.captured(2).leftJustified(3, QLatin1Char('0')).toInt();
    if (ms < leastMs || ms > mostMs)
        return std::nullopt;
    return ms;
}

QString secondsNumberText(int ms)
{
    QString text = QString::number(ms / 1000) + QLatin1Char(',')
        + QString::number(ms % 1000).rightJustified(3, QLatin1Char('0'));
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char(',')))
        text.chop(1);
    return text;
}

} // namespace vardel
