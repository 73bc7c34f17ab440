#include "cli/cli_def.h"

#include <algorithm>

namespace cli {

bool CommandDef::has_positionals() const {
    return std::any_of(args.begin(), args.end(),
                       [](const ArgDef& arg) { return arg.kind == ArgDef::Kind::positional; });
}

const ArgDef* CommandDef::find_flag(std::string_view flag_name) const {
    for (const auto& arg : args) {
        if (arg.kind == ArgDef::Kind::flag && arg.name == flag_name) return &arg;
    }
    return nullptr;
}

const CommandDef* CommandDef::find_subcommand(std::string_view sub_name) const {
    if (subcommands.empty()) return nullptr;
    for (const auto& sub : subcommands) {
        if (sub.name == sub_name) return &sub;
    }
    return sub_name == "help" ? &help_command() : nullptr;
}

const CommandDef& help_command() {
    static const CommandDef help = [] {
        CommandDef cmd;
        cmd.name = "help";
        cmd.about = "Print this message or the help of the given subcommand(s)";
        cmd.help_flag = false;
        cmd.args = {{ArgDef::Kind::positional, "subcommand", "COMMAND",
                     "Print help for the subcommand(s)", false, true}};
        return cmd;
    }();
    return help;
}

const ArgDef& help_arg() {
    static const ArgDef arg{ArgDef::Kind::flag, "help", "help", "Print help"};
    return arg;
}

const ArgDef& version_arg() {
    static const ArgDef arg{ArgDef::Kind::flag, "version", "version", "Print version"};
    return arg;
}

bool ArgMatches::flag(std::string_view id) const {
    return std::find(flags.begin(), flags.end(), id) != flags.end();
}

std::optional<std::string> ArgMatches::value(std::string_view id) const {
    auto it = values.find(std::string(id));
    if (it == values.end()) return std::nullopt;
    return it->second;
}

}  // namespace cli
