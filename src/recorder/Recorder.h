#pragma once

#include "recorder/CsvRecording.h"
#include "recorder/TrendStore.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace vardel {

class Module1;

// One meter in the recorder: its values' store, the values of its last
// refresh that worked, and its own CSV file. A meter read back from a saved
// file (`review` names the file) is never refreshed and never recorded.
struct RecordedMeter {
    std::int16_t model = -1;
    std::int16_t address = -1;
    std::vector<int> boxes; // box number (1..10, as in the test window) of each value
    TrendStore store;
    std::vector<float> latest; // NaN where missing
    qint64 latestMs = -1;      // when `latest` came, on the store's clock; -1 never
    bool stale = false;        // the last refresh brought no values
    bool inOutage = false;
    CsvRecording file;
    QString review;
    QDateTime reviewOrigin; // the wall clock time of ms 0 of a reviewed file

    RecordedMeter(std::int16_t model, std::int16_t address, std::size_t capacity = kTrendCapacity);
    bool isReview() const { return !review.isEmpty(); }
};

// The recorder's work without a window: at each tick one refresh of the
// measured values of every meter it records, into its store and, while a
// file is recorded for it, into the file (the lines of `vardel-cli measure
// --format csv` and a note column).
//
// It shares the link like every other user: a tick that finds an exchange
// under way skips its turn, and says so in the stores and files. A failed
// exchange marks a gap and shows the link's error window once: not again at
// every tick of the same outage, but again after a refresh that worked. The
// recorder goes on at the next tick.
//
// The meters are those of one link (the main window's card, baud rate and
// transmit check), each at its own model and address. The first tick takes
// the meter selected in the main window; another meter selected there later
// is only offered (`offered`): the meters recorded and their trends stay
// until the user adds or removes one.
class Recorder {
public:
    explicit Recorder(Module1& link);
    ~Recorder();

    enum class Outcome {
        Skipped,   // the link was busy: nothing read
        Recorded,  // values stored (some may be missing from a short reply)
        Failed,    // an exchange failed: a gap
    };
    struct Tick {
        Outcome outcome = Outcome::Skipped;
        std::vector<std::size_t> failed; // meters whose exchange failed
        QString fileError;               // a file could not be written: its recording ended
    };

    // One refresh at `ms` on the steady clock, `wall` being the same moment
    // on the wall clock (for the files and the time axis).
    Tick tick(qint64 ms, const QDateTime& wall);

    // Marks a refresh that did not happen at `ms`: the link was busy, or
    // the previous refresh was still under way when this one was due. The
    // error of a file that could not be written (its recording ended).
    QString skip(qint64 ms, const QDateTime& wall);
    // The models of the meters each refresh reads (before the first: the
    // one selected in the main window), for the time one refresh takes.
    std::vector<std::int16_t> liveModels() const;

    std::size_t meterCount() const { return m_meters.size(); }
    const RecordedMeter& meter(std::size_t i) const { return *m_meters[i]; }
    // The meter of that model and address among those recorded (not the
    // reviewed files); meterCount() when none.
    std::size_t find(std::int16_t model, std::int16_t address) const;
    // Starts recording a meter of the link too (an empty trend); the index.
    std::size_t addMeter(std::int16_t model, std::int16_t address);
    // Drops a meter with its trend; its file ends, whole.
    void removeMeter(std::size_t i);
    // A recording read back from a CSV file, beside the live meters.
    std::size_t addReview(std::unique_ptr<RecordedMeter> reviewed);
    // The meter selected in the main window when the recorder does not
    // record it (and the user has not declined it); nothing otherwise.
    bool offered(std::int16_t* model, std::int16_t* address) const;
    void decline(std::int16_t model, std::int16_t address);

    // The meter shown (the accessors below are about it).
    std::size_t current() const { return m_current; }
    void setCurrent(std::size_t i);
    const RecordedMeter& shownMeter() const { return shown(); }

    std::int16_t model() const { return shown().model; }
    std::int16_t meterAddress() const { return shown().address; }
    const std::vector<int>& boxes() const { return shown().boxes; }
    const TrendStore& store() const { return shown().store; }
    const std::vector<float>& latest() const { return shown().latest; }
    const CsvRecording& file() const { return shown().file; }

    // The wall clock time of ms on the stores' clock (for the time axis).
    QDateTime wallTime(qint64 ms) const
    {
        return (shown().isReview() ? shown().reviewOrigin : m_wallOrigin).addMSecs(ms);
    }

    // No line across this moment: the recording was paused. A failure after
    // it shows the error window again.
    void markBreak(qint64 ms);
    // Forgets every sample of the live meters (files being recorded go on).
    void clear();

    // A file for the meter shown (before the first tick: the one selected
    // in the main window).
    bool startFile(const QString& path, QString* error);
    void stopFile();
    void stopFiles();

private:
    RecordedMeter& shown();
    const RecordedMeter& shown() const;
    void adoptSelected();
    void refresh(RecordedMeter& m, qint64 ms, const QDateTime& wall, Tick& t, std::size_t index);
    static void record(RecordedMeter& m, const QString& line, Tick& tick);

    Module1& m_link;
    std::vector<std::unique_ptr<RecordedMeter>> m_meters;
    std::size_t m_current = 0;
    RecordedMeter m_none{-1, -1, 1};
    QDateTime m_wallOrigin;
    bool m_hasOrigin = false;
    std::int16_t m_declinedModel = -1;
    std::int16_t m_declinedAddress = -1;
};

} // namespace vardel
