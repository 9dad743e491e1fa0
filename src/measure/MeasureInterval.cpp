#include "measure/MeasureInterval.h"

#include "link/Module1.h"

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

int shortestRefreshMs(std::span<const std::int16_t> models, std::int16_t baudCode,
                      std::chrono::milliseconds response)
{
    std::chrono::nanoseconds total{0};
    for (const std::int16_t model : models)
        total += measureExchangeTime(model, baudCode, response);
    constexpr std::int64_t kStep = 10'000'000; // 10 ms in ns
    return static_cast<int>((total.count() + kStep - 1) / kStep * 10);
}

std::chrono::milliseconds responseTimeInForce(const Module1& link)
{
    return link.responseTime().value_or(kFactoryResponseTime);
}

bool overran(const Module1& link, std::chrono::nanoseconds started, int intervalMs)
{
    return intervalMs > 0 && link.cardClock().cardTime() - started >= std::chrono::milliseconds(intervalMs);
}

QString wireConditionsText(const Module1& link)
{
    QString text = QStringLiteral("przy %1 bodach").arg(baudRateOf(link.BaudCode));
    if (link.responseTime())
        text += QStringLiteral(" i czasie odpowiedzi miernika %1 ms").arg(link.responseTime()->count());
    return text;
}

} // namespace vardel
