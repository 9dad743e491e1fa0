#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Which card addresses the port helper grants. Membership of the card's group
// entrusts a user with the card, not with the PC: the administrator lists the
// card's addresses in a file of root's, and even a listed address is never
// granted where its two ports would reach one of the PC's own devices or a
// PCI device's I/O range. Free of Qt: the helper itself decides with it.

// The file the administrator edits (a conffile of the package).
#ifndef VARDEL_CARD_ADDRESSES_FILE
#define VARDEL_CARD_ADDRESSES_FILE "/etc/vardel/adresy-kart.conf"
#endif
inline constexpr char kCardAddressesFile[] = VARDEL_CARD_ADDRESSES_FILE;

// What a missing file allows: the program's default card address.
inline constexpr unsigned kDefaultAllowedAddress = 0x340;

// Where a line on its own is needed: a range may only cover the ISA range.
inline constexpr unsigned kIsaFirst = 0x100;
inline constexpr unsigned kIsaLast = 0x3FF;

struct PortRange {
    unsigned first = 0;
    unsigned last = 0; // inclusive
    bool operator==(const PortRange&) const = default;
};

// The file's text: one address (1 to 4 hexadecimal digits, an "h" after them
// allowed) or one range A-B within 100h-3FFh per line; "#" starts a comment.
// A file with any other line is not used at all (badLine: its number).
struct AllowList {
    bool ok = false;
    std::vector<PortRange> allowed;
    int badLine = 0;
};
AllowList parseAllowList(std::string_view text);

// The file as read: trusted only when it and every folder above it are
// root's and nobody else may write to them. A missing file allows the
// program's default address 340h alone.
struct AllowListFile {
    enum class State { Read, Missing, Untrusted, Malformed };
    State state = State::Missing;
    AllowList list;
    std::string why; // Polish, for Untrusted: what is wrong with it
};
AllowListFile readAllowListFile(const char* path = kCardAddressesFile);

// The PC's own devices at fixed ports: the pair must not touch any of them.
struct FixedDevice {
    PortRange ports;
    const char* name; // Polish
};
const std::vector<FixedDevice>& fixedDevices();

// The I/O ranges in the text of a PCI device's sysfs "resource" file
// (lines "0xSTART 0xEND 0xFLAGS"; I/O ranges carry flag 0x100).
std::vector<PortRange> parsePciIoRanges(std::string_view resourceText);
// Every PCI device's I/O ranges, from /sys/bus/pci/devices/*/resource, each
// with the device's name (its address on the bus).
struct PciRange {
    PortRange ports;
    std::string device;
};
std::vector<PciRange> systemPciIoRanges(const char* devicesFolder = "/sys/bus/pci/devices");

// The verdict on a card address (its ports address and address + 1).
struct CardAddressVerdict {
    enum class Kind { Allowed, NotListed, FileUntrusted, FixedDevice, PciDevice };
    Kind kind = Kind::NotListed;
    std::string detail; // the device, or what is wrong with the file (Polish)
};
CardAddressVerdict judgeCardAddress(std::uint16_t address, const AllowListFile& file,
                                    const std::vector<PciRange>& pci);

// The same with the system's file and devices.
CardAddressVerdict judgeCardAddress(std::uint16_t address);

// "340" for 340h: as the helper writes addresses.
std::string upperHex(unsigned value);

// The helper's one-line refusal (Polish, UTF-8), empty for Allowed.
std::string cardAddressRefusal(std::uint16_t address, const CardAddressVerdict& verdict,
                               const char* path = kCardAddressesFile);

} // namespace vardel
