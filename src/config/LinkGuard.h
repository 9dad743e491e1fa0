#pragma once

#include "link/LinkInterfaces.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace vardel {

class Module1;
struct RegisterTable;

// Stands in for the error windows where silence is a possible answer, and
// counts what they would have shown.
class QuietErrors final : public ErrorWindows {
public:
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
    int transmit = 0;
    int receive = 0;
};

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

// A response time that the reply wait in force cannot wait for at the baud
// rate the meter will answer at: after its next start nothing reaches it.
struct SlowResponse {
    int ms = 0;        // the configuration's
    int longestMs = 0; // the longest the wait catches there
    int baudRate = 0;
};

struct LinkGuard {
    std::vector<LinkChange> changes;
    MeterLink after;         // where the meter answers once it starts from this configuration
    std::optional<SlowResponse> tooSlow;

    bool changesLink() const { return !changes.empty(); }
    // A value no meter can take (a baud code of 9, an address of 2.5), or a
    // response time longer than the link waits: such a configuration is not
    // written at all.
    bool unusable() const;
    // Whether the meter would answer at another address, baud rate or
    // transmit check (not only later or sooner).
    bool movesMeter() const;
    // One Polish line per change:
    // „Rejestr 0 (Adres sieciowy miernika): w mierniku 2, w pliku 7”
    // (the window writes its table: „w konfiguracji 7”).
    QStringList lines(std::int16_t model, const QString& where = QStringLiteral("w pliku")) const;
    // `longer` says how to wait longer: the option, or the window's field.
    QStringList unusableLines(std::int16_t model, const QString& where = QStringLiteral("w pliku"),
                              const QString& longer = QStringLiteral("podaj --response-time")) const;
};

// The configuration's link registers against the link in use. The meter's
// own response time is not part of the link parameters: `responseInUse` is
// its register as read from the meter (readResponseTime), and without it a
// change of the response time is not listed; a value the link cannot wait
// for is refused all the same.
LinkGuard checkLinkChanges(const Module1& link, const RegisterTable& table,
                           std::optional<float> responseInUse = std::nullopt);
// The meter's „Czas odpowiedzi miernika [ms]”, read with one exchange of the
// selected model's layout; none when the read fails, which the error windows
// do not show (the write that follows says what fails).
std::optional<float> readResponseTime(Module1& link);

// „pod adresem 7 z prędkością 9600 bodów” and, when it is off,
// „, bez kontroli nadawania”.
QString linkPlaceText(const MeterLink& link);

} // namespace vardel
