#include "privilege/CardAddresses.h"

#include "link/CardPorts.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardel {

namespace {

// Far above any list of addresses: a larger file is not one of ours.
constexpr std::size_t kMaxAllowListBytes = 64 * 1024;
constexpr std::size_t kMaxResourceBytes = 4096;
// IORESOURCE_IO in a resource file's flags.
constexpr unsigned long long kIoResource = 0x100;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// 1 to 4 hexadecimal digits, an "h" after them allowed.
bool parseAddress(std::string_view text, unsigned& value)
{
    if (!text.empty() && (text.back() == 'h' || text.back() == 'H'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 4)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

std::string hex(unsigned value)
{
    return upperHex(value) + 'h';
}

bool overlaps(unsigned address, const PortRange& range)
{
    return address <= range.last && address + 1 >= range.first;
}

// A folder or file nobody but root may change: root's, and not writable by
// others unless the sticky bit keeps them from replacing root's entries.
bool rootsAlone(const struct stat& st)
{
    return st.st_uid == 0 && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)));
}

bool readSmall(int fd, std::size_t limit, std::string& text)
{
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit)
            return false;
    }
}

} // namespace

std::string upperHex(unsigned value)
{
    char digits[8] = {};
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::string text(digits, end);
    for (char& c : text) {
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

AllowList parseAllowList(std::string_view text)
{
    AllowList list;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trimmed(line);
        if (line.empty())
            continue;
        PortRange range;
        const std::size_t dash = line.find('-');
        const bool isRange = dash != std::string_view::npos;
        if (!parseAddress(trimmed(line.substr(0, dash)), range.first)
            || !parseAddress(isRange ? trimmed(line.substr(dash + 1)) : trimmed(line), range.last)
            || range.last < range.first
            // Outside the ISA range, one address per line, each on purpose.
            || (isRange && (range.first < kIsaFirst || range.last > kIsaLast))) {
            list.badLine = number;
            list.allowed.clear();
            return list;
        }
        list.allowed.push_back(range);
    }
    list.ok = true;
    return list;
}

AllowListFile readAllowListFile(const char* path)
{
    AllowListFile file;
    const auto untrusted = [&file](std::string why) {
        file.state = AllowListFile::State::Untrusted;
        file.why = std::move(why);
        return file;
    };
    if (!path || path[0] != '/')
        return untrusted("ścieżka nie jest bezwzględna");
    // Walked one name at a time, no link followed, each folder looked at.
    int folder = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return untrusted("nie można otworzyć folderu /");
    std::string_view rest(path + 1);
    std::string walked;
    for (;;) {
        struct stat st {};
        if (::fstat(folder, &st) != 0 || !rootsAlone(st)) {
            ::close(folder);
            return untrusted("folder " + (walked.empty() ? std::string("/") : walked)
                             + " może zmienić ktoś inny niż root");
        }
        const std::size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        if (slash == std::string_view::npos) {
            const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            const int error = errno;
            ::close(folder);
            if (fd < 0 && error == ENOENT) {
                file.state = AllowListFile::State::Missing;
                file.list.ok = true;
                file.list.allowed = {{kDefaultAllowedAddress, kDefaultAllowedAddress}};
                return file;
            }
            if (fd < 0)
                return untrusted(error == ELOOP ? "to jest dowiązanie symboliczne" : "nie można go otworzyć");
            std::string text;
            const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            const bool trusted = regular && st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
            const bool read = trusted && readSmall(fd, kMaxAllowListBytes, text);
            ::close(fd);
            if (!regular)
                return untrusted("to nie jest zwykły plik");
            if (!trusted)
                return untrusted("plik nie należy do roota albo mogą go zmienić inni użytkownicy");
            if (!read)
                return untrusted("nie można go odczytać");
            file.list = parseAllowList(text);
            file.state = file.list.ok ? AllowListFile::State::Read : AllowListFile::State::Malformed;
            return file;
        }
        walked += '/' + name;
        const int next = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(folder);
        if (next < 0) {
            if (errno == ENOENT) {
                file.state = AllowListFile::State::Missing;
                file.list.ok = true;
                file.list.allowed = {{kDefaultAllowedAddress, kDefaultAllowedAddress}};
                return file;
            }
            return untrusted("folder " + walked + " nie jest zwykłym folderem");
        }
        folder = next;
        rest.remove_prefix(slash + 1);
    }
}

const std::vector<FixedDevice>& fixedDevices()
{
    static const std::vector<FixedDevice> devices = {
        {{0x1F0, 0x1F7}, "kontroler dysków IDE (pierwszy kanał)"},
        {{0x170, 0x177}, "kontroler dysków IDE (drugi kanał)"},
        {{0x3F6, 0x3F6}, "kontroler dysków IDE (pierwszy kanał)"},
        {{0x376, 0x376}, "kontroler dysków IDE (drugi kanał)"},
        {{0x3F0, 0x3F7}, "kontroler stacji dyskietek"},
        {{0x370, 0x377}, "kontroler stacji dyskietek (drugi)"},
        {{0x3F8, 0x3FF}, "port szeregowy COM1"},
        {{0x2F8, 0x2FF}, "port szeregowy COM2"},
        {{0x3E8, 0x3EF}, "port szeregowy COM3"},
        {{0x2E8, 0x2EF}, "port szeregowy COM4"},
        {{0x378, 0x37F}, "port równoległy LPT1"},
        {{0x278, 0x27F}, "port równoległy LPT2"},
        {{0x3BC, 0x3BF}, "port równoległy LPT (karta MDA)"},
        {{0x3B0, 0x3DF}, "karta graficzna VGA"},
        {{0x279, 0x279}, "ISA Plug and Play"},
        {{0xA79, 0xA79}, "ISA Plug and Play"},
        {{0x4D0, 0x4D1}, "sterownik przerwań (ELCR)"},
        {{0xCF8, 0xCFF}, "konfiguracja PCI i reset komputera"},
    };
    return devices;
}

std::vector<PortRange> parsePciIoRanges(std::string_view text)
{
    std::vector<PortRange> ranges;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        unsigned long long values[3] = {};
        bool ok = true;
        for (unsigned long long& value : values) {
            line = trimmed(line);
            if (line.size() < 3 || line[0] != '0' || (line[1] != 'x' && line[1] != 'X')) {
                ok = false;
                break;
            }
            line.remove_prefix(2);
            const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), value, 16);
            if (error != std::errc() || next == line.data()) {
                ok = false;
                break;
            }
            line.remove_prefix(static_cast<std::size_t>(next - line.data()));
        }
        if (!ok || (values[2] & kIoResource) == 0 || values[1] < values[0] || values[0] > 0xFFFF)
            continue;
        ranges.push_back({static_cast<unsigned>(values[0]), static_cast<unsigned>(values[1] > 0xFFFF ? 0xFFFF : values[1])});
    }
    return ranges;
}

