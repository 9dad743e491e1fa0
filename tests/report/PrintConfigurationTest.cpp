#include "config/RegisterTable.h"
#include "link/Module1.h"
#include "report/PrintConfiguration.h"
#include "report/RecordingSurface.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace vardel {
namespace {

using Text = RecordingSurface::Text;
using Line = RecordingSurface::Line;

RegisterTable makeTable(std::int16_t model)
{
    RegisterTable t;
    t.RegCount = regCountOf(model);
    t.ModelTag = modelTagOf(model);
    t.SerialNo = QStringLiteral("12345");
    t.ProgVersion = QStringLiteral("2.07");
    t.InVer1 = QStringLiteral("A1");
    t.InVer2 = QStringLiteral("A2");
    t.InVer3 = QStringLiteral("A3");
    t.InVer4 = QStringLiteral("A4");
    for (int r = 0; r < kRegisterSlots; ++r) {
        t.RegName[static_cast<std::size_t>(r)] = QStringLiteral("Rejestr nr %1").arg(r);
        t.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r) + 0.5f;
    }
    return t;
}

bool print(RecordingSurface& s, const RegisterTable& t, std::int16_t model)
{
    return PrintConfiguration(s, t, model, QStringLiteral("2024-05-06"), QStringLiteral("07:08"),
                              QLocale::c());
}

bool hasLine(const std::vector<Line>& lines, double x1, double y1, double x2, double y2)
{
    return std::any_of(lines.begin(), lines.end(), [&](const Line& l) {
        return l.x1 == x1 && l.y1 == y1 && l.x2 == x2 && l.y2 == y2;
    });
}

// Register name cells of one page, in order (the heading row excluded).
std::vector<QString> namesOnPage(const RecordingSurface& s, int page)
{
    std::vector<QString> out;
    for (const Text& t : s.textsOnPage(page))
        if (t.x == 2000 && t.text != QLatin1String("Nazwa rejestru"))
            out.push_back(t.text);
    return out;
}

struct ModelCase {
    std::int16_t model;
    int pages;
    std::vector<int> rows;    // rows on each page
    QString lastNumber;       // number cell of the last register
    double lastBottom;        // y of the last page's bottom rule
};

class Pagination : public testing::TestWithParam<ModelCase> {};

TEST_P(Pagination, PagesRowsAndTheLastPageRules)
{
    const ModelCase& c = GetParam();
    const RegisterTable t = makeTable(c.model);
    RecordingSurface s;
    ASSERT_TRUE(print(s, t, c.model));
    EXPECT_TRUE(s.ended());
    EXPECT_EQ(s.pageCount(), c.pages);
    ASSERT_EQ(static_cast<int>(c.rows.size()), c.pages);

    int r = 0;
    for (int p = 1; p <= c.pages; ++p) {
        SCOPED_TRACE(p);
        const auto names = namesOnPage(s, p);
        ASSERT_EQ(static_cast<int>(names.size()), c.rows[static_cast<std::size_t>(p - 1)]);
        // Registers run on without gaps or repeats from page to page.
        for (const QString& n : names)
            EXPECT_EQ(n, QStringLiteral("Rejestr nr %1").arg(r++));

        const double top = p == 1 ? 7000 : 1000;
        const double bottom = p < c.pages ? 14600 : c.lastBottom;
        const auto lines = s.linesOnPage(p);
        EXPECT_TRUE(hasLine(lines, 11000, bottom, 1000, bottom));
        EXPECT_TRUE(hasLine(lines, 1900, top, 1900, bottom));
        EXPECT_TRUE(hasLine(lines, 9800, top, 9800, bottom));
        // No rule runs below the page's bottom rule.
        for (const Line& l : lines)
            EXPECT_LE(std::max(l.y1, l.y2), bottom);

        const QString number = p == 1 ? QStringLiteral("strona 1") : QStringLiteral("strona  %1 ").arg(p);
        const Text* pageText = s.find(number);
        ASSERT_NE(pageText, nullptr) << number.toStdString();
        EXPECT_EQ(pageText->page, p);
        EXPECT_EQ(pageText->x, 5000);
        EXPECT_EQ(pageText->y, 15000);
    }
    EXPECT_EQ(r, t.RegCount);

    const auto last = s.textsOnPage(c.pages);
    const auto numberCell = std::find_if(last.rbegin(), last.rend(), [](const Text& x) { return x.x == 1100; });
    ASSERT_NE(numberCell, last.rend());
    EXPECT_EQ(numberCell->text, c.lastNumber);
    EXPECT_EQ(reportPageCount(t.RegCount), c.pages);
}

