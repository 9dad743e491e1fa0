#pragma once

#include "cli/CliCommands.h"
#include "cli/CliLink.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace vardel {

class Module1;

// The registers that tell a model: the ones its names file calls the meter's
// network address and its baud code. -1 where the model has none.
struct ModelIdentity {
    std::int16_t model = 0;
    int addressRegister = -1;
    int baudRegister = -1;
};

// Identities of KX-2, KX-3 and KX-4 from their names files in programDir. A
// model whose names file cannot be read is left out, with a message.
std::vector<ModelIdentity> modelIdentities(const QString& programDir, QStringList& messages);

// scan: every baud rate and address of the options is loaded into the card as
// CardSetLink does, and register 0 of the KX-2 layout is read as a harmless
// probe. A meter that answers is told apart by reading its identity
// registers; it is the model whose registers hold the address and the baud
// code it answered at. One line per meter on stdout: "1 19200 KX-2";
// "nieznany" when no model fits, "KX-2|KX-4" when several do. Nothing is
// written to any meter; afterwards the card gets the configured link
// parameters back. Returns 0 when a meter answered, 1 when none did or the
// card stopped sending.
int runScan(Module1& link, CliErrors& errors, const CliOptions& options, const CliContext& context);

} // namespace vardel
