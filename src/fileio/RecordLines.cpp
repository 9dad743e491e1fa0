#include "fileio/RecordLines.h"

#include <algorithm>
#include <cstdlib>

namespace vardel {

namespace {

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.replace(QLatin1Char('\r'), QStringLiteral("\\n"));
    return text;
}

QString csvField(const RecordStyle& style, const RecordValue& value)
{
    switch (value.kind) {
    case RecordValue::Kind::Null:
        return {};
    case RecordValue::Kind::Number:
        return style.decimalComma ? QString(value.text).replace(QLatin1Char('.'), QLatin1Char(',')) : value.text;
    case RecordValue::Kind::Bool:
        return value.text;
    case RecordValue::Kind::Text:
        break;
    }
    QString text = oneLine(value.text);
    if (text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

QString jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': out += QStringLiteral("\\\""); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString jsonValue(const RecordValue& value)
{
    switch (value.kind) {
    case RecordValue::Kind::Null:
        return QStringLiteral("null");
    case RecordValue::Kind::Number:
    case RecordValue::Kind::Bool:
        return value.text;
    case RecordValue::Kind::Text:
        break;
    }
    return jsonString(value.text);
}

} // namespace

QString recordHeaderLine(const RecordStyle& style, const QStringList& names)
{
    if (style.format != RecordFormat::Csv)
        return {};
    QStringList fields;
    for (const QString& name : names)
        fields << csvField(style, RecordValue::fromText(name));
    return fields.join(QLatin1Char(';'));
}

QString recordLine(const RecordStyle& style, const QStringList& names, std::span<const RecordValue> values)
{
    QStringList fields;
    const auto n = std::min(static_cast<std::size_t>(names.size()), values.size());
    for (std::size_t i = 0; i < n; ++i) {
        const RecordValue& value = values[i];
        if (style.format == RecordFormat::Csv)
            fields << csvField(style, value);
        else
            fields << jsonString(names[static_cast<qsizetype>(i)]) + QLatin1Char(':') + jsonValue(value);
    }
    if (style.format == RecordFormat::Csv)
        return fields.join(QLatin1Char(';'));
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString timeStampText(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace vardel
