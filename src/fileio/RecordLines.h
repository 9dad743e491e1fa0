#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <span>

namespace vardel {

// Results for other programs: one record per line, as CSV (fields separated
// by ';', which a Polish spreadsheet takes as its list separator, with a
// header line of the field names) or as JSON lines (one object per line, the
// fields in the same order under the same names). Only the line is made
// here; where it goes (stdout, a log appended record by record) is the
// caller's business.
enum class RecordFormat { Csv, Json };

// How a command writes its results: lines for people (the default), or
// records for other programs, CSV or JSON lines (--format).
enum class OutputFormat { Text, Csv, Json };

// One field's value. A number is given as its text, already in the form the
// program writes numbers ("0.5", "-12", "1.234568E+07": valid as a JSON
// number as it stands).
struct RecordValue {
    enum class Kind { Text, Number, Bool, Null };
    Kind kind = Kind::Null;
    QString text;

    static RecordValue fromText(const QString& text) { return {Kind::Text, text}; }
    static RecordValue fromNumber(const QString& text) { return {Kind::Number, text}; }
    static RecordValue fromInteger(long long value) { return {Kind::Number, QString::number(value)}; }
    static RecordValue fromBool(bool value)
    {
        return {Kind::Bool, value ? QStringLiteral("true") : QStringLiteral("false")};
    }
    static RecordValue null() { return {}; }
};

// How the lines are written. decimalComma: CSV numbers with a decimal comma
// ("22,74867") for a spreadsheet in Polish settings; JSON ignores it.
struct RecordStyle {
    RecordFormat format = RecordFormat::Csv;
    bool decimalComma = false;
};

// The CSV header line: the names, ';'-separated. Empty for JSON.
QString recordHeaderLine(const RecordStyle& style, const QStringList& names);

// One record: values[i] under names[i] (the two are equally long).
// CSV: a text is put in double quotes (inner ones doubled) when it holds ';'
// or '"'; a line break in it is written as \n, so that a record never spans
// two lines; null is an empty field. JSON: texts escaped as JSON wants,
// numbers and true/false bare, null as null.
QString recordLine(const RecordStyle& style, const QStringList& names, std::span<const RecordValue> values);

// A time stamp that stays unambiguous across a change of the clocks:
// ISO 8601 with milliseconds and the offset from UTC the time had,
// "2026-10-25T02:59:58.844+02:00" (a UTC time gives "+00:00").
QString timeStampText(const QDateTime& time);

} // namespace vardel
