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

} // namespace

QString measureHeaderLine(OutputFormat format, std::int16_t model)
{
    if (format != OutputFormat::Csv)
        return {};
    return recordHeaderLine(styleOf(format, false), fieldNames(model));
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

    std::vector<RecordValue> record{RecordValue::fromText(timeStampText(time))};
    for (int box : measureBoxesOf(model)) {
        const MeasuredValue* v = valueFor(values, box);
        record.push_back(v ? RecordValue::fromNumber(PointValueText(v->value)) : RecordValue::null());
    }
    return recordLine(styleOf(format, decimalComma), fieldNames(model), record);
}

} // namespace vardel
