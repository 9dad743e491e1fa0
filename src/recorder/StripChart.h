#pragma once

#include "recorder/TrendPainter.h"

#include <QPoint>
#include <QWidget>

class QRubberBand;

namespace vardel {

// The recorder's plot on screen: a widget that paints the trend of the store
// as it is set, and turns the mouse and the keys into requests the window
// decides on. Drawing goes per pixel column, so a day of samples redraws
// within a frame.
//
//   wheel                 zoom in or out around the time under the mouse
//   drag with the left    zoom into the band dragged over
//   click / right click   place cursor A / B
//   drag with the middle, Shift+wheel, Left/Right   move back or on in time
//   + / -                 zoom in or out around the middle
//   End                   back to the live plot
class StripChart : public QWidget {
    Q_OBJECT
public:
    explicit StripChart(QWidget* parent = nullptr);

    void setPlot(TrendPlot plot);
    const TrendPlot& plot() const { return m_plot; }

    // The time under x (widget coordinates) on the store's clock.
    qint64 timeAt(int x) const;

    QSize sizeHint() const override { return {640, 320}; }
    QSize minimumSizeHint() const override { return {240, 140}; }

signals:
    void viewRequested(qint64 from, qint64 to);
    void cursorRequested(int which, qint64 ms); // 0: A, 1: B
    void liveRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect box() const;
    void zoomAround(qint64 at, double factor);
    void pan(double fraction);

    TrendPlot m_plot;
    QRubberBand* m_band = nullptr;
    QPoint m_pressed;
    qint64 m_panFrom = 0;
    qint64 m_panTo = 0;
    bool m_panning = false;
};

} // namespace vardel
