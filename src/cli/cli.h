// The command line of mirthlode: its definition and the command it names.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_def.h"
#include "util/result.h"

namespace cli {

struct McpCommand {
    struct List { bool json = false; };
    struct Adopt { std::optional<std::string> spec; bool all = false; };
    struct Remove { std::string name; };
    struct Disable { std::string name; };
    struct Enable { std::string name; };
    std::variant<List, Adopt, Remove, Disable, Enable> command;
};

struct Subcommand {
    struct Sync { bool dry_run = false; };
    struct Init {};
    struct Adopt { std::string path; bool dry_run = false; };
    struct Revert { std::string agent; };
    struct Status { bool json = false; };
    struct Mcp { McpCommand mcp; };
    struct Doctor {};
    std::variant<Sync, Init, Adopt, Revert, Status, Mcp, Doctor> command;
};

// The whole definition: the top level with every subcommand.
CommandDef cli_command();

// The command a successful parse names, or the message of what is missing.
util::Result<Subcommand> to_subcommand(const ArgMatches& matches);
util::Result<McpCommand> parse_mcp_command(const ArgMatches& matches);

// What parsing the argument list gives: a command to run, or a text to print
// and the exit code to end with (help and version on standard output with 0,
// errors on standard error with 1).
struct CliOutcome {
    std::optional<Subcommand> command;
    std::string text;
    bool to_stdout = false;
    int exit_code = 0;
};

// `args` holds the program path first, as the system gives it.
CliOutcome parse_command_line(const std::vector<std::string>& args);

}  // namespace cli
