#include "files/ConfigFile.h"

#include "config/RegisterTable.h"
#include "link/Module1.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include "support/TestFiles.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cfloat>
#include <csignal>
#include <clocale>
#include <cmath>
#include <functional>
#include <limits>

using namespace vardel;

namespace {

using vardel::test::readBytes;
using vardel::test::writeBytes;

QString fixture(const char* name)
{
    return QStringLiteral(VARDEL_TEST_DATA "/") + QLatin1String(name);
}

RegisterTable tableFor(std::int16_t model)
{
    RegisterTable t;
    t.RegCount = regCountOf(model);
    t.ModelTag = modelTagOf(model);
    return t;
}

// The tables the golden files hold. Slots 0..15 carry the interesting
// numbers; the rest follow a simple pattern per model.
RegisterTable goldenTable(std::int16_t model)
{
    RegisterTable t = tableFor(model);
    const float special[] = {12.5f, 0.25f, -3.0f, 0.0f, 12345678.0f, 1e-5f, 0.5f, 1e7f,
                             -0.001f, 9999999.0f, 0.0001f, 123456.7f, 1.5e-20f, -2.5e10f, 3.14159265f, 100.0f};
    for (int r = 0; r < t.RegCount; ++r) {
        float v = 0.0f;
        if (r < 16)
            v = special[r];
        else if (model == kModelKX2)
            v = static_cast<float>(r);
        else if (model == kModelKX3)
            v = -static_cast<float>(r);
        else
            v = static_cast<float>(r) * 0.5f;
        t.RegValue[static_cast<std::size_t>(r)] = v;
    }
    switch (model) {
    case kModelKX2:
        t.SerialNo = QStringLiteral("KX2/00417");
        t.ProgVersion = QStringLiteral("2.13");
        t.InVer1 = QStringLiteral("0-20mA");
        t.InVer2 = QStringLiteral("Pt100");
        t.InVer3 = QStringLiteral("brak"); // written for KX-2 as well
        t.CustomerData = QStringLiteral("abc\r\ndef");
        t.Remarks = QStringLiteral("Zakład Łódź");
        break;
    case kModelKX3:
        break; // every text empty
    default:
        t.SerialNo = QStringLiteral("Nr 12, seria A");
        t.ProgVersion = QStringLiteral("  3.0");
        t.InVer1 = QStringLiteral("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ");
        t.InVer2 = QStringLiteral("4-20 mA");
        t.InVer3 = QStringLiteral("x ");
        t.InVer4 = QStringLiteral("Pt1000");
        t.CustomerData = QStringLiteral("Elektrownia \"Pątnów\"\r\nul. Kolejowa 5, 62-510");
        t.Remarks = QStringLiteral("Linia 1\r\nLinia 2\r\n");
        break;
    }
    return t;
}

void expectSameTable(const RegisterTable& expected, const RegisterTable& actual)
{
    EXPECT_EQ(expected.SerialNo, actual.SerialNo);
    EXPECT_EQ(expected.ProgVersion, actual.ProgVersion);
    EXPECT_EQ(expected.InVer1, actual.InVer1);
    EXPECT_EQ(expected.InVer2, actual.InVer2);
    EXPECT_EQ(expected.InVer3, actual.InVer3);
    EXPECT_EQ(expected.InVer4, actual.InVer4);
    EXPECT_EQ(expected.CustomerData, actual.CustomerData);
    EXPECT_EQ(expected.Remarks, actual.Remarks);
    for (std::size_t r = 0; r < kRegisterSlots; ++r)
        EXPECT_EQ(expected.RegValue[r], actual.RegValue[r]) << "slot " << r;
}

// A table whose every field differs from what any test file holds, to see
// that a failed load leaves it alone.
RegisterTable untouchedTable(std::int16_t model)
{
    RegisterTable t = tableFor(model);
    for (std::size_t r = 0; r < kRegisterSlots; ++r)
        t.RegValue[r] = 1000.0f + static_cast<float>(r);
    t.SerialNo = QStringLiteral("stary numer");
    t.ProgVersion = QStringLiteral("stara wersja");
    t.InVer1 = t.InVer2 = t.InVer3 = t.InVer4 = QStringLiteral("stare");
    t.CustomerData = QStringLiteral("stary odbiorca");
    t.Remarks = QStringLiteral("stare uwagi");
    return t;
}

QList<QByteArray> crlfLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& l : lines)
        l.chop(l.endsWith('\r') ? 1 : 0);
    return lines;
}

} // namespace

