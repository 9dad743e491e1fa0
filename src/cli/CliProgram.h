#pragma once

#include "cli/CliCommands.h"

namespace vardel {

class LinkErrors;
class MeterSession;
class Module1;
struct RegisterTable;

// program FILE --addresses A-B|LIST: writes the configuration `file` (read
// from FILE under its model) to the meter at every address in turn, as write
// does, with every guard and proof of write, and goes on with the next meter
// when one fails. Each meter keeps its own address, baud rate and transmit
// check: first the model is told (checkMeterModel, as scan does); a meter
// of another model, or one whose model is not proven, is not written; the registers then get the values the meter itself holds, never
// the file's. One line per meter on stdout (or one record with --format),
// one record per meter appended to --log (CSV or JSON lines by its
// extension), written as each meter ends; on a stop the meter under way is
// recorded as unfinished. Returns 0 when every meter was programmed, 1 when
// any was not, 2 when the log cannot be opened; the signal's code comes from
// the caller.
int runProgram(MeterSession& session, Module1& link, LinkErrors& errors, const RegisterTable& file,
               const CliOptions& options, const CliContext& context);

} // namespace vardel
