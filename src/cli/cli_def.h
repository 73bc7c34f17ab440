// The shape of a command-line definition and of what parsing it yields.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A flag ("--dry-run": no value, true when given) or a positional (one text).
struct ArgDef {
    enum class Kind { flag, positional };
    Kind kind = Kind::flag;
    std::string_view id;
    std::string_view name;  // the long name without dashes, or the value name
    std::string_view help;
    bool required = false;
    bool many = false;  // a positional that takes any number of values
};

// One command. `-h`/`--help` is added to every command that keeps its help
// flag, `-V`/`--version` to a command with a version, and a `help`
// subcommand to every command that has subcommands.
struct CommandDef {
    std::string_view name;
    std::string_view version;
    std::string_view about;
    std::string_view long_about;  // empty when the command has no long help
    std::string_view after_help;
    bool subcommand_required = false;  // bare, the command shows its help
    bool help_flag = true;
    std::vector<ArgDef> args;
    std::vector<CommandDef> subcommands;

    bool has_long_help() const { return !long_about.empty(); }
    bool has_positionals() const;
    const ArgDef* find_flag(std::string_view name) const;
    const CommandDef* find_subcommand(std::string_view name) const;  // `help` included
};

// A command and the commands above it, the top level first.
using CommandPath = std::vector<const CommandDef*>;

// The `help` subcommand every command with subcommands gets, and the
// `--help` and `--version` flags as they appear in a usage line.
const CommandDef& help_command();
const ArgDef& help_arg();
const ArgDef& version_arg();

// What one command of the line was given.
struct ArgMatches {
    std::vector<std::string> flags;             // ids, in the order given
    std::map<std::string, std::string> values;  // positional id -> text
    std::string subcommand;                     // empty when none
    std::shared_ptr<const ArgMatches> sub;

    bool flag(std::string_view id) const;
    std::optional<std::string> value(std::string_view id) const;
};

}  // namespace cli
