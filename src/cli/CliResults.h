#pragma once

#include "cli/CliCommands.h"
#include "fileio/RecordLines.h"

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <span>

namespace vardel {

// Where a command's results go. --format text (the default): the lines for
// people, as always. csv and json: one record per result for other programs,
// with the same field names in both; numbers are numbers, and the CSV
// header line comes first even when nothing follows it.
class CliResults {
public:
    CliResults(const CliContext& context, OutputFormat format, QStringList fields);

    // One result: its line for people, or its record (the values in the
    // order of the fields).
    void add(const QString& textLine, std::initializer_list<RecordValue> record);
    void add(const QString& textLine, std::span<const RecordValue> record);
    // The CSV header, once. add() writes it by itself; a command whose
    // results are complete calls it, so that "nothing found" is an empty
    // table rather than no output at all.
    void begin();
    // A closing word for people („Zgodność: …”): a result line among text
    // lines; on stderr beside records, which it would spoil.
    void summary(const QString& line);

    bool records() const { return m_format != OutputFormat::Text; }

private:
    const CliContext& m_context;
    OutputFormat m_format;
    RecordStyle m_style;
    QStringList m_fields;
    bool m_begun = false;
};

} // namespace vardel