TEST(FileValueText, WritesShortestSevenDigitFormWithPoint)
{
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {12.5f, " 12.5"},       {0.25f, " .25"},          {-3.0f, "-3"},
        {0.0f, " 0"},           {-0.0f, " 0"},            {12345678.0f, " 1.234568E+07"},
        // 1E-05 and .0001 are floats just below the power of ten: the rounding carries.
        {0.00001f, " 1E-05"},   {0.5f, " .5"},            {-0.75f, "-.75"},
        {1e7f, " 1E+07"},       {9999999.0f, " 9999999"}, {0.0001f, " .0001"},
        {0.00009999999f, " 9.999999E-05"},                {1e-5f, " 1E-05"},
        {1.0000001f, " 1"},     {0.99999994f, " .9999999"},
        {1e20f, " 1E+20"},      {-1.5e-20f, "-1.5E-20"},  {1e-45f, " 1.401298E-45"},
        {FLT_MAX, " 3.402823E+38"},                       {-FLT_MAX, "-3.402823E+38"},
        {std::numeric_limits<float>::infinity(), " 3.402823E+38"},
        {std::numeric_limits<float>::quiet_NaN(), " 0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileValueText(c.value), QLatin1String(c.text)) << c.text;
}

class GoldenFile : public testing::TestWithParam<std::int16_t> {
protected:
    QString goldenPath() const
    {
        return fixture(GetParam() == kModelKX2 ? "golden.KX2" : GetParam() == kModelKX3 ? "golden.KX3" : "golden.KX4");
    }
    QTemporaryDir dir;
};

TEST_P(GoldenFile, WriteGivesTheGoldenBytes)
{
    const QString path = dir.filePath(QStringLiteral("out.") + modelTagOf(GetParam()));
    const FileResult result = WriteConfigFile(goldenTable(GetParam()), path);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_TRUE(result.message.isEmpty());
    const QByteArray golden = readBytes(goldenPath());
    ASSERT_FALSE(golden.isEmpty());
    EXPECT_EQ(readBytes(path), golden);
}

TEST_P(GoldenFile, LoadGivesTheTableBack)
{
    RegisterTable table = untouchedTable(GetParam());
    const FileResult result = ReadConfigFile(table, goldenPath());
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    RegisterTable expected = goldenTable(GetParam());
    expected.RegValue[4] = 12345680.0f; // 1.234568E+07
    expected.RegValue[14] = 3.141593f;
    // Slots beyond the model's count are not in the file and keep their values.
    for (std::size_t r = static_cast<std::size_t>(expected.RegCount); r < kRegisterSlots; ++r)
        expected.RegValue[r] = 1000.0f + static_cast<float>(r);
    expectSameTable(expected, table);
    EXPECT_EQ(table.RegCount, regCountOf(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Models, GoldenFile, testing::Values(kModelKX2, kModelKX3, kModelKX4),
                         [](const testing::TestParamInfo<std::int16_t>& p) { return modelTagOf(p.param).toStdString(); });

TEST(ConfigFileWrite, PointsAlsoInAPolishLocale)
{
    const QLocale before;
    const std::string cBefore = std::setlocale(LC_ALL, nullptr);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    std::setlocale(LC_ALL, "pl_PL.UTF-8"); // may be missing here; the Qt default matters most

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pl.KX2"));
    const FileResult result = WriteConfigFile(goldenTable(kModelKX2), path);

    std::setlocale(LC_ALL, cBefore.c_str());
    QLocale::setDefault(before);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(readBytes(path), readBytes(fixture("golden.KX2")));
}

TEST(ConfigFileWrite, FreeTextLineBreaksBecomeCrLfAndAreCounted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lf.KX2"));
    RegisterTable t = tableFor(kModelKX2);
    t.CustomerData = QStringLiteral("abc\ndef");  // as a Qt text box gives it
    t.Remarks = QStringLiteral("x\ry\r\nz\n");
    ASSERT_TRUE(WriteConfigFile(t, path).ok);

    const QByteArray bytes = readBytes(path);
    EXPECT_TRUE(bytes.endsWith(" 8 \r\n 9 \r\nabc\r\ndef\r\nx\r\ny\r\nz\r\n\r\n")) << bytes.right(40).toStdString();

    RegisterTable back = untouchedTable(kModelKX2);
    ASSERT_TRUE(ReadConfigFile(back, path).ok);
    EXPECT_EQ(back.CustomerData, QStringLiteral("abc\r\ndef"));
    EXPECT_EQ(back.Remarks, QStringLiteral("x\r\ny\r\nz\r\n"));
}

// Whatever the program lets through a save comes back as it was.
TEST(ConfigFileWrite, RoundTripKeepsAwkwardTextsAndValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rt.KX4"));
    RegisterTable t = tableFor(kModelKX4);
    t.SerialNo = QStringLiteral(",");
    t.ProgVersion = QStringLiteral("\t tab i spacja ");
    t.InVer1 = QStringLiteral("a,b,c");
    t.InVer2 = QStringLiteral("  ");
    t.InVer3 = QStringLiteral("96x48 5\" panel");
    t.InVer4 = QString();
    t.CustomerData = QStringLiteral("\"cudzysłów\", przecinek,\r\n  wcięcie  ");
    t.Remarks = QStringLiteral("€ – „Polskie” cudzysłowy");
    const float values[] = {FLT_MAX, -FLT_MAX, 1e-45f, -FLT_MIN, 0.1f, 1.0f / 3.0f, 7654321.0f, 1e-4f, 1e38f};
    for (std::size_t i = 0; i < std::size(values); ++i)
        t.RegValue[i] = values[i];
    t.RegValue[254] = 254.25f;
    ASSERT_TRUE(WriteConfigFile(t, path).ok);
    // A quote inside a field the reader takes whole is written as it stands.
    EXPECT_TRUE(readBytes(path).contains("\r\n96x48 5\" panel\r\n"));

    RegisterTable back = untouchedTable(kModelKX4);
    const FileResult result = ReadConfigFile(back, path);
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    RegisterTable expected = t;
    // Seven digits are what the file keeps.
    expected.RegValue[0] = 3.402823e38f;
    expected.RegValue[1] = -3.402823e38f;
    expected.RegValue[3] = -1.175494e-38f;
    expected.RegValue[5] = 0.3333333f;
    expectSameTable(expected, back);

    // A value beyond single range written by some other hand saturates.
    QByteArray bytes = readBytes(path);
    bytes.replace(" 1E+38\r\n", "-1E+39\r\n");
    writeBytes(path, bytes);
    ASSERT_TRUE(ReadConfigFile(back, path).ok);
    EXPECT_EQ(back.RegValue[8], -FLT_MAX);
}

TEST(ConfigFileWrite, RefusesTextsThatWouldNotComeBack)
{
    const struct {
        std::function<void(RegisterTable&)> set;
        const char* message;
    } cases[] = {
        {[](RegisterTable& t) { t.SerialNo = QStringLiteral("\"12\""); },
         "Tekst w polu „Numer seryjny miernika” zawiera znaki, których nie można zapisać w pliku konfiguracji: „\"”"},
        {[](RegisterTable& t) { t.ProgVersion = QStringLiteral("1.0\r\n2.0"); },
         "Tekst w polu „Wersja programu” zawiera znaki, których nie można zapisać w pliku konfiguracji: koniec wiersza"},
        {[](RegisterTable& t) { t.InVer4 = QStringLiteral("a\"b√c\nd√"); },
         "Tekst w polu „Wykonanie wejść We-4” zawiera znaki, których nie można zapisać w pliku konfiguracji: "
         "koniec wiersza, „√”"},
        // A quote inside a field that must be quoted, or one that would open a quoted field.
        {[](RegisterTable& t) { t.InVer1 = QStringLiteral("5\" panel, 24 V"); },
         "Tekst w polu „Wykonanie wejść We-1” zawiera znaki, których nie można zapisać w pliku konfiguracji: „\"”"},
        {[](RegisterTable& t) { t.InVer2 = QStringLiteral("5\" panel "); },
         "Tekst w polu „Wykonanie wejść We-2” zawiera znaki, których nie można zapisać w pliku konfiguracji: „\"”"},
        {[](RegisterTable& t) { t.CustomerData = QStringLiteral("Ωmega 😀"); },
         "Tekst w polu „Dane odbiorcy” zawiera znaki, których nie można zapisać w pliku konfiguracji: „Ω”, „😀”"},
        {[](RegisterTable& t) { t.Remarks = QStringLiteral("ok\r\n→"); },
         "Tekst w polu „Uwagi dodatkowe” zawiera znaki, których nie można zapisać w pliku konfiguracji: „→”"},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.KX2"));
    const QByteArray old = readBytes(fixture("golden.KX3"));
    writeBytes(path, old);
    for (const auto& c : cases) {
        RegisterTable t = goldenTable(kModelKX2);
        c.set(t);
        const FileResult result = WriteConfigFile(t, path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, QString::fromUtf8(c.message));
        EXPECT_EQ(readBytes(path), old);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.KX2")});
}

TEST(ConfigFileWrite, FailedWriteLeavesTheOldFileAlone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("old.KX4"));
    const QByteArray old = readBytes(fixture("golden.KX4"));
    writeBytes(path, old);

    // The file-size limit makes the write itself fail part-way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const FileResult result = WriteConfigFile(goldenTable(kModelKX2), path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Nie można zapisać pliku ") + QDir::toNativeSeparators(path)
                                          + QStringLiteral(": ")))
        << result.message.toStdString();
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.KX4")});
}

TEST(ConfigFileWrite, UnwritablePlaces)
{
    QTemporaryDir dir;
    const QString missingDir = dir.filePath(QStringLiteral("brak/plik.KX3"));
    FileResult result = WriteConfigFile(goldenTable(kModelKX3), missingDir);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("Nie można zapisać pliku ") + missingDir + QStringLiteral(": ")))
        << result.message.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missingDir));

    result = WriteConfigFile(goldenTable(kModelKX3), dir.path());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
}

