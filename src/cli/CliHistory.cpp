#include "cli/CliHistory.h"

#include "cli/CliResults.h"
#include "files/ConfigHistory.h"
#include "fileio/RecordLines.h"

#include <QDir>
#include <QFileInfo>

namespace vardel {

int runHistory(const QString& folder, const CliOptions& options, const CliContext& context)
{
    const QString shownFolder = QDir::toNativeSeparators(QDir(folder).absolutePath());
    const std::vector<HistoryEntry> kept = ConfigHistory(folder).entries();
    CliResults results(context, options.format,
                       {QStringLiteral("time"), QStringLiteral("model"), QStringLiteral("address"),
                        QStringLiteral("kind"), QStringLiteral("file")});
    results.begin();
    int listed = 0;
    for (const HistoryEntry& e : kept) {
        if (context.stopRequested())
            return context.stopExitCode(); // Ctrl+C, or stdout gone: the list is cut, not empty
        if ((options.meterAddress && e.address != *options.meterAddress) || (options.model && e.model != *options.model))
            continue;
        const QString file = QDir::toNativeSeparators(QFileInfo(e.path).absoluteFilePath());
        results.add(QStringLiteral("%1 %2 adres %3 %4 %5")
                        .arg(e.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), modelNameOf(e.model))
                        .arg(e.address)
                        .arg(historyKindText(e.kind), file),
                    {RecordValue::fromText(timeStampText(e.time)), RecordValue::fromText(modelNameOf(e.model)),
                     RecordValue::fromInteger(e.address),
                     RecordValue::fromText(e.kind == HistoryKind::Read ? QStringLiteral("read") : QStringLiteral("written")),
                     RecordValue::fromText(file)});
        ++listed;
    }
    if (context.stopRequested())
        return context.stopExitCode();
    if (kept.empty()) {
        context.err(QStringLiteral("Brak zapisanych konfiguracji w %1.").arg(shownFolder));
    } else if (listed == 0) {
        // There is a history, only not of the meter asked about.
        QStringList asked;
        if (options.meterAddress)
            asked << QStringLiteral("adres %1").arg(*options.meterAddress);
        if (options.model)
            asked << QStringLiteral("model %1").arg(modelNameOf(*options.model));
        context.err(QStringLiteral("Żadna z zapisanych konfiguracji w %1 nie dotyczy miernika: %2.")
                        .arg(shownFolder, asked.join(QStringLiteral(", "))));
    }
    return kExitOk;
}

} // namespace vardel
