#include "recorder/CsvReview.h"

#include "measure/MeasureRecord.h"
#include "measure/MeasureValues.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <limits>

namespace vardel {

namespace {

QString unquoted(QString field)
{
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        field = field.mid(1, field.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return field;
}

// The model whose captions the header lists, in order; -1 when none.
std::int16_t modelOfHeader(const QStringList& captions)
{
    for (std::int16_t model = 0; model <= 2; ++model) {
        QStringList want;
        for (int box : measureBoxesOf(model))
            want << measureCaptionOf(box).trimmed();
        if (want == captions)
            return model;
    }
    return -1;
}

bool fail(QString* error, const QString& path, const QString& reason)
{
    if (error)
        *error = QStringLiteral("Nie można wczytać pliku %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

} // namespace

std::unique_ptr<RecordedMeter> readRecording(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, path, file.errorString());
        return nullptr;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QStringList head = lines.value(0).trimmed().split(QLatin1Char(';'));
    const bool notes = !head.isEmpty() && head.last() == recorderNotesName();
    if (notes)
        head.removeLast();
    if (head.isEmpty() || head.takeFirst() != QStringLiteral("Czas")) {
        fail(error, path, QStringLiteral("to nie jest zapis pomiarów (pierwszy wiersz nie zaczyna się od „Czas”)"));
        return nullptr;
    }
    const std::int16_t model = modelOfHeader(head);
    if (model < 0) {
        fail(error, path, QStringLiteral("nagłówek nie odpowiada wartościom żadnego miernika KX-2, KX-3 ani KX-4"));
        return nullptr;
    }

    auto meter = std::make_unique<RecordedMeter>(model, static_cast<std::int16_t>(-1));
    meter->review = path;
    const int channels = static_cast<int>(head.size());
    const qsizetype fields = 1 + channels + (notes ? 1 : 0);
    std::vector<float> values(static_cast<std::size_t>(channels));
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty())
            continue;
        const QString where = QStringLiteral("wiersz %1").arg(n + 1);
        const QStringList f = line.split(QLatin1Char(';'));
        if (f.size() != fields) {
            fail(error, path, QStringLiteral("%1 ma %2 pól zamiast %3").arg(where).arg(f.size()).arg(fields));
            return nullptr;
        }
        const QDateTime time = QDateTime::fromString(unquoted(f[0]), Qt::ISODateWithMs);
        if (!time.isValid()) {
            fail(error, path, QStringLiteral("nieprawidłowy czas w wierszu %1").arg(n + 1));
            return nullptr;
        }
        if (!meter->reviewOrigin.isValid())
            meter->reviewOrigin = time;
        const qint64 ms = meter->reviewOrigin.msecsTo(time);
        bool anyValue = false;
        for (int c = 0; c < channels; ++c) {
            const QString text = f[c + 1].trimmed();
            values[static_cast<std::size_t>(c)] = std::numeric_limits<float>::quiet_NaN();
            if (text.isEmpty())
                continue;
            bool ok = false;
            const float v = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toFloat(&ok);
            if (!ok) {
                fail(error, path, QStringLiteral("nieprawidłowa liczba w wierszu %1").arg(n + 1));
                return nullptr;
            }
            values[static_cast<std::size_t>(c)] = v;
            anyValue = true;
        }
        if (anyValue) {
            meter->store.append(ms, values);
            meter->latest = values;
            meter->latestMs = ms;
        } else if (notes && unquoted(f.last()) == recorderSkippedNote()) {
            meter->store.appendSkipped(ms);
        } else {
            meter->store.appendFailure(ms);
        }
    }
    if (meter->store.empty()) {
        fail(error, path, QStringLiteral("plik nie zawiera żadnego odczytu"));
        return nullptr;
    }
    return meter;
}

} // namespace vardel
