#include "report/PrintConfiguration.h"

#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "report/PrintSurface.h"

#include <algorithm>

namespace vardel {

namespace {

// Table geometry in twips.
constexpr double kLeft = 1000;
constexpr double kNameRule = 1900;
constexpr double kValueRule = 9800;
constexpr double kRight = 11000;
constexpr double kRowHeight = 400;
constexpr double kTextDrop = 100;
constexpr double kPageBottom = 14600;
constexpr double kFirstTableTop = 7000;
constexpr double kLaterTableTop = 1000;
constexpr double kDescriptionX = 1100;

void tableHeading(PrintSurface& s, double top)
{
    s.setFontBold(true);
    s.line(kLeft, top, kRight, top);
    s.lineTo(kRight, top + kRowHeight);
    s.line(kLeft, top, kLeft, top + kRowHeight);
    s.setPosition(1100, top + kTextDrop);
    s.printText(QStringLiteral("Rejestr"));
    s.setPosition(2000, top + kTextDrop);
    s.printText(QStringLiteral("Nazwa rejestru"));
    s.setPosition(9900, top + kTextDrop);
    s.printText(QStringLiteral("Wartość"));
    s.setFontBold(false);
}

void tableRow(PrintSurface& s, const RegisterTable& table, std::int16_t model, int r, double top,
              const QLocale& locale)
{
    s.line(kLeft, top, kRight, top);
    s.lineTo(kRight, top + kRowHeight);
    s.line(kLeft, top, kLeft, top + kRowHeight);
    s.setPosition(1100, top + kTextDrop);
    s.printText(reportNumberText(model, r));
    s.setPosition(2000, top + kTextDrop);
    s.printText(table.RegName[static_cast<std::size_t>(r)]);
    s.setPosition(10000, top + kTextDrop);
    s.printText(reportValueText(table.RegValue[static_cast<std::size_t>(r)], locale));
}

void columnRules(PrintSurface& s, double top, double bottom)
{
    s.line(kNameRule, top, kNameRule, bottom);
    s.line(kValueRule, top, kValueRule, bottom);
}

void pageNumber(PrintSurface& s, int page)
{
    s.setPosition(5000, 15000);
    // Page 1 reads "strona 1"; later pages carry the number with a sign
    // blank in front of it and a blank after it.
    if (page == 1)
        s.printText(QStringLiteral("strona 1"));
    else
        s.printText(QStringLiteral("strona  %1 ").arg(page));
}

// Customer data and remarks keep their own line breaks: a carriage return is
// dropped, a line feed starts a new line at the block's left edge. Long lines
// are not wrapped.
void freeText(PrintSurface& s, const QString& text)
{
    QString run;
    auto flush = [&] {
        s.printText(run);
        run.clear();
    };
    for (const QChar c : text) {
        if (c == QLatin1Char('\r'))
            continue;
        if (c == QLatin1Char('\n')) {
            flush();
            s.endLine();
            s.setCurrentX(kDescriptionX);
            continue;
        }
        run += c;
    }
    flush();
}

void descriptionLine(PrintSurface& s, const QString& caption, const QString& value)
{
    s.setCurrentX(kDescriptionX);
    s.printText(caption);
    s.nextPrintZone();
    s.printText(value, true);
}

bool abandon(PrintSurface& s)
{
    s.abort();
    return false;
}

} // namespace

int reportPageCount(int regCount)
{
    if (regCount <= kFirstPageRows)
        return 1;
    return 1 + (regCount - kFirstPageRows + kRowsPerPage - 1) / kRowsPerPage;
}

QString reportNumberText(std::int16_t meterModel, int r)
{
    if (meterModel == kModelKX3)
        return QLatin1Char(' ') + QString::number(r);
    return QString::number(r, 16).toUpper();
}

QString reportValueText(float value, const QLocale& locale)
{
    const QString text = ValueText(value, locale);
    return value < 0 ? text + QLatin1Char(' ') : QLatin1Char(' ') + text + QLatin1Char(' ');
}

bool PrintConfiguration(PrintSurface& s, const RegisterTable& table, std::int16_t meterModel,
                        const QString& dateText, const QString& timeText, const QLocale& locale)
{
    // The table has 255 slots; a count beyond them would read past RegName.
    const int count = std::clamp(static_cast<int>(table.RegCount), 0, kRegisterSlots);

    // Page 1: date line and title in the printer's own typeface.
    s.setCurrentX(9500);
    s.setFontSize(8);
    s.printText(dateText + QStringLiteral("    ") + timeText, true);
    s.line(kLeft, 1500, kRight, 1500);
    s.line(kLeft, 1000, kRight, 1000);
    s.setPosition(1100, 1100);
    s.setFontSize(16);
    s.printText(QStringLiteral("Konfiguracja miernika tablicowego    "));
    s.printText(table.ModelTag);
    s.printText(QStringLiteral("    NrSer. "));
    s.printText(table.SerialNo, true);
    s.endLine();

    s.setFontName(QStringLiteral("Times"));
    s.setFontSize(12);
    s.setFontUnderline(false);
    descriptionLine(s, QStringLiteral("Wersja oprogramowania miernika - "), table.ProgVersion);
    s.endLine();
    descriptionLine(s, QStringLiteral("Wersja wykonania wejścia We1    - "), table.InVer1);
    descriptionLine(s, QStringLiteral("Wersja wykonania wejścia We2    - "), table.InVer2);
    if (meterModel == kModelKX2) {
        // A KX-2 has two inputs; the space of the other two stays empty so
        // that the rest of the block stands where it does for the others.
        s.endLine();
        s.endLine();
    } else {
        descriptionLine(s, QStringLiteral("Wersja wykonania wejścia We3    - "), table.InVer3);
        descriptionLine(s, QStringLiteral("Wersja wykonania wejścia We4    - "), table.InVer4);
    }
    s.endLine();

    s.setCurrentX(kDescriptionX);
    s.setFontSize(12);
    s.setFontUnderline(true);
    s.printText(QStringLiteral("Dane odbiorcy"), true);
    s.setFontUnderline(false);
    s.setCurrentX(kDescriptionX);
    s.setFontSize(10);
    freeText(s, table.CustomerData);
    s.setFontSize(12);
    s.endLine();

    s.setPosition(kDescriptionX, 5000);
    s.setFontSize(12);
    s.setFontUnderline(true);
    s.printText(QStringLiteral("Uwagi ogólne"), true);
    s.setFontUnderline(false);
    s.setCurrentX(kDescriptionX);
    s.setFontSize(10);
    freeText(s, table.Remarks);
    s.setFontSize(10);
    s.endLine();
    s.setFontSize(12);

    s.setPosition(kLeft, 1000);
    s.lineTo(kLeft, kFirstTableTop);
    s.lineTo(kRight, kFirstTableTop);
    s.lineTo(kRight, 1000);

    s.setFontSize(10);
    tableHeading(s, kFirstTableTop);
    columnRules(s, kFirstTableTop, kPageBottom);
    const int firstRows = std::min(kFirstPageRows, count);
    for (int k = 0; k < firstRows; ++k)
        tableRow(s, table, meterModel, k, kFirstTableTop + kRowHeight + kRowHeight * k, locale);
    s.line(kRight, kPageBottom, kLeft, kPageBottom);
    pageNumber(s, 1);
    if (s.failed())
        return abandon(s);
    s.newPage();

    for (int p = 2;; ++p) {
        const int first = kFirstPageRows + kRowsPerPage * (p - 2);
        if (first >= count)
            break; // only when the last page came out exactly full
        const int rows = std::min(kRowsPerPage, count - first);
        s.setFontSize(10);
        tableHeading(s, kLaterTableTop);
        for (int j = 0; j < rows; ++j)
            tableRow(s, table, meterModel, first + j, kLaterTableTop + kRowHeight + kRowHeight * j, locale);
        if (rows == kRowsPerPage) {
            s.line(kRight, kPageBottom, kLeft, kPageBottom);
            pageNumber(s, p);
            columnRules(s, kLaterTableTop, kPageBottom);
            if (s.failed())
                return abandon(s);
            s.newPage();
            continue;
        }
        const double bottom = kLaterTableTop + kRowHeight + kRowHeight * rows;
        s.line(kRight, bottom, kLeft, bottom);
        pageNumber(s, p);
        columnRules(s, kLaterTableTop, bottom);
        break;
    }
    if (s.failed() || !s.endDocument())
        return abandon(s);
    return true;
}

bool PrintConfiguration(PrintSurface& surface, const RegisterTable& table, std::int16_t meterModel,
                        const QDateTime& when, const QLocale& locale)
{
    return PrintConfiguration(surface, table, meterModel, locale.toString(when.date(), QLocale::ShortFormat),
                              locale.toString(when.time(), QLocale::ShortFormat), locale);
}

} // namespace vardel
