#include "measure/MeasureRecord.h"

#include "config/RegisterTexts.h"
#include "files/ConfigFile.h"

#include <QStringList>

namespace vardel {

namespace {

const QString kTimeCaption = QStringLiteral("Czas");

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

QString numberText(float value)
{
    return SevenDigitText(value, QLatin1Char('.'), true);
}

} // namespace

QString measureHeaderLine(MeasureFormat format, std::int16_t model)
{
    if (format != MeasureFormat::Csv)
        return {};
    QStringList fields{kTimeCaption};
    for (int box : measureBoxesOf(model))
        fields << captionOf(box);
    return fields.join(QLatin1Char(';'));
}

QString measureRecordLine(MeasureFormat format, std::int16_t model, const QDateTime& time,
                          const std::vector<MeasuredValue>& values)
{
    if (format == MeasureFormat::Text) {
        QStringList fields;
        for (const MeasuredValue& v : values)
            fields << captionOf(v.box) + QStringLiteral(": ") + FileValueText(v.value).trimmed();
        return fields.join(QStringLiteral("; "));
    }

    const QString stamp = time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    QStringList fields;
    if (format == MeasureFormat::Csv) {
        fields << stamp;
        for (int box : measureBoxesOf(model)) {
            const MeasuredValue* v = valueFor(values, box);
            fields << (v ? numberText(v->value) : QString());
        }
        return fields.join(QLatin1Char(';'));
    }
    // The captions are plain words: nothing in them needs escaping.
    fields << QStringLiteral("\"%1\":\"%2\"").arg(kTimeCaption, stamp);
    for (int box : measureBoxesOf(model)) {
        const MeasuredValue* v = valueFor(values, box);
        fields << QStringLiteral("\"%1\":%2").arg(captionOf(box), v ? numberText(v->value) : QStringLiteral("null"));
    }
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

} // namespace vardel
