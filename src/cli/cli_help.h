// Help pages, usage lines, the version line and error texts of the command
// line, in the conventional layout: no colour, no wrapping.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_def.h"

namespace cli {

// The help of the last command of `path`. The long form shows the long about
// and puts each argument's help on a line of its own, when the command has a
// long help; otherwise both forms are the same.
std::string render_help(const CommandPath& path, bool long_help);

// "mirthlode 2.0.6\n".
std::string render_version(const CommandDef& command);

// The usage as the help shows it: "mirthlode adopt [OPTIONS] <PATH>".
std::string help_usage(const CommandPath& path);

// A usage naming what was given: the flags in `given`, then every positional
// that is required or in `given`: "mirthlode adopt --dry-run <PATH>". With
// nothing given it is the usage of the help.
std::string given_usage(const CommandPath& path, const std::vector<const ArgDef*>& given);

// "error: {message}", the tips, the usage and the pointer to --help.
std::string render_error(const CommandPath& path, std::string_view message,
                         const std::vector<std::string>& tips, std::string_view usage);

}  // namespace cli
