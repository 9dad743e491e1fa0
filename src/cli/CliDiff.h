#pragma once

#include "cli/CliCommands.h"

#include <cstdint>

namespace vardel {

class Module1;

// diff A B: two configuration files of one model, compared field by field
// and register by register, one line per difference on stdout, in file
// order. The model comes from the files' extensions; a file without a model
// extension takes the other's, else --model or Vardel.cfg (`configuredModel`).
// Returns 0 equal, 4 different, 2 when a file cannot be read or the two
// extensions name different models.
int runDiff(const CliOptions& options, const CliContext& context, Module1& link, std::int16_t configuredModel);

} // namespace vardel
