// Records for other programs: CSV and JSON lines, and time stamps that stay
// in order across a change of the clocks.
#include "fileio/RecordLines.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <vector>

using namespace vardel;

namespace {

const QStringList kNames{QStringLiteral("address"), QStringLiteral("name"), QStringLiteral("value"),
                         QStringLiteral("ready"), QStringLiteral("note")};

TEST(RecordLines, CsvAndJsonCarryTheSameFields)
{
    struct Case {
        RecordValue name;
        const char* csv;  // the line
        const char* json; // the line
    };
    const Case cases[] = {
        {RecordValue::fromText(QStringLiteral("Zakład Łódź")), "3;Zakład Łódź;0.5;true;",
         R"({"address":3,"name":"Zakład Łódź","value":0.5,"ready":true,"note":null})"},
        // A separator or a quote in a text: quoted, the quote doubled.
        {RecordValue::fromText(QStringLiteral("a;b \"c\"")), "3;\"a;b \"\"c\"\"\";0.5;true;",
         R"({"address":3,"name":"a;b \"c\"","value":0.5,"ready":true,"note":null})"},
        // A line break never splits a CSV record; JSON keeps it exactly.
        {RecordValue::fromText(QStringLiteral("ul. Długa 1\r\nŁódź\\")), "3;ul. Długa 1\\nŁódź\\;0.5;true;",
         R"({"address":3,"name":"ul. Długa 1\r\nŁódź\\","value":0.5,"ready":true,"note":null})"},
        {RecordValue::fromText(QString(QChar(1))), "3;\x01;0.5;true;",
         R"({"address":3,"name":"\u0001","value":0.5,"ready":true,"note":null})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.csv);
        const std::vector<RecordValue> values{RecordValue::fromInteger(3), c.name, RecordValue::fromNumber("0.5"),
                                              RecordValue::fromBool(true), RecordValue::null()};
        EXPECT_EQ(recordLine({RecordFormat::Csv}, kNames, values), QString::fromUtf8(c.csv));
        const QString json = recordLine({RecordFormat::Json}, kNames, values);
        EXPECT_EQ(json, QString::fromUtf8(c.json));

        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        const QJsonObject object = doc.object();
        EXPECT_EQ(object.keys().size(), kNames.size());
        EXPECT_EQ(object.value(QStringLiteral("name")).toString(), c.name.text);
        EXPECT_EQ(object.value(QStringLiteral("value")).toDouble(), 0.5);
        EXPECT_TRUE(object.value(QStringLiteral("note")).isNull());
    }
    EXPECT_EQ(recordHeaderLine({RecordFormat::Csv}, kNames), QStringLiteral("address;name;value;ready;note"));
    EXPECT_EQ(recordHeaderLine({RecordFormat::Json}, kNames), QString());
}

TEST(RecordLines, DecimalCommaChangesOnlyCsvNumbers)
{
    const QStringList names{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const std::vector<RecordValue> values{RecordValue::fromNumber("22.74867"), RecordValue::fromNumber("1.234568E+07"),
                                          RecordValue::fromText("v1.2")};
    EXPECT_EQ(recordLine({RecordFormat::Csv, true}, names, values), QStringLiteral("22,74867;1,234568E+07;v1.2"));
    EXPECT_EQ(recordLine({RecordFormat::Json, true}, names, values),
              QStringLiteral(R"({"a":22.74867,"b":1.234568E+07,"c":"v1.2"})"));
}

TEST(RecordLines, TimeStampsCarryTheirOffsetAcrossTheAutumnChange)
{
    // 25 October 2026: Warsaw's clocks go back from 03:00 to 02:00, so the
    // hour from 02:00 comes twice; the offset tells the two apart.
    const QTimeZone warsaw("Europe/Warsaw");
    ASSERT_TRUE(warsaw.isValid());
    const QDateTime changeUtc(QDate(2026, 10, 25), QTime(1, 0), QTimeZone::utc());
    struct Case {
        qint64 msFromChange;
        QTimeZone zone;
        const char* text;
    };
    const Case cases[] = {
        {-1156, warsaw, "2026-10-25T02:59:58.844+02:00"},
        {1000, warsaw, "2026-10-25T02:00:01.000+01:00"},
        {1000, QTimeZone::utc(), "2026-10-25T01:00:01.000+00:00"},
        {0, QTimeZone("America/St_Johns"), "2026-10-24T22:30:00.000-02:30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(c.zone.isValid());
        EXPECT_EQ(timeStampText(changeUtc.addMSecs(c.msFromChange).toTimeZone(c.zone)), QString::fromUtf8(c.text));
    }
}

} // namespace
