#include "recorder/Recorder.h"

#include "link/Module1.h"
#include "measure/MeasureRecord.h"
#include "measure/MeasureValues.h"

#include <limits>

namespace vardel {

namespace {

// Lets the first failure of an outage through to the real error windows and
// keeps the rest: an error window popping up again every second would bury
// the user's work under it.
class FirstFailureOnly : public ErrorWindows {
public:
    FirstFailureOnly(ErrorWindows* real, bool quiet) : m_real(real), m_quiet(quiet) {}
    void showTransmitError() override
    {
        if (m_real && !m_quiet)
            m_real->showTransmitError();
        m_quiet = true;
    }
    void showReceiveError() override
    {
        if (m_real && !m_quiet)
            m_real->showReceiveError();
        m_quiet = true;
    }

private:
    ErrorWindows* m_real;
    bool m_quiet;
};

// The link reports to the wrapper for one exchange, then to its own windows again.
class ErrorWindowsFor {
public:
    ErrorWindowsFor(Module1& link, ErrorWindows* windows) : m_link(link), m_was(link.errorWindows())
    {
        m_link.setErrorWindows(windows);
    }
    ~ErrorWindowsFor() { m_link.setErrorWindows(m_was); }
    ErrorWindowsFor(const ErrorWindowsFor&) = delete;
    ErrorWindowsFor& operator=(const ErrorWindowsFor&) = delete;

private:
    Module1& m_link;
    ErrorWindows* m_was;
};

} // namespace

Recorder::Recorder(Module1& link) : m_link(link) {}

void Recorder::follow(std::int16_t model, std::int16_t address)
{
    m_model = model;
    m_address = address;
    const auto boxes = measureBoxesOf(model);
    m_boxes.assign(boxes.begin(), boxes.end());
    m_latest.assign(m_boxes.size(), std::numeric_limits<float>::quiet_NaN());
    m_store.reset(static_cast<int>(m_boxes.size()));
    m_hasOrigin = false;
    m_inOutage = false;
}

Recorder::Tick Recorder::tick(qint64 ms, const QDateTime& wall)
{
    Tick t;
    if (m_link.busy())
        return t;
    if (m_link.MeterModel != m_model || m_link.MeterAddress != m_address) {
        // Another meter's values belong to another recording: its columns
        // differ, and one file holds one meter.
        t.meterChanged = m_model >= 0;
        t.fileEnded = m_file.isRecording();
        stopFile();
        follow(m_link.MeterModel, m_link.MeterAddress);
    }
    if (!m_hasOrigin) {
        m_wallOrigin = wall.addMSecs(-ms);
        m_hasOrigin = true;
    }

    MeasureReading reading;
    {
        const Module1::Busy busy(m_link);
        FirstFailureOnly errors(m_link.errorWindows(), m_inOutage);
        const ErrorWindowsFor reporting(m_link, &errors);
        reading = readMeasuredValues(m_link);
    }
    if (reading.flag != 0) {
        m_inOutage = true;
        m_store.appendFailure(ms);
        t.outcome = Outcome::Failed;
        record(measureRecordLine(OutputFormat::Csv, m_model, wall, {}), t);
        return t;
    }
    m_inOutage = false;
    std::vector<float> values(m_boxes.size(), std::numeric_limits<float>::quiet_NaN());
    for (const MeasuredValue& v : reading.values) {
        for (std::size_t c = 0; c < m_boxes.size(); ++c)
            if (m_boxes[c] == v.box)
                values[c] = v.value;
    }
    m_store.append(ms, values);
    m_latest = values;
    t.outcome = Outcome::Recorded;
    record(measureRecordLine(OutputFormat::Csv, m_model, wall, reading.values), t);
    return t;
}

void Recorder::record(const QString& line, Tick& tick)
{
    if (m_file.isRecording())
        m_file.append(line, &tick.fileError);
}

void Recorder::markBreak(qint64 ms)
{
    if (!m_store.empty())
        m_store.appendBreak(ms);
    // After a pause a meter still silent is news again.
    m_inOutage = false;
}

void Recorder::clear()
{
    m_store.reset(m_store.channels());
    m_latest.assign(m_boxes.size(), std::numeric_limits<float>::quiet_NaN());
    m_hasOrigin = false;
}

bool Recorder::startFile(const QString& path, QString* error)
{
    // The header needs the meter; before the first tick that is the one
    // selected now.
    if (m_model < 0 || m_link.MeterModel != m_model || m_link.MeterAddress != m_address)
        follow(m_link.MeterModel, m_link.MeterAddress);
    return m_file.start(path, measureHeaderLine(OutputFormat::Csv, m_model), error);
}

void Recorder::stopFile()
{
    m_file.stop();
}

} // namespace vardel
