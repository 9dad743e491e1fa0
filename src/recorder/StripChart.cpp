#include "recorder/StripChart.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vardel {

namespace {

constexpr double kZoomStep = 1.25;
constexpr qint64 kLeastSpanMs = 1000; // a second across the plot at the most

} // namespace

StripChart::StripChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Chart"));
    setAccessibleName(QStringLiteral("Wykres"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    m_band = new QRubberBand(QRubberBand::Rectangle, this);
}

void StripChart::setPlot(TrendPlot plot)
{
    m_plot = std::move(plot);
    update();
}

QRect StripChart::box() const
{
    return trendPlotBox(rect(), fontMetrics());
}

qint64 StripChart::timeAt(int x) const
{
    const QRect b = box();
    const double at = std::clamp(static_cast<double>(x - b.left()) / std::max(b.width(), 1), 0.0, 1.0);
    return m_plot.from + static_cast<qint64>(std::llround(at * static_cast<double>(m_plot.to - m_plot.from)));
}

void StripChart::zoomAround(qint64 at, double factor)
{
    const double length = std::max(static_cast<double>(m_plot.to - m_plot.from) * factor, double(kLeastSpanMs));
    const double share = m_plot.to > m_plot.from
        ? static_cast<double>(at - m_plot.from) / static_cast<double>(m_plot.to - m_plot.from)
        : 1.0;
    const auto from = at - static_cast<qint64>(std::llround(length * share));
    emit viewRequested(from, from + static_cast<qint64>(std::llround(length)));
}

void StripChart::pan(double fraction)
{
    const auto by = static_cast<qint64>(std::llround(static_cast<double>(m_plot.to - m_plot.from) * fraction));
    emit viewRequested(m_plot.from + by, m_plot.to + by);
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintTrend(painter, rect(), m_plot);
}

void StripChart::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        m_band->setGeometry(QRect(m_pressed.x(), box().top(), 0, box().height()));
        m_band->show();
    } else if (event->button() == Qt::MiddleButton) {
        m_panning = true;
        m_panFrom = m_plot.from;
        m_panTo = m_plot.to;
    } else if (event->button() == Qt::RightButton) {
        emit cursorRequested(1, timeAt(m_pressed.x()));
    }
}

void StripChart::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (m_band->isVisible()) {
        m_band->setGeometry(QRect(std::min(x, m_pressed.x()), box().top(), std::abs(x - m_pressed.x()), box().height()));
    } else if (m_panning) {
        const qint64 by = timeAt(m_pressed.x()) - timeAt(x);
        emit viewRequested(m_panFrom + by, m_panTo + by);
    }
}

void StripChart::mouseReleaseEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (event->button() == Qt::LeftButton && m_band->isVisible()) {
        m_band->hide();
        // A drag is a zoom; a click is cursor A.
        if (std::abs(x - m_pressed.x()) > 4) {
            const qint64 a = timeAt(std::min(x, m_pressed.x()));
            const qint64 b = timeAt(std::max(x, m_pressed.x()));
            emit viewRequested(a, std::max(b, a + kLeastSpanMs));
        } else {
            emit cursorRequested(0, timeAt(x));
        }
    } else if (event->button() == Qt::MiddleButton) {
        m_panning = false;
    }
}

void StripChart::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (delta.x() != 0 || event->modifiers() & Qt::ShiftModifier) {
        const int d = delta.x() != 0 ? delta.x() : delta.y();
        pan(-d / 120.0 * 0.1);
    } else if (delta.y() != 0) {
        zoomAround(timeAt(event->position().toPoint().x()), delta.y() > 0 ? 1 / kZoomStep : kZoomStep);
    }
    event->accept();
}

void StripChart::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        pan(-0.25);
        break;
    case Qt::Key_Right:
        pan(0.25);
        break;
    case Qt::Key_Plus:
        zoomAround((m_plot.from + m_plot.to) / 2, 1 / kZoomStep);
        break;
    case Qt::Key_Minus:
        zoomAround((m_plot.from + m_plot.to) / 2, kZoomStep);
        break;
    case Qt::Key_End:
        emit liveRequested();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace vardel
