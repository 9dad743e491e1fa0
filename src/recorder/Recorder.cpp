#include "recorder/Recorder.h"

#include "link/Module1.h"
#include "measure/MeasureRecord.h"
#include "measure/MeasureValues.h"

#include <algorithm>
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

// The link's selection for one exchange with another meter of it.
class MeterFor {
public:
    MeterFor(Module1& link, std::int16_t model, std::int16_t address)
        : m_link(link), m_model(link.MeterModel), m_address(link.MeterAddress)
    {
        m_link.MeterModel = model;
        m_link.MeterAddress = address;
    }
    ~MeterFor()
    {
        m_link.MeterModel = m_model;
        m_link.MeterAddress = m_address;
    }
    MeterFor(const MeterFor&) = delete;
    MeterFor& operator=(const MeterFor&) = delete;

private:
    Module1& m_link;
    std::int16_t m_model;
    std::int16_t m_address;
};

} // namespace

RecordedMeter::RecordedMeter(std::int16_t model_, std::int16_t address_, std::size_t capacity)
    : model(model_), address(address_), store(0, capacity)
{
    const auto b = measureBoxesOf(model);
    boxes.assign(b.begin(), b.end());
    latest.assign(boxes.size(), std::numeric_limits<float>::quiet_NaN());
    store.reset(static_cast<int>(boxes.size()));
}

Recorder::Recorder(Module1& link) : m_link(link) {}

Recorder::~Recorder() = default;

RecordedMeter& Recorder::shown()
{
    return m_current < m_meters.size() ? *m_meters[m_current] : m_none;
}

const RecordedMeter& Recorder::shown() const
{
    return m_current < m_meters.size() ? *m_meters[m_current] : m_none;
}

void Recorder::setCurrent(std::size_t i)
{
    if (i < m_meters.size())
        m_current = i;
}

std::size_t Recorder::find(std::int16_t model, std::int16_t address) const
{
    for (std::size_t i = 0; i < m_meters.size(); ++i) {
        const RecordedMeter& m = *m_meters[i];
        if (!m.isReview() && m.model == model && m.address == address)
            return i;
    }
    return m_meters.size();
}

std::size_t Recorder::addMeter(std::int16_t model, std::int16_t address)
{
    const std::size_t have = find(model, address);
    if (have < m_meters.size())
        return have;
    m_meters.push_back(std::make_unique<RecordedMeter>(model, address));
    return m_meters.size() - 1;
}

std::size_t Recorder::addReview(std::unique_ptr<RecordedMeter> reviewed)
{
    m_meters.push_back(std::move(reviewed));
    return m_meters.size() - 1;
}

void Recorder::removeMeter(std::size_t i)
{
    if (i >= m_meters.size())
        return;
    m_meters.erase(m_meters.begin() + static_cast<std::ptrdiff_t>(i));
    if (m_current > i || m_current >= m_meters.size())
        m_current = m_current > 0 ? m_current - 1 : 0;
}

bool Recorder::offered(std::int16_t* model, std::int16_t* address) const
{
    const bool anyLive = std::any_of(m_meters.begin(), m_meters.end(), [](const auto& m) { return !m->isReview(); });
    const std::int16_t selModel = m_link.MeterModel;
    const std::int16_t selAddress = m_link.MeterAddress;
    if (!anyLive || find(selModel, selAddress) < m_meters.size()
        || (selModel == m_declinedModel && selAddress == m_declinedAddress))
        return false;
    if (model)
        *model = selModel;
    if (address)
        *address = selAddress;
    return true;
}

void Recorder::decline(std::int16_t model, std::int16_t address)
{
    m_declinedModel = model;
    m_declinedAddress = address;
}

void Recorder::adoptSelected()
{
    for (const auto& m : m_meters)
        if (!m->isReview())
            return;
    const std::size_t i = addMeter(m_link.MeterModel, m_link.MeterAddress);
    if (m_current >= m_meters.size() || !m_meters[m_current]->isReview() || m_meters.size() == 1)
        m_current = i;
}

