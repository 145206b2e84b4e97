// The command line of quorvane-gen, kept in the library so that tests can
// read the documented sample command the same way the tool does.
#pragma once

#include <string>
#include <vector>

#include "tools/register_generator.h"

namespace regtools {

struct GenCommandLine {
  GeneratorOptions options;
  bool help = false;
};

// Reads "--seed N --out DIR --files N --lines N" (also "--seed=N"; "-h",
// "--help"), arguments after the program name. --out is required unless help
// is asked for. Returns false with a one-line message in *error on bad input.
bool ParseGenCommandLine(const std::vector<std::string>& args, GenCommandLine* out,
                         std::string* error);

std::string GenUsage();

}  // namespace regtools
