#include "measure/MeasureRecord.h"

#include "config/RegisterTexts.h"
#include "fileio/RecordLines.h"
#include "files/ConfigFile.h"

#include <QStringList>

namespace vardel {

namespace {

QString captionOf(int box)
{
    return measureCaptionOf(box).trimmed();
}

// The value for a box, when the reply carried one.
const MeasuredValue* valueFor(const std::vector<MeasuredValue>& values, int box)
{
    for (const MeasuredValue& v : values) {
        if (v.box == box)
            return &v;
    }
    return nullptr;
}

RecordStyle styleOf(OutputFormat format, bool decimalComma)
{
    return {format == OutputFormat::Json ? RecordFormat::Json : RecordFormat::Csv, decimalComma};
}

QStringList fieldNames(std::int16_t model)
{
    QStringList names{QStringLiteral("Czas")};
    for (int box : measureBoxesOf(model))
        names << captionOf(box);
    return names;
}

// The time, then one field per value of the model (null where missing).
std::vector<RecordValue> valuesRecord(std::int16_t model, const QDateTime& time,
                                      const std::vector<MeasuredValue>& values)
{
    std::vector<RecordValue> record{RecordValue::fromText(timeStampText(time))};
    for (int box : measureBoxesOf(model)) {
        const MeasuredValue* v = valueFor(values, box);
        record.push_back(v ? RecordValue::fromNumber(PointValueText(v->value)) : RecordValue::null());
    }
    return record;
}

} // namespace

QString measureHeaderLine(OutputFormat format, std::int16_t model)
{
    if (format != OutputFormat::Csv)
        return {};
    return recordHeaderLine(styleOf(format, false), fieldNames(model));
}

QString recorderNotesName()
{
    return QStringLiteral("Uwagi");
}

QString recorderFailedNote()
{
    return QStringLiteral("błąd wymiany z miernikiem");
}

QString recorderSkippedNote()
{
    return QStringLiteral("pominięto: łącze zajęte inną wymianą");
}

QString recorderHeaderLine(std::int16_t model)
{
    return recordHeaderLine({}, fieldNames(model) << recorderNotesName());
}

QString recorderRecordLine(std::int16_t model, const QDateTime& time, const std::vector<MeasuredValue>& values,
                           const QString& note)
{
    std::vector<RecordValue> record = valuesRecord(model, time, values);
    record.push_back(note.isEmpty() ? RecordValue::null() : RecordValue::fromText(note));
    return recordLine({}, fieldNames(model) << recorderNotesName(), record);
}

QString measureRecordLine(OutputFormat format, std::int16_t model, const QDateTime& time,
                          const std::vector<MeasuredValue>& values, bool decimalComma)
{
    if (format == OutputFormat::Text) {
        QStringList fields;
        for (const MeasuredValue& v : values)
            fields << captionOf(v.box) + QStringLiteral(": ") + FileValueText(v.value).trimmed();
        return fields.join(QStringLiteral("; "));
    }

    const std::vector<RecordValue> record = valuesRecord(model, time, values);
    return recordLine(styleOf(format, decimalComma), fieldNames(model), record);
}

} // namespace vardel