INSTANTIATE_TEST_SUITE_P(Models, Pagination,
    testing::Values(
        ModelCase{kModelKX2, 3, {18, 33, 13}, QStringLiteral("3F"), 6600},
        ModelCase{kModelKX3, 4, {18, 33, 33, 16}, QStringLiteral(" 99"), 7800},
        ModelCase{kModelKX4, 9, {18, 33, 33, 33, 33, 33, 33, 33, 6}, QStringLiteral("FE"), 3800}));

TEST(PrintConfiguration, RowCellsStandInTheirColumns)
{
    RegisterTable t = makeTable(kModelKX2);
    t.RegValue[17] = -2.25f;
    t.RegValue[16] = 0.0f;
    RecordingSurface s;
    ASSERT_TRUE(print(s, t, kModelKX2));

    // Register 17 is the last row of page 1: top 7400 + 400 * 17.
    const Text* name = s.find(QStringLiteral("Rejestr nr 17"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->page, 1);
    EXPECT_EQ(name->x, 2000);
    EXPECT_EQ(name->y, 14300);
    EXPECT_EQ(name->font.size, 10);
    EXPECT_FALSE(name->font.bold);
    const auto row = s.textsOnPage(1);
    auto at = [&](double x, double y) -> QString {
        for (const Text& x1 : row)
            if (x1.x == x && x1.y == y)
                return x1.text;
        return QStringLiteral("<brak>");
    };
    EXPECT_EQ(at(1100, 14300), QStringLiteral("11"));
    // A negative value has no blank in front; the others a blank each side.
    EXPECT_EQ(at(10000, 14300), QStringLiteral("-2.25 "));
    EXPECT_EQ(at(10000, 13900), QStringLiteral(" 0 "));
    EXPECT_EQ(at(10000, 7500), QStringLiteral(" 0.5 "));
    EXPECT_TRUE(hasLine(s.linesOnPage(1), 1000, 14200, 11000, 14200));
    EXPECT_TRUE(hasLine(s.linesOnPage(1), 11000, 14200, 11000, 14600));
    EXPECT_TRUE(hasLine(s.linesOnPage(1), 1000, 14200, 1000, 14600));

    // The heading row is bold and the same on every page, 100 twips below its top.
    for (const auto& [caption, x] : {std::pair{QStringLiteral("Rejestr"), 1100.0},
                                     std::pair{QStringLiteral("Nazwa rejestru"), 2000.0},
                                     std::pair{QStringLiteral("Wartość"), 9900.0}}) {
        int seen = 0;
        for (const Text& h : s.texts) {
            if (h.text != caption)
                continue;
            ++seen;
            EXPECT_EQ(h.x, x);
            EXPECT_EQ(h.y, h.page == 1 ? 7100 : 1100);
            EXPECT_TRUE(h.font.bold);
            EXPECT_EQ(h.font.name, QStringLiteral("Times"));
        }
        EXPECT_EQ(seen, 3) << caption.toStdString();
    }
}

TEST(PrintConfiguration, NumbersAndValuesFollowModelAndLocale)
{
    EXPECT_EQ(reportNumberText(kModelKX3, 0), QStringLiteral(" 0"));
    EXPECT_EQ(reportNumberText(kModelKX3, 99), QStringLiteral(" 99"));
    EXPECT_EQ(reportNumberText(kModelKX2, 63), QStringLiteral("3F"));
    EXPECT_EQ(reportNumberText(kModelKX4, 254), QStringLiteral("FE"));
    EXPECT_EQ(reportNumberText(kModelKX4, 0), QStringLiteral("0"));
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    EXPECT_EQ(reportValueText(1.5f, polish), QStringLiteral(" 1,5 "));
    EXPECT_EQ(reportValueText(-1.5f, polish), QStringLiteral("-1,5 "));
}

TEST(PrintConfiguration, FirstPageDescriptionBlock)
{
    const RegisterTable t = makeTable(kModelKX3);
    RecordingSurface s;
    ASSERT_TRUE(print(s, t, kModelKX3));

    // Date line and title in the printer's own typeface.
    const Text* date = s.find(QStringLiteral("2024-05-06    07:08"));
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->x, 9500);
    EXPECT_EQ(date->y, 0);
    EXPECT_EQ(date->font.size, 8);
    EXPECT_EQ(date->font.name, QString::fromLatin1(RecordingSurface::kStartFont));
    EXPECT_TRUE(hasLine(s.lines, 1000, 1500, 11000, 1500));
    EXPECT_TRUE(hasLine(s.lines, 1000, 1000, 11000, 1000));

    const auto page1 = s.textsOnPage(1);
    const std::vector<QString> title{QStringLiteral("Konfiguracja miernika tablicowego    "), QStringLiteral("KX3"),
                                     QStringLiteral("    NrSer. "), QStringLiteral("12345")};
    double x = 1100;
    for (const QString& piece : title) {
        const Text* p = s.find(piece);
        ASSERT_NE(p, nullptr) << piece.toStdString();
        EXPECT_EQ(p->x, x);
        EXPECT_EQ(p->y, 1100);
        EXPECT_EQ(p->font.size, 16);
        EXPECT_EQ(p->font.name, QString::fromLatin1(RecordingSurface::kStartFont));
        x += RecordingSurface::charWidth(16) * static_cast<double>(piece.size());
    }

    // From here on Times 12. After the title line and one empty 16-point line
    // the lines follow each other at 12-point height, with one empty line after
    // the software version and one before the customer data.
    const double h16 = RecordingSurface::lineHeightOf(16);
    const double h12 = RecordingSurface::lineHeightOf(12);
    const double zone = 14 * RecordingSurface::charWidth(12);
    struct Row {
        QString caption;
        QString value;
        double y;
    };
    const double y0 = 1100 + 2 * h16;
    const std::vector<Row> rows{
        {QStringLiteral("Wersja oprogramowania miernika - "), QStringLiteral("2.07"), y0},
        {QStringLiteral("Wersja wykonania wejścia We1    - "), QStringLiteral("A1"), y0 + 2 * h12},
        {QStringLiteral("Wersja wykonania wejścia We2    - "), QStringLiteral("A2"), y0 + 3 * h12},
        {QStringLiteral("Wersja wykonania wejścia We3    - "), QStringLiteral("A3"), y0 + 4 * h12},
        {QStringLiteral("Wersja wykonania wejścia We4    - "), QStringLiteral("A4"), y0 + 5 * h12},
        {QStringLiteral("Dane odbiorcy"), QString(), y0 + 7 * h12},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption.toStdString());
        const Text* c = s.find(row.caption);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->x, 1100);
        EXPECT_EQ(c->y, row.y);
        EXPECT_EQ(c->font.name, QStringLiteral("Times"));
        EXPECT_EQ(c->font.size, 12);
        if (row.value.isEmpty())
            continue;
        EXPECT_FALSE(c->font.underline);
        // The value starts at the first print zone right of the caption.
        const double end = 1100 + RecordingSurface::charWidth(12) * static_cast<double>(row.caption.size());
        const Text* v = s.find(row.value);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->y, row.y);
        EXPECT_GT(v->x, end);
        EXPECT_LE(v->x, end + zone);
        EXPECT_EQ(std::fmod(v->x, zone), 0);
    }
    EXPECT_TRUE(s.find(QStringLiteral("Dane odbiorcy"))->font.underline);
    const Text* remarks = s.find(QStringLiteral("Uwagi ogólne"));
    ASSERT_NE(remarks, nullptr);
    EXPECT_EQ(remarks->x, 1100);
    EXPECT_EQ(remarks->y, 5000);
    EXPECT_TRUE(remarks->font.underline);
    EXPECT_EQ(remarks->font.size, 12);

    // Frame of the description block.
    EXPECT_TRUE(hasLine(s.lines, 1000, 1000, 1000, 7000));
    EXPECT_TRUE(hasLine(s.lines, 1000, 7000, 11000, 7000));
    EXPECT_TRUE(hasLine(s.lines, 11000, 7000, 11000, 1000));
    // Empty customer data and remarks print only their headings: nothing
    // else stands between the inputs and the table.
    for (const Text& t1 : page1) {
        if (t1.y > y0 + 5 * h12 && t1.y < 7000) {
            EXPECT_TRUE(t1.text == QStringLiteral("Dane odbiorcy") || t1.text == QStringLiteral("Uwagi ogólne"))
                << t1.text.toStdString();
        }
    }
}

