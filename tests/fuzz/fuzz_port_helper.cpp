// What reaches the port helper and the programs from outside: the card
// address on its command line, the note it leaves in VARDEL_PORT_GRANT, the
// administrator's list of card addresses and the PCI devices' resource files.
// Each input is tried as all four.
#include "fuzz/FuzzSupport.h"
#include "privilege/CardAddresses.h"
#include "privilege/PortHelper.h"
#include "privilege/Privilege.h"

#include <string>
#include <string_view>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // An address is 1-4 hexadecimal digits and nothing else; what it reads
    // is what it was given.
    if (const std::optional<std::uint16_t> address = parseHelperAddress(text)) {
        FUZZ_CHECK(size >= 1 && size <= 4);
        FUZZ_CHECK(upperHex(*address).size() <= size);
    }

    // A note read back writes as what was read: nothing is half taken.
    if (const std::optional<PortGrantNote> note = parsePortGrant(text))
        FUZZ_CHECK(parsePortGrant(formatPortGrant(*note)) == note);

    // A list is either read whole or refused with the line that broke it;
    // ranges stay within the ISA range and in order.
    const AllowList list = parseAllowList(text);
    FUZZ_CHECK(list.ok == (list.badLine == 0));
    FUZZ_CHECK(list.ok || list.allowed.empty());
    for (const PortRange& range : list.allowed) {
        FUZZ_CHECK(range.first <= range.last && range.last <= 0xFFFF);
        FUZZ_CHECK(range.first == range.last || (range.first >= kIsaFirst && range.last <= kIsaLast));
    }
    AllowListFile file;
    file.state = list.ok ? AllowListFile::State::Read : AllowListFile::State::Malformed;
    file.list = list;
    for (const std::uint16_t address : {std::uint16_t{0x1F0}, std::uint16_t{0x340}, std::uint16_t{0xCF9}}) {
        const CardAddressVerdict verdict = judgeCardAddress(address, file, {});
        // The PC's own devices stay refused whatever the list says.
        if (address != 0x340)
            FUZZ_CHECK(verdict.kind == CardAddressVerdict::Kind::FixedDevice);
        FUZZ_CHECK(cardAddressRefusal(address, verdict).empty() == (verdict.kind == CardAddressVerdict::Kind::Allowed));
    }

    for (const PortRange& range : parsePciIoRanges(text))
        FUZZ_CHECK(range.first <= range.last && range.last <= 0xFFFF);
    return 0;
}
