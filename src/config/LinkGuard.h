#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace vardel {

class Module1;
struct RegisterTable;

// Where a meter answers: network address, baud code (0..5) and transmit
// check (0/1).
struct MeterLink {
    std::int16_t address = 0;
    std::int16_t baudCode = 4;
    std::int16_t transmitCheck = 1;

    bool operator==(const MeterLink&) const = default;
};

// The link the program talks at now (a greyed transmit check sends as 0).
MeterLink linkInUse(const Module1& link);
// Talks at `to` from now on: the link's values, loaded into the card. (The
// main window sets its own controls instead; they are what the card gets.)
void useLink(Module1& link, const MeterLink& to);

// A register of the configuration that sets the meter's own link and holds
// something else than the link in use. A meter takes these from its EEPROM
// when it starts: written and stored, they move it off the network the
// program knows.
struct LinkChange {
    int reg = 0;
    const char* name = "";   // as the names files call it
    int inUse = 0;
    float inFile = 0.0f;
    bool usable = true;      // a value the meter can take at all
};

struct LinkGuard {
    std::vector<LinkChange> changes;
    MeterLink after;         // where the meter answers once it starts from this configuration

    bool changesLink() const { return !changes.empty(); }
    // A value no meter can take (a baud code of 9, an address of 2.5): such a
    // configuration is not written at all.
    bool unusable() const;
    // One Polish line per change:
    // „Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w pliku 7”
    // (the window writes its table: „w konfiguracji 7”).
    QStringList lines(std::int16_t model, const QString& where = QStringLiteral("w pliku")) const;
    QStringList unusableLines(std::int16_t model, const QString& where = QStringLiteral("w pliku")) const;
};

LinkGuard checkLinkChanges(const Module1& link, const RegisterTable& table);

// „pod adresem 7 z prędkością 9600 bodów” and, when it is off,
// „, bez kontroli nadawania”.
QString linkPlaceText(const MeterLink& link);

} // namespace vardel
