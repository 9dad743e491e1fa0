#pragma once

#include "report/PrintSurface.h"

#include <QString>

#include <vector>

namespace vardel {

// A printer that keeps everything printed on it, for checking a layout
// without paper. Its font metrics are simple and fixed, so that positions come
// out the same on every machine: an average character is 10 twips per point
// of size wide (every character has that width), a line 23 twips per point
// high. A 10-point text of 3 characters is 300 twips wide, its line 230 high.
class RecordingSurface : public PrintSurface {
public:
    // The font the printer starts with, before the printout sets one.
    static constexpr const char* kStartFont = "(czcionka drukarki)";
    static constexpr double kStartSize = 10;

    struct Text {
        int page;
        double x;
        double y;
        QString text;
        Font font;
    };
    struct Line {
        int page;
        double x1;
        double y1;
        double x2;
        double y2;
    };

    RecordingSurface();

    std::vector<Text> texts;
    std::vector<Line> lines;
    int abortCalls = 0;

    // Makes the printer refuse page number page (2 or later), or the end of
    // the document (0), as a printer out of order would.
    void failAtPage(int page) { m_failPage = page; }

    // Everything printed on one page, in order.
    std::vector<Text> textsOnPage(int page) const;
    std::vector<Line> linesOnPage(int page) const;
    // The first text equal to text, or nullptr.
    const Text* find(const QString& text) const;

    static double charWidth(double size) { return 10.0 * size; }
    static double lineHeightOf(double size) { return 23.0 * size; }

protected:
    double textWidth(const QString& text) const override;
    double averageCharWidth() const override;
    double lineHeight() const override;
    void drawText(double x, double y, const QString& text) override;
    void drawLine(double x1, double y1, double x2, double y2) override;
    bool startPage() override;
    bool finishDocument() override;
    void abortDocument() override;

private:
    int m_failPage = -1;
};

} // namespace vardel
