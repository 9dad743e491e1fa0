#pragma once

#include "recorder/CsvRecording.h"
#include "recorder/TrendStore.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace vardel {

class Module1;

// The recorder's work without a window: one refresh of the selected meter's
// measured values per tick, into the store and, while a file is recorded,
// into its CSV lines (those of `vardel-cli measure --format csv`).
//
// It shares the link like every other user: a tick that finds an exchange
// under way skips its turn. A failed exchange marks a gap and shows the link's
// error window once: not again at every tick of the same outage, but again
// after a refresh that worked. The recorder goes on at the next tick.
class Recorder {
public:
    explicit Recorder(Module1& link);

    enum class Outcome {
        Skipped,   // the link was busy: nothing recorded
        Recorded,  // values stored (some may be missing from a short reply)
        Failed,    // the exchange failed: a gap
    };
    struct Tick {
        Outcome outcome = Outcome::Skipped;
        bool meterChanged = false; // another meter was selected: started afresh
        bool fileEnded = false;    // ... and the file being recorded was ended, whole
        QString fileError;         // the file could not be written: recording ended
    };

    // One refresh at `ms` on the steady clock, `wall` being the same moment
    // on the wall clock (for the file and the time axis).
    Tick tick(qint64 ms, const QDateTime& wall);

    // The meter is the one selected in the main window; it is taken at the
    // first tick and whenever the selection changes (the store then starts
    // afresh and a file being recorded is ended, whole).
    std::int16_t model() const { return m_model; }
    std::int16_t meterAddress() const { return m_address; }
    // Box number (1..10, as in the test window) of each value of the store.
    const std::vector<int>& boxes() const { return m_boxes; }

    const TrendStore& store() const { return m_store; }
    // The wall clock time of ms on the store's clock (for the time axis).
    QDateTime wallTime(qint64 ms) const { return m_wallOrigin.addMSecs(ms); }
    // The values of the last refresh that worked, NaN where missing.
    const std::vector<float>& latest() const { return m_latest; }

    // No line across this moment: the recording was paused. A failure after
    // it shows the error window again.
    void markBreak(qint64 ms);
    // Forgets every sample (the file being recorded goes on).
    void clear();

    bool startFile(const QString& path, QString* error);
    void stopFile();
    const CsvRecording& file() const { return m_file; }

private:
    void follow(std::int16_t model, std::int16_t address);
    void record(const QString& line, Tick& tick);

    Module1& m_link;
    std::int16_t m_model = -1;
    std::int16_t m_address = -1;
    std::vector<int> m_boxes;
    std::vector<float> m_latest;
    TrendStore m_store;
    QDateTime m_wallOrigin;
    bool m_hasOrigin = false;
    bool m_inOutage = false;
    CsvRecording m_file;
};

} // namespace vardel
