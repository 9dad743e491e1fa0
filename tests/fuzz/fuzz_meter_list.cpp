// The gateway's meter list, as an administrator might have typed it (or a
// file that was never one).
#include "fuzz/FuzzSupport.h"
#include "gateway/MeterList.h"
#include "link/MeterModels.h"

#include <QRegularExpression>

#include <set>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<MeterListEntry> entries;
    int line = -1;
    QString error;
    const qsizetype lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r"))).size();
    if (!parseMeterList(text, entries, line, error)) {
        // A refusal keeps nothing and names a line of the text (0: the whole).
        FUZZ_CHECK(entries.empty() && !error.isEmpty() && line >= 0 && line <= lines);
        return 0;
    }
    FUZZ_CHECK(!entries.empty());
    std::set<int> units;
    int last = 0;
    for (const MeterListEntry& e : entries) {
        FUZZ_CHECK(e.address >= kFirstUnit && e.address <= kLastUnit);
        FUZZ_CHECK(units.insert(e.address).second); // one meter a unit
        FUZZ_CHECK(e.line > last && e.line <= lines);
        last = e.line;
        FUZZ_CHECK(!e.model || meterModelInfo(*e.model) != nullptr);
        FUZZ_CHECK(!e.baudCode || baudRateOf(*e.baudCode) != 0);
        FUZZ_CHECK(!e.transmitCheck || *e.transmitCheck == 0 || *e.transmitCheck == 1);
        FUZZ_CHECK(!e.responseTimeMs || (*e.responseTimeMs >= 0 && *e.responseTimeMs <= kMaxResponseTimeMs));
    }
    return 0;
}
