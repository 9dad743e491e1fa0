#include "cli/CliHistory.h"

#include "files/ConfigHistory.h"

#include <QDir>
#include <QFileInfo>

namespace vardel {

int runHistory(const QString& folder, const CliOptions& options, const CliContext& context)
{
    int listed = 0;
    for (const HistoryEntry& e : ConfigHistory(folder).entries()) {
        if (context.stopRequested())
            break; // Ctrl+C, or stdout gone
        if ((options.meterAddress && e.address != *options.meterAddress) || (options.model && e.model != *options.model))
            continue;
        context.out(QStringLiteral("%1 %2 adres %3 %4 %5")
                        .arg(e.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), modelNameOf(e.model))
                        .arg(e.address)
                        .arg(historyKindText(e.kind), QDir::toNativeSeparators(QFileInfo(e.path).absoluteFilePath())));
        ++listed;
    }
    if (listed == 0)
        context.err(QStringLiteral("Brak zapisanych konfiguracji w %1.").arg(QDir::toNativeSeparators(QDir(folder).absolutePath())));
    return kExitOk;
}

} // namespace vardel