TEST(ConfigFileWrite, ReadOnlyFileIsNamedAsSuch)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    QTemporaryDir dir;
    const QString readOnly = dir.filePath(QStringLiteral("ro.KX3"));
    writeBytes(readOnly, "stare");
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
    const FileResult result = WriteConfigFile(goldenTable(kModelKX3), readOnly);
    EXPECT_EQ(result.message, QStringLiteral("Nie można zapisać pliku %1: brak dostępu do pliku").arg(readOnly));
    EXPECT_EQ(readBytes(readOnly), QByteArray("stare"));
}

TEST(ConfigFileRead, BrokenFilesLeaveTheTableAlone)
{
    const QByteArray golden = readBytes(fixture("golden.KX2"));
    const QList<QByteArray> lines = crlfLines(golden);
    const auto firstLines = [&](int n) {
        QByteArray out;
        for (int i = 0; i < n; ++i)
            out += lines[i] + "\r\n";
        return out;
    };
    const auto withLine = [&](int lineNo, const QByteArray& text) {
        QList<QByteArray> changed = lines;
        changed[lineNo - 1] = text;
        return changed.join("\r\n");
    };
    const char* shortFile = "plik kończy się przed końcem danych";
    // Lines: 1-6 descriptions, 7-70 registers, 71-72 lengths (8, 11), then the texts.
    const struct {
        const char* what;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"empty file", QByteArray(), shortFile},
        {"ends in the descriptions", firstLines(3), shortFile},
        {"ends in the registers", firstLines(40), shortFile},
        {"ends before the lengths", firstLines(70), shortFile},
        {"ends before the texts", firstLines(72), shortFile},
        {"ends inside the remarks", golden.left(golden.size() - 3), shortFile},
        {"customer text longer than the file", withLine(71, " 500 "), shortFile},
        {"negative length", withLine(71, "-8 "), "ujemna długość tekstu w wierszu 71"},
        {"negative second length", withLine(72, "-1"), "ujemna długość tekstu w wierszu 72"},
        {"letters in a register", withLine(10, " 12x"), "nieprawidłowa liczba w wierszu 10"},
        {"two points", withLine(7, " 1.2.3"), "nieprawidłowa liczba w wierszu 7"},
        {"words", withLine(70, "zero"), "nieprawidłowa liczba w wierszu 70"},
        {"fractional length", withLine(72, " 11.5 "), "nieprawidłowa liczba w wierszu 72"},
        {"huge length", withLine(71, " 1E+12 "), "nieprawidłowa liczba w wierszu 71"},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zly.KX2"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(path, c.bytes);
        RegisterTable table = untouchedTable(kModelKX2);
        const FileResult result = ReadConfigFile(table, path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, QStringLiteral("Nie można wczytać pliku %1: %2").arg(path, QString::fromUtf8(c.reason)));
        expectSameTable(untouchedTable(kModelKX2), table);
    }
}

