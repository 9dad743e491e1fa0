#pragma once

#include "recorder/TrendPainter.h"

#include <QString>

#include <vector>

namespace vardel {

// A plot saved as a picture: PNG, SVG or PDF, chosen by the file's extension
// (.png, .svg, .pdf, in any case). The picture holds the title, the plot and
// the legend with each value's statistics; the PDF is an A4 page across. The
// file is written whole through the program's checked writer or not at all.
// Needs a running QGuiApplication (fonts). False and a Polish reason on
// failure.
bool saveTrendPicture(const QString& path, const QString& title, const TrendPlot& plot,
                      const std::vector<TrendLegendRow>& legend, QString* error);

} // namespace vardel