TEST(PrintConfiguration, KX2LeavesTheSpaceOfTheMissingInputs)
{
    RecordingSurface kx2;
    RecordingSurface kx4;
    ASSERT_TRUE(print(kx2, makeTable(kModelKX2), kModelKX2));
    ASSERT_TRUE(print(kx4, makeTable(kModelKX4), kModelKX4));

    for (const char* caption : {"Wersja wykonania wejścia We3    - ", "Wersja wykonania wejścia We4    - "}) {
        EXPECT_EQ(kx2.find(QString::fromUtf8(caption)), nullptr);
        EXPECT_NE(kx4.find(QString::fromUtf8(caption)), nullptr);
    }
    // InVer3 and InVer4 are not printed for a KX-2 even when the table holds them.
    EXPECT_EQ(kx2.find(QStringLiteral("A3")), nullptr);
    const Text* a = kx2.find(QStringLiteral("Dane odbiorcy"));
    const Text* b = kx4.find(QStringLiteral("Dane odbiorcy"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->y, b->y);
    EXPECT_EQ(kx2.find(QStringLiteral("KX2"))->y, 1100);
}

TEST(PrintConfiguration, FreeTextKeepsItsLineBreaks)
{
    RegisterTable t = makeTable(kModelKX3);
    t.CustomerData = QStringLiteral("abc\r\ndef");
    // Remarks from a file written elsewhere may end lines with LF alone.
    t.Remarks = QStringLiteral("Uwaga 1\nUwaga 2\n\nKoniec");
    RecordingSurface s;
    ASSERT_TRUE(print(s, t, kModelKX3));

    const double h10 = RecordingSurface::lineHeightOf(10);
    const Text* heading = s.find(QStringLiteral("Dane odbiorcy"));
    ASSERT_NE(heading, nullptr);
    const double y = heading->y + RecordingSurface::lineHeightOf(12);
    struct Expect {
        QString text;
        double y;
    };
    for (const Expect& e : {Expect{QStringLiteral("abc"), y}, Expect{QStringLiteral("def"), y + h10},
                            Expect{QStringLiteral("Uwaga 1"), 5000 + RecordingSurface::lineHeightOf(12)},
                            Expect{QStringLiteral("Uwaga 2"), 5000 + RecordingSurface::lineHeightOf(12) + h10},
                            Expect{QStringLiteral("Koniec"), 5000 + RecordingSurface::lineHeightOf(12) + 3 * h10}}) {
        const Text* p = s.find(e.text);
        ASSERT_NE(p, nullptr) << e.text.toStdString();
        EXPECT_EQ(p->x, 1100) << e.text.toStdString();
        EXPECT_EQ(p->y, e.y) << e.text.toStdString();
        EXPECT_EQ(p->font.size, 10);
        EXPECT_FALSE(p->font.underline);
    }
    for (const Text& x : s.texts)
        EXPECT_FALSE(x.text.contains(QLatin1Char('\r')) || x.text.contains(QLatin1Char('\n')));

    // Long customer data does not move the remarks heading.
    t.CustomerData = QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9");
    RecordingSurface longer;
    ASSERT_TRUE(print(longer, t, kModelKX3));
    EXPECT_EQ(longer.find(QStringLiteral("Uwagi ogólne"))->y, 5000);
}

TEST(PrintConfiguration, ExactlyFullLastPageEndsWithoutABlankPage)
{
    // 18 + 33 registers: page 2 is full and closed like any full page.
    RegisterTable t = makeTable(kModelKX2);
    t.RegCount = 51;
    RecordingSurface s;
    ASSERT_TRUE(print(s, t, kModelKX2));
    EXPECT_TRUE(s.ended());
    EXPECT_EQ(s.pageCount(), 2);
    EXPECT_EQ(reportPageCount(51), 2);
    EXPECT_EQ(namesOnPage(s, 2).size(), 33u);
    EXPECT_TRUE(hasLine(s.linesOnPage(2), 11000, 14600, 1000, 14600));
    ASSERT_NE(s.find(QStringLiteral("strona  2 ")), nullptr);
}

TEST(PrintConfiguration, PrinterFailureAbortsTheDocument)
{
    const RegisterTable t = makeTable(kModelKX4);
    {
        RecordingSurface s;
        s.failAtPage(3);
        EXPECT_FALSE(print(s, t, kModelKX4));
        EXPECT_TRUE(s.failed());
        EXPECT_FALSE(s.failureText().isEmpty());
        EXPECT_EQ(s.abortCalls, 1);
        EXPECT_FALSE(s.ended());
        EXPECT_EQ(s.pageCount(), 2);
        // Nothing is drawn once the printer has refused a page.
        EXPECT_TRUE(s.textsOnPage(3).empty());
        EXPECT_EQ(s.find(QStringLiteral("strona  3 ")), nullptr);
    }
    {
        RecordingSurface s;
        s.failAtPage(0); // the end of the document
        EXPECT_FALSE(print(s, t, kModelKX4));
        EXPECT_EQ(s.abortCalls, 1);
        EXPECT_FALSE(s.ended());
    }
}

TEST(PrintSurface, ZonesLinesAndPosition)
{
    RecordingSurface s; // 10 points: zones every 1400 twips
    s.setCurrentX(1400);
    s.nextPrintZone();
    EXPECT_EQ(s.currentX(), 2800) << "a zone start is left for the next one";
    s.setCurrentX(1);
    s.nextPrintZone();
    EXPECT_EQ(s.currentX(), 1400);

    s.line(10, 20, 30, 40);
    EXPECT_EQ(s.currentX(), 30);
    EXPECT_EQ(s.currentY(), 40);
    s.lineTo(50, 60);
    ASSERT_EQ(s.lines.size(), 2u);
    EXPECT_EQ(s.lines[1].x1, 30);
    EXPECT_EQ(s.lines[1].y1, 40);

    s.printText(QStringLiteral("ab"), true);
    EXPECT_EQ(s.texts.back().x, 50);
    EXPECT_EQ(s.currentX(), 0);
    EXPECT_EQ(s.currentY(), 60 + RecordingSurface::lineHeightOf(10));

    // A new page starts at the top-left corner, and only once drawn on.
    s.newPage();
    s.newPage();
    EXPECT_EQ(s.currentX(), 0);
    EXPECT_EQ(s.currentY(), 0);
    EXPECT_EQ(s.pageCount(), 1);
    s.printText(QStringLiteral("x"));
    EXPECT_EQ(s.pageCount(), 2);
    s.newPage();
    EXPECT_TRUE(s.endDocument());
    EXPECT_EQ(s.pageCount(), 2);
}

} // namespace
} // namespace vardel