TEST(ConfigFileRead, MissingFileAndFolder)
{
    QTemporaryDir dir;
    RegisterTable table = untouchedTable(kModelKX3);
    const QString missing = dir.filePath(QStringLiteral("nie-ma.KX3"));
    FileResult result = ReadConfigFile(table, missing);
    EXPECT_EQ(result.message, QStringLiteral("Nie można wczytać pliku %1: plik nie istnieje").arg(missing));
    result = ReadConfigFile(table, dir.path());
    EXPECT_EQ(result.message, QStringLiteral("Nie można wczytać pliku %1: to jest folder, a nie plik").arg(dir.path()));
    expectSameTable(untouchedTable(kModelKX3), table);
}

TEST(ConfigFileRead, ToleratesWhatListInputAllows)
{
    // The final line end may be missing; the remarks are still all there.
    // Lines in LF only and empty value lines read as the old reader read them.
    QByteArray golden = readBytes(fixture("golden.KX2"));
    golden.chop(2);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.KX2"));
    writeBytes(path, golden);
    RegisterTable table = untouchedTable(kModelKX2);
    ASSERT_TRUE(ReadConfigFile(table, path).ok);
    EXPECT_EQ(table.Remarks, QStringLiteral("Zakład Łódź"));

    QByteArray lfOnly = "a\nb\nc\nd\ne\nf\n";
    for (int r = 0; r < 64; ++r)
        lfOnly += r == 5 ? QByteArray("\n") : QByteArray("  2.5E1  \n");
    lfOnly += " 0 \n 3 \n\nxyz\n";
    writeBytes(path, lfOnly);
    ASSERT_TRUE(ReadConfigFile(table, path).ok);
    EXPECT_EQ(table.InVer4, QStringLiteral("f"));
    EXPECT_EQ(table.RegValue[4], 25.0f);
    EXPECT_EQ(table.RegValue[5], 0.0f);
    EXPECT_EQ(table.CustomerData, QString());
    EXPECT_EQ(table.Remarks, QStringLiteral("xyz"));
}
