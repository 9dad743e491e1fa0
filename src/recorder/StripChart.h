#pragma once

#include "recorder/TrendPainter.h"

#include <QWidget>

namespace vardel {

// The recorder's plot on screen: a plain widget that paints the trend of the
// store as it is set. Drawing goes per pixel column, so a day of samples
// redraws within a frame.
class StripChart : public QWidget {
    Q_OBJECT
public:
    explicit StripChart(QWidget* parent = nullptr);

    void setPlot(TrendPlot plot);
    const TrendPlot& plot() const { return m_plot; }

    QSize sizeHint() const override { return {640, 320}; }
    QSize minimumSizeHint() const override { return {240, 140}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TrendPlot m_plot;
};

} // namespace vardel
