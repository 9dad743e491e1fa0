#include "privilege/PortHelper.h"

#include "link/CardPorts.h"
#include "privilege/Privilege.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

namespace vardel {

namespace {

template <typename T>
bool takeNumber(std::string_view& text, T& value, int base)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end == text.data())
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

// <prefix>/libexec/vardel/vardel-ports -> <prefix>/bin
std::optional<std::string> programsFolder(std::string_view selfPath)
{
    std::string_view prefix = selfPath;
    for (int up = 0; up < 3; ++up) {
        const std::size_t slash = prefix.rfind('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        prefix = prefix.substr(0, slash);
    }
    return std::string(prefix) + "/bin";
}

constexpr char kPrefix[] = "vardel-ports: ";
constexpr char kDropFailed[] = "vardel-ports: nie można odrzucić uprawnień; program nie został uruchomiony.";

} // namespace

std::string formatPortGrant(const PortGrantNote& note)
{
    return upperHex(note.address) + ' ' + std::to_string(note.result) + ' ' + std::to_string(note.pid);
}

std::optional<PortGrantNote> parsePortGrant(std::string_view text)
{
    PortGrantNote note;
    unsigned address = 0;
    if (!takeNumber(text, address, 16) || address > 0xFFFF || text.empty() || text.front() != ' ')
        return std::nullopt;
    text.remove_prefix(1);
    if (!takeNumber(text, note.result, 10) || text.empty() || text.front() != ' ')
        return std::nullopt;
    text.remove_prefix(1);
    if (!takeNumber(text, note.pid, 10) || !text.empty())
        return std::nullopt;
    note.address = static_cast<std::uint16_t>(address);
    return note;
}

HelperFailure runPortHelper(PrivilegeOps& ops, int argc, char** argv, char** envp, std::string_view selfPath,
                            long pid, const CardAddressJudge& judge)
{
    // Whatever goes wrong, nothing privileged stays behind to say so.
    const auto fail = [&ops](int code, const std::string& text) {
        if (!dropPrivileges(ops))
            return HelperFailure{3, kDropFailed};
        return HelperFailure{code, kPrefix + text};
    };
    if (argc < 3)
        return fail(2, "Użycie: vardel-ports vardel|vardel-cli ADRES_KARTY [argumenty] "
                       "(uruchamiają go programy vardel i vardel-cli).");
    const std::string_view program = argv[1];
    if (program != "vardel" && program != "vardel-cli")
        return fail(2, "Nieznany program: " + std::string(program) + " (dozwolone: vardel, vardel-cli).");
    const std::optional<std::uint16_t> address = parseHelperAddress(argv[2]);
    if (!address)
        return fail(2, "Nieprawidłowy adres karty: " + std::string(argv[2])
                           + " (od jednej do czterech cyfr szesnastkowych).");
    const std::optional<std::string> folder = programsFolder(selfPath);
    if (!folder)
        return fail(3, "Nie można ustalić folderu programów.");

    // Membership entrusts a user with the card's allowed addresses, never
    // with the PC's own devices.
    if (!isSystemPortPair(static_cast<std::int16_t>(*address))) {
        const CardAddressVerdict verdict = judge ? judge(*address) : judgeCardAddress(*address);
        if (verdict.kind != CardAddressVerdict::Kind::Allowed)
            return fail(2, cardAddressRefusal(*address, verdict));
    }
    const PortGrantResult grant = grantCardPorts(ops, *address);
    if (grant.grant == PortGrant::SystemPorts)
        return fail(2, "Adres karty " + upperHex(*address) + "h: " + kSystemPortsText + '.');
    if (!dropPrivileges(ops))
        return {3, kDropFailed};

    PortGrantNote note;
    note.address = *address;
    note.pid = pid;
    switch (grant.grant) {
    case PortGrant::Granted: note.result = 0; break;
    case PortGrant::NotPrivileged: note.result = kHelperNotPrivileged; break;
    default: note.result = grant.error > 0 ? grant.error : EPERM; break;
    }

    // The program gets the environment it would have had, plus the outcome.
    const std::string variable = std::string(kPortGrantVariable) + '=';
    const std::string noteEntry = variable + formatPortGrant(note);
    std::vector<char*> environment;
    for (char** e = envp; e && *e; ++e) {
        if (std::strncmp(*e, variable.c_str(), variable.size()) != 0)
            environment.push_back(*e);
    }
    environment.push_back(const_cast<char*>(noteEntry.c_str()));
    environment.push_back(nullptr);

    std::string target = *folder + '/' + std::string(program);
    std::vector<char*> arguments{target.data()};
    for (int i = 3; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ops.exec(target.c_str(), arguments.data(), environment.data());
    const int error = errno;
    return {3, kPrefix
                   + ("Nie można uruchomić programu " + target + " (błąd systemu nr " + std::to_string(error) + ").")};
}

} // namespace vardel