Recorder::Tick Recorder::tick(qint64 ms, const QDateTime& wall)
{
    Tick t;
    adoptSelected();
    if (m_link.busy()) {
        t.fileError = skip(ms, wall);
        return t;
    }
    if (!m_hasOrigin) {
        m_wallOrigin = wall.addMSecs(-ms);
        m_hasOrigin = true;
    }
    t.outcome = Outcome::Recorded;
    for (std::size_t i = 0; i < m_meters.size(); ++i)
        if (!m_meters[i]->isReview())
            refresh(*m_meters[i], ms, wall, t, i);
    return t;
}

QString Recorder::skip(qint64 ms, const QDateTime& wall)
{
    // Nobody looked at the meters this time: a mark in the plot and a line
    // in the files, so a hole is never taken for a quiet process.
    Tick t;
    if (!m_hasOrigin)
        return {};
    for (auto& m : m_meters) {
        if (m->isReview())
            continue;
        m->store.appendSkipped(ms);
        record(*m, recorderRecordLine(m->model, wall, {}, recorderSkippedNote()), t);
    }
    return t.fileError;
}

std::vector<std::int16_t> Recorder::liveModels() const
{
    std::vector<std::int16_t> models;
    for (const auto& m : m_meters)
        if (!m->isReview())
            models.push_back(m->model);
    if (models.empty())
        models.push_back(m_link.MeterModel);
    return models;
}

void Recorder::refresh(RecordedMeter& m, qint64 ms, const QDateTime& wall, Tick& t, std::size_t index)
{
    MeasureReading reading;
    {
        const Module1::Busy busy(m_link);
        const MeterFor meter(m_link, m.model, m.address);
        FirstFailureOnly errors(m_link.errorWindows(), m.inOutage);
        const ErrorWindowsFor reporting(m_link, &errors);
        reading = readMeasuredValues(m_link);
    }
    if (reading.flag != 0) {
        m.inOutage = true;
        m.stale = true;
        m.store.appendFailure(ms);
        t.outcome = Outcome::Failed;
        t.failed.push_back(index);
        record(m, recorderRecordLine(m.model, wall, {}, recorderFailedNote()), t);
        return;
    }
    m.inOutage = false;
    m.stale = false;
    std::vector<float> values(m.boxes.size(), std::numeric_limits<float>::quiet_NaN());
    for (const MeasuredValue& v : reading.values) {
        for (std::size_t c = 0; c < m.boxes.size(); ++c)
            if (m.boxes[c] == v.box)
                values[c] = v.value;
    }
    m.store.append(ms, values);
    m.latest = values;
    m.latestMs = ms;
    record(m, recorderRecordLine(m.model, wall, reading.values), t);
}

void Recorder::record(RecordedMeter& m, const QString& line, Tick& tick)
{
    if (m.file.isRecording()) {
        QString error;
        if (!m.file.append(line, &error) && tick.fileError.isEmpty())
            tick.fileError = error;
    }
}

void Recorder::markBreak(qint64 ms)
{
    for (auto& m : m_meters) {
        if (m->isReview())
            continue;
        if (!m->store.empty())
            m->store.appendBreak(ms);
        // After a pause a meter still silent is news again.
        m->inOutage = false;
    }
}

void Recorder::clear()
{
    for (auto& m : m_meters) {
        if (m->isReview())
            continue;
        m->store.reset(m->store.channels());
        m->latest.assign(m->boxes.size(), std::numeric_limits<float>::quiet_NaN());
        m->latestMs = -1;
        m->stale = false;
    }
    m_hasOrigin = false;
}

bool Recorder::startFile(const QString& path, QString* error)
{
    // The header needs the meter; before the first tick that is the one
    // selected now.
    adoptSelected();
    RecordedMeter& m = shown();
    if (m.isReview()) {
        if (error)
            *error = QStringLiteral("Zapis przeglądanego pliku nie jest rejestrowany.");
        return false;
    }
    return m.file.start(path, recorderHeaderLine(m.model), error);
}

void Recorder::stopFile()
{
    shown().file.stop();
}

void Recorder::stopFiles()
{
    for (auto& m : m_meters)
        m->file.stop();
}

} // namespace vardel
