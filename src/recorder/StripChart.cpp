#include "recorder/StripChart.h"

#include <QPainter>

namespace vardel {

StripChart::StripChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Chart"));
    setAccessibleName(QStringLiteral("Wykres"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void StripChart::setPlot(TrendPlot plot)
{
    m_plot = std::move(plot);
    update();
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintTrend(painter, rect(), m_plot);
}

} // namespace vardel
