#include "gateway/MeterList.h"
#include "link/MeterModels.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vardel;

TEST(MeterList, FieldsLeftOutStayUnsetAndCommentsAndBlankLinesAreIgnored)
{
    std::vector<MeterListEntry> entries;
    int line = -1;
    QString error;
    const QString text = QStringLiteral("# mierniki hali B\r\n"
                                        "1\r\n"
                                        "\r\n"
                                        "  2\tmodel=kx3  baud=9600 response-time=80 # ten wolniejszy\n"
                                        "247 transmit-check=0 model=KX-4\r");
    ASSERT_TRUE(parseMeterList(text, entries, line, error)) << error.toStdString();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].line, 2);
    EXPECT_EQ(entries[0].address, 1);
    EXPECT_FALSE(entries[0].model || entries[0].baudCode || entries[0].transmitCheck || entries[0].responseTimeMs);
    EXPECT_EQ(entries[1].line, 4);
    EXPECT_EQ(entries[1].model, kModelKX3);
    EXPECT_EQ(entries[1].baudCode, baudCodeOfRate(9600));
    EXPECT_EQ(entries[1].responseTimeMs, 80);
    EXPECT_FALSE(entries[1].transmitCheck);
    EXPECT_EQ(entries[2].address, 247);
    EXPECT_EQ(entries[2].transmitCheck, 0);
    EXPECT_EQ(entries[2].model, kModelKX4);
}

TEST(MeterList, AMistakeNamesItsLineAndKeepsNothing)
{
    const struct {
        const char* text;
        int line;
        const char* says;
    } cases[] = {
        {"1\n0\n", 2, "adres 0 nie może być jednostką Modbus"},
        {"248", 1, "adres 248 nie może być jednostką Modbus"},
        {"256", 1, "nie jest adresem miernika"},
        {"-1", 1, "nie jest adresem miernika"},
        {"1e1", 1, "nie jest adresem miernika"},
        {"model=KX-3 1", 1, "nie jest adresem miernika"},
        {"1\n\n# x\n1 model=KX-2", 4, "adres 1 jest już w wierszu 1"},
        {"1 model=KX-5", 1, "nieznany model „KX-5”"},
        {"1 baud=9601", 1, "nieznana prędkość „9601”"},
        {"1 baud=", 1, "nieznana prędkość „”"},
        {"1 transmit-check=2", 1, "kontrola nadawania „2”"},
        {"1 response-time=60001", 1, "czas odpowiedzi „60001”"},
        {"1 response-time=20ms", 1, "czas odpowiedzi „20ms”"},
        {"1 baud=9600 baud=19200", 1, "pole baud= podane dwa razy"},
        {"1 speed=9600", 1, "nieznane pole „speed”"},
        {"1 KX-3", 1, "„KX-3” nie jest polem NAZWA=WARTOŚĆ"},
        {"1 =5", 1, "nie jest polem NAZWA=WARTOŚĆ"},
        {"# nic\n\n", 0, "lista nie zawiera żadnego miernika"},
        {"", 0, "lista nie zawiera żadnego miernika"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<MeterListEntry> entries(1);
        int line = -1;
        QString error;
        EXPECT_FALSE(parseMeterList(QString::fromUtf8(c.text), entries, line, error));
        EXPECT_EQ(line, c.line);
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.says))) << error.toStdString();
        EXPECT_TRUE(entries.empty());
    }
}

TEST(MeterList, TheFileIsNamedWithTheLineAndOnlyARegularTextFileOfBoundedSizeIsRead)
{
    QTemporaryDir dir;
    const auto write = [&dir](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return dir.filePath(name);
    };
    std::vector<MeterListEntry> entries;
    QString error;
    // As Notepad saves it: a byte order mark and CR LF.
    const QString good = write(QStringLiteral("dobra.conf"), "\xEF\xBB\xBF" "3 model=KX-4\r\n");
    ASSERT_TRUE(readMeterList(good, entries, error)) << error.toStdString();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].address, 3);

    const QString bad = write(QStringLiteral("zla.conf"), "3\n4 baud=100\n");
    EXPECT_FALSE(readMeterList(bad, entries, error));
    EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(bad) + QStringLiteral(":2: nieznana prędkość"))) << error.toStdString();

    const struct {
        QString path;
        const char* says;
    } refused[] = {
        {write(QStringLiteral("duza.conf"), QByteArray(kMeterListMaxBytes + 1, '#')), "za duży"},
        {write(QStringLiteral("latin2.conf"), "# hala \xb1\n1\n"), "nie jest tekstem UTF-8"},
        {dir.path(), "folder"},
        {dir.filePath(QStringLiteral("brak.conf")), "nie istnieje"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.path.toStdString());
        EXPECT_FALSE(readMeterList(r.path, entries, error));
        EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(r.path) + QStringLiteral(": ")));
        EXPECT_TRUE(error.contains(QString::fromUtf8(r.says))) << error.toStdString();
    }
}
