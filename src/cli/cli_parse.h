// Parsing an argument list against a command-line definition.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_def.h"
#include "util/result.h"

namespace cli {

// A text the command line answers with instead of a command to run: a help
// page or the version (for standard output), or an error (for standard error).
struct CliMessage {
    std::string text;
    bool is_error = false;
};

// `args` holds the arguments only, without the program path. Arguments are
// taken in order: a help or version request answers at once, and so does
// the first argument that cannot be placed. `--` ends the options of the
// command it appears in; what follows is positional.
util::Result<ArgMatches, CliMessage> parse_args(const CommandDef& top, const std::vector<std::string>& args);

}  // namespace cli
