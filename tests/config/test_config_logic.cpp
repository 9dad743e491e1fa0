#include "config/ListInput.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "link/Module1.h"
#include "support/TestFiles.h"
#include "support/FakePort.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <variant>
#include <vector>

using namespace vardel;

QT_BEGIN_NAMESPACE
// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

using vardel::test::writeBytes;

QStringList readAllTextFields(const QString& text)
{
    ListInput in(text);
    QStringList fields;
    while (auto f = in.readTextField())
        fields << *f;
    return fields;
}

QByteArray cp1250(const QString& text)
{
    QStringEncoder enc("windows-1250");
    return enc.encode(text);
}

} // namespace

// ---------------------------------------------------------------- list input

TEST(ListInput, TextFields)
{
    struct Case {
        const char* name;
        QString text;
        QStringList fields;
    };
    const std::vector<Case> cases = {
        {"one per line, CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"unquoted comma splits a line", "Zakres, dolny\r\nc", {"Zakres", "dolny", "c"}},
        {"quoted field keeps commas", "\"Zakres We-1, dolna\"\r\nc\r\n", {"Zakres We-1, dolna", "c"}},
        {"leading blanks and tabs skipped", "   a\r\n \tb\r\n", {"a", "b"}},
        {"trailing blanks of unquoted field dropped", "Rezerwa   \r\nx", {"Rezerwa", "x"}},
        {"blanks inside quotes kept", "\" Rezerwa \"\r\n", {" Rezerwa "}},
        {"lone CR, lone LF, CR LF are one line end each", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"CR CR LF is two line ends", "a\r\r\nb", {"a", "", "b"}},
        {"LF CR is two line ends", "a\n\rb", {"a", "", "b"}},
        {"empty lines are empty fields", "a\r\n\r\n\r\nb\r\n", {"a", "", "", "b"}},
        {"comma before line end leaves an empty field", "a,\r\nb", {"a", "", "b"}},
        {"text after closing quote passed over", "\"q\" junk,next\r\n\"r\"  tail\r\ns", {"q", "next", "r", "s"}},
        {"quoted field may span a line end", "\"ab\r\ncd\"\r\ne", {"ab\r\ncd", "e"}},
        {"unterminated quote runs to the end", "\"open, field\r\n", {"open, field\r\n"}},
        {"last line without line end", "a\r\nb", {"a", "b"}},
        {"empty input has no field", "", {}},
        {"Polish letters pass through", "Prędkość\r\n", {"Prędkość"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readAllTextFields(c.text), c.fields) << c.name;
}

TEST(ListInput, NumberFields)
{
    using N = ListInput::Number;
    struct Read {
        N status;
        double value;
    };
    struct Case {
        const char* text;
        std::vector<Read> reads; // read until End
    };
    const std::vector<Case> cases = {
        {" 12.5\r\n-3\r\n", {{N::Ok, 12.5}, {N::Ok, -3}}},
        {".5\r\n5.\r\n+2\r\n", {{N::Ok, 0.5}, {N::Ok, 5}, {N::Ok, 2}}},
        {" 1.234568E+07\r\n 1E-05\r\n1e3\r\n", {{N::Ok, 12345680}, {N::Ok, 1e-5}, {N::Ok, 1000}}},
        {"1 , 2,3\r\n", {{N::Ok, 1}, {N::Ok, 2}, {N::Ok, 3}}},
        {"1 2\r\n", {{N::Ok, 1}, {N::Ok, 2}}},
        {"\r\n7\r\n", {{N::Ok, 0}, {N::Ok, 7}}},
        {"  ,8", {{N::Ok, 0}, {N::Ok, 8}}},
        {"1e-999\r\n", {{N::Ok, 0}}},
        {"abc\r\n4\r\n", {{N::Invalid, -1}, {N::Ok, 4}}},
        {"1.2.3\r\n", {{N::Invalid, -1}}},
        {"1E\r\n", {{N::Invalid, -1}}},
        {"-\r\n", {{N::Invalid, -1}}},
        {".\r\n", {{N::Invalid, -1}}},
        {"12,5x\r\n", {{N::Ok, 12}, {N::Invalid, -1}}},
        {"&H10\r\n", {{N::Invalid, -1}}},
        {"1e999\r\n", {{N::Invalid, -1}}},
        {"inf\r\nnan\r\n", {{N::Invalid, -1}, {N::Invalid, -1}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        ListInput in(QString::fromLatin1(c.text));
        for (std::size_t i = 0; i < c.reads.size(); ++i) {
            double v = -1;
            EXPECT_EQ(in.readNumberField(v), c.reads[i].status) << c.text << " field " << i;
            EXPECT_DOUBLE_EQ(v, c.reads[i].value) << c.text << " field " << i;
        }
        double v = 0;
        EXPECT_EQ(in.readNumberField(v), N::End) << c.text;
    }
}

// The configuration reader mixes numbers, exact character counts and line
// ends; positions and line numbers must stay in step.
TEST(ListInput, MixedReadsCharsAndLineNumbers)
{
    ListInput in(QStringLiteral("Nr 1\r\n 8 \r\n 2 \r\nabc\r\ndef\r\nxy\r\n"));
    EXPECT_EQ(in.lineNumber(), 1);
    EXPECT_EQ(in.readTextField(), QStringLiteral("Nr 1"));
    double l1 = 0, l2 = 0;
    ASSERT_EQ(in.readNumberField(l1), ListInput::Number::Ok);
    ASSERT_EQ(in.readNumberField(l2), ListInput::Number::Ok);
    EXPECT_EQ(in.lineNumber(), 4);
    EXPECT_EQ(in.readChars(static_cast<int>(l1)), QStringLiteral("abc\r\ndef"));
    EXPECT_EQ(in.lineNumber(), 5);
    in.skipLineEnd();
    EXPECT_EQ(in.readChars(0), QString());
    EXPECT_EQ(in.readChars(99), std::nullopt); // too few left: nothing taken
    EXPECT_EQ(in.readChars(static_cast<int>(l2)), QStringLiteral("xy"));
    in.skipLineEnd();
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.lineNumber(), 7);
    in.skipLineEnd(); // harmless at the end
    EXPECT_EQ(in.readTextField(), std::nullopt);

    ListInput mixed(QStringLiteral("a\rb\nc\r\nd"));
    for (int line = 1; line <= 4; ++line) {
        EXPECT_EQ(mixed.lineNumber(), line);
        mixed.readTextField();
    }
}

TEST(ListInput, DecodesWindows1250)
{
    // ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ in code page 1250
    const QByteArray bytes = QByteArray::fromHex("b9e6eab3f1f39c9fbf20a5c6caa3d1d38c8faf");
    EXPECT_EQ(decodeWindows1250(bytes), QStringLiteral("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ"));
}

// ---------------------------------------------------------- register texts

TEST(RegisterTexts, RegisterNumberText)
{
    struct Case {
        std::int16_t model;
        int r;
        const char* text;
    };
    const Case cases[] = {
        {kModelKX2, 0, "   0"},   {kModelKX2, 10, "   A"},    {kModelKX2, 63, "   3F"},
        {kModelKX4, 254, "   FE"}, {kModelKX4, 16, "   10"},  {kModelKX3, 0, "    0"},
        {kModelKX3, 99, "    99"}, {kModelKX3, 10, "    10"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegisterNumberText(c.model, c.r, QStringLiteral("old")), QLatin1String(c.text))
            << c.model << " " << c.r;
    EXPECT_EQ(RegisterNumberText(3, 5, QStringLiteral("old")), QStringLiteral("old"));
    EXPECT_EQ(RegisterNumberText(-1, 5), QString());
}

TEST(RegisterTexts, ValueText)
{
    const QLocale pl(QLocale::Polish, QLocale::Poland);
    const QLocale c = QLocale::c();
    struct Case {
        float value;
        const char* plText;
    };
    const Case cases[] = {
        {12.5f, "12,5"},
        {0.5f, "0,5"},
        {-0.25f, "-0,25"},
        {-3.0f, "-3"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {123.456f, "123,456"},
        {1000000.0f, "1000000"},
        {9999999.0f, "9999999"},
        {10000000.0f, "1E+07"},
        {12345678.0f, "1,234568E+07"},
        {-12345678.0f, "-1,234568E+07"},
        {0.0001f, "0,0001"},
        {0.00012345678f, "0,0001234568"},
        {0.00001f, "1E-05"},
        {0.00009999999f, "9,999999E-05"},
        {0.000099999994f, "0,0001"}, // rounds up into fixed notation
        {1.0000001f, "1"},
        {1.9999999f, "2"},            // rounding carries into the units
        {99999992.0f, "9,999999E+07"},
        {FLT_MAX, "3,402823E+38"},
        {-FLT_MAX, "-3,402823E+38"},
        {std::numeric_limits<float>::infinity(), "3,402823E+38"},
        {std::numeric_limits<float>::denorm_min(), "1,401298E-45"},
        {FLT_MIN, "1,175494E-38"},
        {1e-10f, "1E-10"},
    };
    for (const auto& k : cases) {
        const QString plText = QString::fromLatin1(k.plText);
        EXPECT_EQ(ValueText(k.value, pl), plText) << k.value;
        EXPECT_EQ(ValueText(k.value, c), QString(plText).replace(',', '.')) << k.value;
    }
}

TEST(RegisterTexts, ParseValue)
{
    struct Case {
        QString text;
        float value;
    };
    const std::vector<Case> cases = {
        {"12,5", 12.5f},
        {"1,234,5", 1.234f},
        {" -3.5E2 V", -350.0f},
        {"abc", 0.0f},
        {"&h1F", 31.0f},
        {"&HFFFF", 65535.0f},
        {"&o17", 15.0f},
        {"&17", 15.0f},
        {"&H", 0.0f},
        {"-&H1F", 0.0f},
        {"1 000", 1000.0f},
        {"", 0.0f},
        {"1e3", 1000.0f},
        {"1D2", 100.0f},
        {"2d-1", 0.2f},
        {"1E", 1.0f},
        {"1E+", 1.0f},
        {"+ 4", 4.0f},
        {"- 3", -3.0f},
        {"1\t2\n3", 123.0f},
        {"12\r34", 12.0f}, // a carriage return is not invisible to Val
        {".5", 0.5f},
        {"0,0001234568", 0.0001234568f},
        {".", 0.0f},
        {"-", 0.0f},
        {"1.5.5", 1.5f},
        {"0x10", 0.0f},
        {"1e39", FLT_MAX},
        {"-1e400", -FLT_MAX},
        {"1E99999999999999999999", FLT_MAX},
        {"1e-50", 0.0f},
        {"1e-99999999999999999999", 0.0f},
        {"3.4028235E+38", FLT_MAX},
        {QString(500, '9'), FLT_MAX},
        {"0." + QString(500, '0') + "1", 0.0f},
        {"&H" + QString(40, 'F'), FLT_MAX},
        {"1,401298E-45", std::numeric_limits<float>::denorm_min()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseValue(c.text), c.value) << c.text.toStdString();
}

// Whatever the grid shows, the editor must read back: in a comma locale, a
// point locale and one whose own separator Val does not know.
TEST(RegisterTexts, ValueTextReadsBackInEveryLocale)
{
    std::vector<float> values = {
        0.0f, 1.0f, -1.0f, 0.5f, 0.1f, 1e-4f, 9.99995e-5f, 1e7f, 9999999.0f, 9999999.5e-4f,
        FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, std::numeric_limits<float>::denorm_min(),
        -std::numeric_limits<float>::denorm_min(), 3e-40f, 1.0000001f, 16777217.0f,
        std::ldexp(1.0f, -10), std::ldexp(1.0f, 20),
    };
    std::mt19937 rng(1250);
    for (int i = 0; i < 20000; ++i) {
        const auto bits = static_cast<std::uint32_t>(rng());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f))
            values.push_back(f);
    }
    std::uniform_real_distribution<float> everyday(-100000.0f, 100000.0f);
    for (int i = 0; i < 5000; ++i)
        values.push_back(everyday(rng));

    const QLocale locales[] = {QLocale(QLocale::Polish, QLocale::Poland), QLocale::c(),
                               QLocale(QLocale::Arabic, QLocale::Egypt)};
    for (const QLocale& loc : locales) {
        for (const float x : values) {
            const QString text = ValueText(x, loc);
            const float back = ParseValue(text);
            // 7 significant digits lose at most half a unit of the 7th digit,
            // the rounding to single precision half an ulp on top.
            const float ulp = std::nextafter(std::fabs(x), FLT_MAX) - std::fabs(x);
            const double bound = 5e-7 * std::fabs(static_cast<double>(x)) + static_cast<double>(ulp);
            ASSERT_LE(std::fabs(static_cast<double>(back) - static_cast<double>(x)), bound)
                << loc.name().toStdString() << " " << text.toStdString();
            ASSERT_FALSE(text.startsWith(' ')) << text.toStdString();
        }
    }
    EXPECT_EQ(ValueText(0.5f, QLocale(QLocale::Arabic, QLocale::Egypt)), QStringLiteral("0.5"));
}

// ---------------------------------------------------------- register names

class RegisterNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        table.RegCount = regCountOf(kModelKX2);
        table.NamesFile = dir.filePath(QStringLiteral("KX2_NAME.TXT"));
        for (int r = 0; r < kRegisterSlots; ++r)
            table.RegName[static_cast<std::size_t>(r)] = QStringLiteral("stara %1").arg(r);
    }
    // count numbered names "N0".."N<count-1>", one per line
    static QString numbered(int count)
    {
        QString text;
        for (int r = 0; r < count; ++r)
            text += QStringLiteral("N%1\r\n").arg(r);
        return text;
    }

    QTemporaryDir dir;
    RegisterTable table;
};

TEST_F(RegisterNames, ShippedFilesHoldExactlyRegCountNames)
{
    test::FakePort port;
    Module1 link(port);
    for (std::int16_t model : {kModelKX2, kModelKX3, kModelKX4}) {
        SCOPED_TRACE(model);
        RegisterTable t;
        selectModel(link, t, model, QStringLiteral(VARDEL_SOURCE_DIR "/data"));
        const NamesLoad load = LoadRegisterNames(t);
        EXPECT_TRUE(load.ok) << load.message.toStdString();
        EXPECT_EQ(load.namesRead, t.RegCount);
        EXPECT_TRUE(load.message.isEmpty());

        QFile f(t.NamesFile);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        // Exactly RegCount lines, each ended by CR LF, and nothing else.
        EXPECT_EQ(bytes.count("\r\n"), t.RegCount);
        EXPECT_EQ(bytes.count('\n'), t.RegCount);
        EXPECT_EQ(bytes.count('\r'), t.RegCount);
        EXPECT_TRUE(bytes.endsWith("\r\n"));
        // Code page 1250, not UTF-8.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString asUtf8 = utf8.decode(bytes);
        EXPECT_TRUE(utf8.hasError());

        int reserved = 0;
        bool withComma = false;
        bool polish = false;
        for (int r = 0; r < t.RegCount; ++r) {
            const QString& name = t.RegName[static_cast<std::size_t>(r)];
            EXPECT_FALSE(name.trimmed().isEmpty()) << r;
            EXPECT_FALSE(name.contains('"')) << r;
            reserved += isReservedName(name) ? 1 : 0;
            withComma = withComma || name.contains(',');
            polish = polish || name.contains(QStringLiteral("ść"));
        }
        EXPECT_GT(reserved, 0);
        EXPECT_LT(reserved, t.RegCount / 2 + 1);
        EXPECT_TRUE(withComma);
        EXPECT_TRUE(polish);
        if (t.RegCount < kRegisterSlots) { // nothing read past RegCount
            EXPECT_TRUE(t.RegName[static_cast<std::size_t>(t.RegCount)].isEmpty());
        }
    }
    RegisterTable kx3;
    selectModel(link, kx3, kModelKX3, QStringLiteral(VARDEL_SOURCE_DIR "/data"));
    LoadRegisterNames(kx3);
    EXPECT_EQ(kx3.RegName[0], QStringLiteral("Adres sieciowy miernika"));
}

// The registers that set a meter's own link are known to the program by
// number (scan, the simulated meters, the write guard); the names files
// are what a technician reads. They must say the same.
TEST_F(RegisterNames, LinkRegistersAreWhereTheNamesFilesNameThem)
{
    test::FakePort port;
    Module1 link(port);
    const QString address = QStringLiteral("Adres sieciowy miernika");
    const QString baud = QStringLiteral("Prędkość transmisji (kod)");
    const QString check = QStringLiteral("Kontrola nadawania");
    // The write guard names them so in its messages.
    EXPECT_EQ(QString::fromUtf8(kLinkAddressName), address);
    EXPECT_EQ(QString::fromUtf8(kLinkBaudCodeName), baud);
    EXPECT_EQ(QString::fromUtf8(kLinkTransmitCheckName), check);
    const QString response = QStringLiteral("Czas odpowiedzi miernika [ms]");
    for (const MeterModelInfo& model : meterModels()) {
        SCOPED_TRACE(model.name);
        RegisterTable t;
        selectModel(link, t, model.model, QStringLiteral(VARDEL_SOURCE_DIR "/data"));
        ASSERT_TRUE(LoadRegisterNames(t).ok);
        const auto nameAt = [&t](int r) { return r < 0 ? QString() : t.RegName[static_cast<std::size_t>(r)].trimmed(); };
        const auto firstNamed = [&t](const QString& name) {
            for (int r = 0; r < t.RegCount; ++r) {
                if (t.RegName[static_cast<std::size_t>(r)].trimmed() == name)
                    return r;
            }
            return -1;
        };
        EXPECT_EQ(firstNamed(address), model.link.address);
        EXPECT_EQ(nameAt(model.link.baudCode), baud);
        EXPECT_EQ(nameAt(model.link.transmitCheck), check);
        EXPECT_EQ(nameAt(model.link.responseTime), response);
    }
}

TEST_F(RegisterNames, MissingFileLeavesNamesAndSaysSo)
{
    const NamesLoad load = LoadRegisterNames(table);
    EXPECT_FALSE(load.ok);
    EXPECT_EQ(load.namesRead, 0);
    EXPECT_EQ(load.message, QStringLiteral("Nie znaleziono pliku nazw rejestrów: ") + table.NamesFile);
    EXPECT_EQ(table.RegName[0], QStringLiteral("stara 0"));

    table.NamesFile.clear();
    EXPECT_FALSE(LoadRegisterNames(table).ok);

    table.NamesFile = dir.path(); // a folder cannot be read as a file
    EXPECT_FALSE(LoadRegisterNames(table).ok);
    EXPECT_EQ(table.RegName[0], QStringLiteral("stara 0"));
}

TEST_F(RegisterNames, ShortFileKeepsEarlierNames)
{
    writeBytes(table.NamesFile, cp1250(QStringLiteral("Adres\r\nPrędkość\r\nTyp")));
    const NamesLoad load = LoadRegisterNames(table);
    EXPECT_FALSE(load.ok);
    EXPECT_EQ(load.namesRead, 3);
    EXPECT_EQ(load.message,
              QStringLiteral("Plik nazw rejestrów %1 zawiera tylko 3 z 64 nazw.").arg(table.NamesFile));
    EXPECT_EQ(table.RegName[1], QStringLiteral("Prędkość"));
    EXPECT_EQ(table.RegName[2], QStringLiteral("Typ"));
    EXPECT_EQ(table.RegName[3], QStringLiteral("stara 3"));
    EXPECT_EQ(table.RegName[63], QStringLiteral("stara 63"));

    writeBytes(table.NamesFile, QByteArray());
    const NamesLoad empty = LoadRegisterNames(table);
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.namesRead, 0);
    EXPECT_EQ(table.RegName[0], QStringLiteral("Adres"));
}

TEST_F(RegisterNames, ExtraLinesIgnored)
{
    writeBytes(table.NamesFile, cp1250(numbered(70)));
    const NamesLoad load = LoadRegisterNames(table);
    EXPECT_TRUE(load.ok);
    EXPECT_EQ(load.namesRead, 64);
    EXPECT_EQ(table.RegName[63], QStringLiteral("N63"));
    EXPECT_EQ(table.RegName[64], QStringLiteral("stara 64"));
}

TEST_F(RegisterNames, UnquotedCommaShiftsFollowingNames)
{
    writeBytes(table.NamesFile, cp1250("A\r\nZakres We-1, dolna\r\n\"Zakres We-1, górna\"\r\n" + numbered(64)));
    ASSERT_TRUE(LoadRegisterNames(table).ok);
    EXPECT_EQ(table.RegName[1], QStringLiteral("Zakres We-1"));
    EXPECT_EQ(table.RegName[2], QStringLiteral("dolna"));
    EXPECT_EQ(table.RegName[3], QStringLiteral("Zakres We-1, górna"));
    EXPECT_EQ(table.RegName[4], QStringLiteral("N0")); // one register later than its line
}

TEST_F(RegisterNames, ReservedMarksOnlyExactRezerwa)
{
    writeBytes(table.NamesFile,
              cp1250("Rezerwa\r\nRezerwa   \r\n\"Rezerwa \"\r\nrezerwa\r\nREZERWA\r\n   Rezerwa\r\n"
                     "Rezerwa 2\r\n\"Rezerwa\"\r\n"
                     + numbered(64)));
    ASSERT_TRUE(LoadRegisterNames(table).ok);
    const bool expected[] = {true, true, false, false, false, true, false, true};
    for (std::size_t r = 0; r < std::size(expected); ++r)
        EXPECT_EQ(isReservedName(table.RegName[r]), expected[r]) << r << " " << table.RegName[r].toStdString();
}

TEST(RegisterTable, SelectModelKeepsValueSlots)
{
    test::FakePort port;
    Module1 link(port);
    RegisterTable table;
    selectModel(link, table, kModelKX4, QStringLiteral("/prog"));
    for (int r = 0; r < kRegisterSlots; ++r)
        table.RegValue[static_cast<std::size_t>(r)] = static_cast<float>(r) + 0.5f;

    selectModel(link, table, kModelKX2, QStringLiteral("/prog"));
    EXPECT_EQ(table.RegCount, 64);
    EXPECT_EQ(table.NamesFile, QStringLiteral("/prog/KX2_NAME.TXT"));
    EXPECT_EQ(table.RegValue[64], 64.5f);
    EXPECT_EQ(table.RegValue[254], 254.5f);

    selectModel(link, table, 7, QStringLiteral("/other")); // unknown model: nothing changes
    EXPECT_EQ(link.MeterModel, kModelKX2);
    EXPECT_EQ(table.RegCount, 64);

    selectModel(link, table, kModelKX4, QStringLiteral("/prog"));
    EXPECT_EQ(table.RegCount, 255);
    EXPECT_EQ(table.ModelTag, QStringLiteral("KX4"));
    for (int r = 0; r < kRegisterSlots; ++r)
        EXPECT_EQ(table.RegValue[static_cast<std::size_t>(r)], static_cast<float>(r) + 0.5f) << r;
}