std::vector<PciRange> systemPciIoRanges(const char* devicesFolder)
{
    std::vector<PciRange> found;
    DIR* dir = ::opendir(devicesFolder);
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string device = entry->d_name;
        const std::string resource = std::string(devicesFolder) + '/' + device + "/resource";
        const int fd = ::open(resource.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        std::string text;
        const bool read = readSmall(fd, kMaxResourceBytes, text);
        ::close(fd);
        if (!read)
            continue;
        for (const PortRange& range : parsePciIoRanges(text))
            found.push_back({range, device});
    }
    ::closedir(dir);
    return found;
}

CardAddressVerdict judgeCardAddress(std::uint16_t address, const AllowListFile& file, const std::vector<PciRange>& pci)
{
    CardAddressVerdict verdict;
    using Kind = CardAddressVerdict::Kind;
    // Whatever the file says, the PC's own devices stay the PC's.
    for (const FixedDevice& device : fixedDevices()) {
        if (overlaps(address, device.ports))
            return {Kind::FixedDevice, device.name};
    }
    for (const PciRange& range : pci) {
        if (overlaps(address, range.ports))
            return {Kind::PciDevice, "urządzenie PCI " + range.device + " (" + hex(range.ports.first) + "–"
                                         + hex(range.ports.last) + ")"};
    }
    if (file.state == AllowListFile::State::Untrusted)
        return {Kind::FileUntrusted, file.why};
    if (file.state == AllowListFile::State::Malformed)
        return {Kind::FileUntrusted, "nieprawidłowy wiersz " + std::to_string(file.list.badLine)};
    if (isSystemPortPair(static_cast<std::int16_t>(address)))
        return {Kind::NotListed, {}};
    for (const PortRange& range : file.list.allowed) {
        if (address >= range.first && address <= range.last)
            return {Kind::Allowed, {}};
    }
    return verdict;
}

CardAddressVerdict judgeCardAddress(std::uint16_t address)
{
    return judgeCardAddress(address, readAllowListFile(), systemPciIoRanges());
}

std::string cardAddressRefusal(std::uint16_t address, const CardAddressVerdict& verdict, const char* path)
{
    using Kind = CardAddressVerdict::Kind;
    switch (verdict.kind) {
    case Kind::Allowed: return {};
    case Kind::NotListed:
        return "Adres karty " + hex(address) + " nie jest dozwolony. Administrator dopisuje dozwolone adresy w pliku "
            + path + ".";
    case Kind::FileUntrusted:
        return "Adres karty " + hex(address) + " nie jest dozwolony: plik " + path + " nie jest brany pod uwagę ("
            + verdict.detail + "). Administrator poprawia ten plik.";
    case Kind::FixedDevice:
    case Kind::PciDevice:
        return "Adres karty " + hex(address) + " obejmuje porty urządzenia komputera (" + verdict.detail
            + "); nie zostanie przydzielony.";
    }
    return {};
}

} // namespace vardel
