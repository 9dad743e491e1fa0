// The configuration file reader, under each model's register count.
#include "config/RegisterTable.h"
#include "files/ConfigFile.h"
#include "fuzz/FuzzSupport.h"
#include "link/Module1.h"

#include <cstring>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = fuzz::scratchFile(fuzz::bytesOf(data, size));
    for (std::int16_t model = kModelKX2; model <= kModelKX4; ++model) {
        RegisterTable table;
        table.RegCount = regCountOf(model);
        table.RegValue.fill(-7.5f);
        table.SerialNo = table.Remarks = QStringLiteral("przed");
        const RegisterTable before = table;
        const FileResult result = ReadConfigFile(table, path);
        // A file that is not read whole leaves the table exactly as it was.
        if (!result.ok) {
            FUZZ_CHECK(!result.message.isEmpty());
            FUZZ_CHECK(std::memcmp(table.RegValue.data(), before.RegValue.data(), sizeof table.RegValue) == 0);
            FUZZ_CHECK(table.SerialNo == before.SerialNo && table.Remarks == before.Remarks);
        }
    }
    return 0;
}
