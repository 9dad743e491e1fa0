#include "portio/PortTexts.h"

#include "fileio/SafeFile.h"
#include "link/Module1.h"
#include "privilege/CardAddresses.h"
#include "privilege/PortHelper.h"

#include <cerrno>

namespace vardel {

namespace {

QString hex(unsigned value)
{
    return QString::fromStdString(hexText(static_cast<int>(value)));
}

// "340h–341h"
QString pairText(std::uint16_t first)
{
    return hex(first) + QStringLiteral("–") + hex(static_cast<std::uint16_t>(first + 1));
}

QString group()
{
    return QString::fromLatin1(kCardGroup);
}

} // namespace

QString systemPortsText(std::uint16_t first)
{
    return QStringLiteral("Adres karty %1: %2.").arg(hex(first), QString::fromUtf8(kSystemPortsText));
}

QString kernelRefusalText(std::uint16_t first, int error, bool privileged, const QString& lockdown)
{
    const QString ports = pairText(first);
    if (error == ENOSYS) {
        return QStringLiteral("Bezpośredni dostęp do portów karty %1 nie jest dostępny w tym systemie: jądro nie "
                              "obsługuje ioperm (tak jest np. w maszynie wirtualnej i w kontenerze). Kartę obsługuje "
                              "program uruchomiony na komputerze, w którym jest zamontowana.")
            .arg(ports);
    }
    if (error == EPERM && privileged && !lockdown.isEmpty()) {
        return QStringLiteral("Jądro systemu działa w trybie lockdown („%2”; włącza go zwykle Secure Boot) i nie "
                              "przydziela bezpośredniego dostępu do portów karty %1 nikomu, także rootowi. To "
                              "zabezpieczenie systemu: jak obsługiwać kartę na tym komputerze, rozstrzyga "
                              "administrator.")
            .arg(ports, lockdown);
    }
    if (error == EPERM && privileged) {
        return QStringLiteral("Jądro systemu odmówiło dostępu do portów karty %1 mimo uprawnień (zasady "
                              "bezpieczeństwa systemu, np. SELinux lub AppArmor).")
            .arg(ports);
    }
    if (error == EPERM) {
        return QStringLiteral("Brak uprawnień do portów karty %1. Kartę obsługują członkowie grupy „%2” "
                              "(sudo adduser NAZWA %2, potem ponowne zalogowanie).")
            .arg(ports, group());
    }
    if (error == EINVAL)
        return QStringLiteral("Jądro systemu nie przydziela portów karty %1 (poza zakresem portów).").arg(ports);
    return QStringLiteral("System odmówił dostępu do portów karty %1: %2.").arg(ports, systemErrorText(error));
}

QString notMemberText(std::uint16_t first, const QString& user, const QString& groupName, bool listed)
{
    if (listed) {
        return QStringLiteral("Brak dostępu do portów karty %1: użytkownik %2 należy do grupy „%3”, ale ta sesja "
                              "zaczęła się przed dodaniem go do niej. Wyloguj się i zaloguj ponownie.")
            .arg(pairText(first), user, groupName);
    }
    return QStringLiteral("Brak dostępu do portów karty %1: użytkownik %2 nie należy do grupy „%3”. Administrator "
                          "dodaje go poleceniem „sudo adduser %2 %3”; potem trzeba wylogować się i zalogować "
                          "ponownie.")
        .arg(pairText(first), user, groupName);
}

QString helperMissingText(std::uint16_t first, const QString& helperPath)
{
    return QStringLiteral("Brak dostępu do portów karty %1: brak programu pomocniczego %2, który je przydziela. "
                          "Prawdziwa karta działa w programie zainstalowanym z pakietu vardel albo uruchomionym "
                          "przez roota.")
        .arg(pairText(first), helperPath);
}

QString helperUnprivilegedText(std::uint16_t first, const QString& helperPath)
{
    return QStringLiteral("Brak dostępu do portów karty %1: program pomocniczy %2 nie ma uprawnienia, by je "
                          "przydzielić. Administrator naprawia instalację poleceniem „sudo dpkg-reconfigure vardel”.")
        .arg(pairText(first), helperPath);
}

QString helperStartText(std::uint16_t first, const QString& helperPath, int error)
{
    return QStringLiteral("Brak dostępu do portów karty %1: nie można uruchomić programu pomocniczego %2 (błąd "
                          "systemu nr %3).")
        .arg(pairText(first), helperPath)
        .arg(error);
}

QString unsafeHelperText(std::uint16_t first, const QString& helperPath)
{
    return QStringLiteral("Brak dostępu do portów karty %1: program pomocniczy %2 nie został uruchomiony, bo może "
                          "go zmienić ktoś inny niż root (albo to nie jest zwykły plik).")
        .arg(pairText(first), helperPath);
}

QString noNewPrivilegesText(std::uint16_t first, const QString& helperPath)
{
    return QStringLiteral("Brak dostępu do portów karty %1: program działa z blokadą nowych uprawnień "
                          "(no_new_privs), więc program pomocniczy %2 nie może ich przydzielić. Uruchom program "
                          "bez tej blokady (np. nie z usługi z NoNewPrivileges=yes).")
        .arg(pairText(first), helperPath);
}

QString unreadableGrantText(std::uint16_t first)
{
    return QStringLiteral("Brak dostępu do portów karty %1: nie wiadomo, czy program pomocniczy je przydzielił "
                          "(nieprawidłowa zmienna środowiska %2).")
        .arg(pairText(first), QString::fromLatin1(kPortGrantVariable));
}

QString forgedGrantText(std::uint16_t first)
{
    return QStringLiteral("Brak dostępu do portów karty %1: zmienna środowiska %2 mówi, że je przydzielono, ale "
                          "program pomocniczy tego nie zrobił. Uruchom program zwyczajnie, bez tej zmiennej.")
        .arg(pairText(first), QString::fromLatin1(kPortGrantVariable));
}

QString cardAddressRefusalText(std::uint16_t address)
{
    const CardAddressVerdict verdict = judgeCardAddress(address);
    return QString::fromStdString(cardAddressRefusal(address, verdict));
}

QString wrongHelperGroupText(std::uint16_t first, const QString& helperPath, const QString& groupName)
{
    return QStringLiteral("Brak dostępu do portów karty %1: program pomocniczy %2 należy do grupy „%3”, a nie do "
                          "grupy „%4”; instalacja jest uszkodzona. Administrator naprawia ją poleceniem "
                          "„sudo dpkg-reconfigure vardel”.")
        .arg(pairText(first), helperPath, groupName, group());
}

QString nextStartText(std::uint16_t granted)
{
    return QStringLiteral("Nowy adres karty zacznie obowiązywać po ponownym uruchomieniu programu (ustawienia "
                          "zapisuje przycisk „Koniec pracy”). Do tego czasu program ma dostęp tylko do portów "
                          "karty %1.")
        .arg(pairText(granted));
}

} // namespace vardel
