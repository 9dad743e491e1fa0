#pragma once

#include <QString>

namespace vardel {

// A printer as the printout sees it: a print position in twips (x to the
// right, y downwards from the top-left corner of the printable area), a font,
// text, print zones, ruling lines and pages. The position is also the point
// lines are drawn from: setting it moves the drawing point, drawing a line
// leaves the position at the line's end.
//
// The position arithmetic lives here so that the recording surface of the
// tests and the real printer share it; a surface supplies only the font
// metrics and the drawing itself.
class PrintSurface {
public:
    struct Font {
        QString name;
        double size = 10; // points
        bool bold = false;
        bool underline = false;
    };

    virtual ~PrintSurface() = default;

    double currentX() const { return m_x; }
    double currentY() const { return m_y; }
    void setCurrentX(double x) { m_x = x; }
    void setCurrentY(double y) { m_y = y; }
    void setPosition(double x, double y)
    {
        m_x = x;
        m_y = y;
    }

    const Font& font() const { return m_font; }
    void setFontName(const QString& name);
    void setFontSize(double points);
    void setFontBold(bool on);
    void setFontUnderline(bool on);

    // Prints text at the print position and moves x to its end; with endLine
    // the line is ended afterwards.
    void printText(const QString& text, bool endLine = false);
    // Print zones start every 14 average character widths of the current font,
    // counted from x = 0; x moves to the first zone start right of x.
    void nextPrintZone();
    // x back to 0, y down by the line height of the current font.
    void endLine();

    // A black line from the drawing point, or from (x1, y1), to (x2, y2).
    void lineTo(double x2, double y2);
    void line(double x1, double y1, double x2, double y2)
    {
        setPosition(x1, y1);
        lineTo(x2, y2);
    }

    // The next output goes to a new page; the position returns to the top-left
    // corner. The page itself is started only when something is drawn on it,
    // so that a document ended right after a new page has no blank last page.
    void newPage();
    // Sends the pages to the printer. False when the printer reports a failure.
    bool endDocument();
    // Gives the document up after a failure; pages not yet sent are dropped
    // where the printer allows it.
    void abort();

    // True once the printer has refused something (a page, the end).
    bool failed() const { return m_failed; }
    QString failureText() const { return m_failureText; }
    // Pages started so far.
    int pageCount() const { return m_pages; }
    bool ended() const { return m_ended; }
    bool aborted() const { return m_aborted; }

protected:
    explicit PrintSurface(Font initial);

    // Metrics of the current font, in twips.
    virtual double textWidth(const QString& text) const = 0;
    virtual double averageCharWidth() const = 0;
    virtual double lineHeight() const = 0;

    // Drawing, in twips. (x, y) of a text is its top-left corner.
    virtual void drawText(double x, double y, const QString& text) = 0;
    virtual void drawLine(double x1, double y1, double x2, double y2) = 0;
    virtual void fontChanged() {}
    // Starts page number pageCount() + 1 (not called for the first page).
    virtual bool startPage() = 0;
    virtual bool finishDocument() = 0;
    virtual void abortDocument() = 0;

    void fail(const QString& why);

private:
    bool ensurePage();

    double m_x = 0;
    double m_y = 0;
    Font m_font;
    int m_pages = 1;
    bool m_pagePending = false;
    bool m_failed = false;
    bool m_ended = false;
    bool m_aborted = false;
    QString m_failureText;
};

} // namespace vardel
