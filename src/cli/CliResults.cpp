#include "cli/CliResults.h"

#include <utility>

namespace vardel {

CliResults::CliResults(const CliContext& context, OutputFormat format, QStringList fields)
    : m_context(context)
    , m_format(format)
    , m_style{format == OutputFormat::Json ? RecordFormat::Json : RecordFormat::Csv, false}
    , m_fields(std::move(fields))
{
}

void CliResults::begin()
{
    if (!std::exchange(m_begun, true) && m_format == OutputFormat::Csv)
        m_context.out(recordHeaderLine(m_style, m_fields));
}

void CliResults::add(const QString& textLine, std::initializer_list<RecordValue> record)
{
    add(textLine, std::span<const RecordValue>(record.begin(), record.size()));
}

void CliResults::add(const QString& textLine, std::span<const RecordValue> record)
{
    if (!records()) {
        m_context.out(textLine);
        return;
    }
    begin();
    m_context.out(recordLine(m_style, m_fields, record));
}

void CliResults::summary(const QString& line)
{
    if (records())
        m_context.err(line);
    else
        m_context.out(line);
}

} // namespace vardel
