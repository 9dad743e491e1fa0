#pragma once

#include "files/ConfigFile.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace vardel {

// Every configuration read from a meter or written to one is kept as a
// configuration file in a history folder, so that what a meter held is never
// lost. The name says when, what and which meter:
//   2026-12-10_10-00-00-123_KX-3_adres-2_odczyt.KX3
// (local time to the millisecond, model, network address, "odczyt" or
// "zapis"); the extension lets `vardel-cli write` take it back as it is. The
// newest kHistoryLimit files are kept, the one just written always among
// them; a name dated after the clock counts by when its file reached the
// disk. Files of other names (impossible dates, addresses above 255 too) are
// neither entries nor removed; a write's temporary file left by a kill is
// removed at the next write.
enum class HistoryKind { Read, Written };

struct HistoryEntry {
    QString path;
    QDateTime time;
    std::int16_t model = 0;
    int address = 0;
    HistoryKind kind = HistoryKind::Read;
};

// A few days of a busy production line (three files a meter: the copy before
// the write, the write, the read-back), a few megabytes of disk.
inline constexpr int kHistoryLimit = 5000;

class ConfigHistory {
public:
    explicit ConfigHistory(QString folder, int limit = kHistoryLimit);

    const QString& folder() const { return m_folder; }

    // Keeps registers 0..RegCount-1 of `table` and its description fields
    // (the folder is made when missing), then lets the oldest files go. The
    // message names the file and the reason when it cannot be written.
    FileResult record(const RegisterTable& table, std::int16_t model, int address, HistoryKind kind,
                      const QDateTime& at = QDateTime::currentDateTime());
    // What is kept, newest first.
    std::vector<HistoryEntry> entries() const;

private:
    QString m_folder;
    int m_limit;
};

// "odczyt" or "zapis", as the file names and the listing say it.
QString historyKindText(HistoryKind kind);

} // namespace vardel
