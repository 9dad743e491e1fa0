// The register names files, and the list-input reader beneath every text file
// the program reads.
#include "config/ListInput.h"
#include "config/RegisterTable.h"
#include "config/RegisterTexts.h"
#include "fuzz/FuzzSupport.h"

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);

    RegisterTable table;
    table.RegCount = kRegisterSlots;
    table.NamesFile = fuzz::scratchFile(bytes);
    const NamesLoad names = LoadRegisterNames(table);
    FUZZ_CHECK(names.namesRead >= 0 && names.namesRead <= kRegisterSlots);
    FUZZ_CHECK(names.ok == (names.namesRead == kRegisterSlots));

    // Every field read moves on, and a read that finds no field is at the end:
    // a reader that stops moving would hang every file reader over it.
    const QString text = decodeWindows1250(bytes);
    for (const bool numbers : {false, true}) {
        ListInput in(text);
        qsizetype reads = 0;
        while (!in.atEnd()) {
            FUZZ_CHECK(++reads <= text.size() + 1);
            double value = 0.0;
            if (numbers ? in.readNumberField(value) == ListInput::Number::End : !in.readTextField())
                FUZZ_CHECK(in.atEnd());
        }
        FUZZ_CHECK(in.lineNumber() >= 1 && in.lineNumber() <= text.size() + 1);
    }
    ListInput chars(text);
    for (int n = 1; !chars.atEnd(); n = n % 7 + 1) {
        const std::optional<QString> read = chars.readChars(n);
        FUZZ_CHECK(!read || read->size() == n);
        if (!read)
            break;
        chars.skipLineEnd();
    }
    return 0;
}
