#include "cli/cli_help.h"

#include <algorithm>
#include <utility>

namespace cli {

namespace {

using Row = std::pair<std::string, std::string_view>;  // name column, help

constexpr std::string_view help_help = "Print help";
constexpr std::string_view help_help_short = "Print help (see more with '--help')";
constexpr std::string_view help_help_long = "Print help (see a summary with '-h')";
constexpr std::string_view version_help = "Print version";

std::string command_names(const CommandPath& path) {
    std::string names;
    for (const CommandDef* cmd : path) {
        if (!names.empty()) names += ' ';
        names += cmd->name;
    }
    return names;
}

std::string positional_display(const ArgDef& arg, bool required) {
    std::string text = required ? "<" + std::string(arg.name) + ">" : "[" + std::string(arg.name) + "]";
    if (arg.many) text += "...";
    return text;
}

std::string flag_display(std::string_view short_name, std::string_view long_name) {
    std::string text = short_name.empty() ? "    " : "-" + std::string(short_name) + ", ";
    return text + "--" + std::string(long_name);
}

// Compact rows share one aligned column; long rows put the help beneath the
// name and leave a blank line between rows.
std::string render_rows(const std::vector<Row>& rows, bool long_layout) {
    std::size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) text += long_layout ? "\n\n" : "\n";
        const auto& [name, help] = rows[i];
        text += "  " + name;
        if (long_layout) {
            text += "\n          ";
        } else {
            text += std::string(width - name.size() + 2, ' ');
        }
        text += help;
    }
    return text;
}

std::vector<std::string> sections(const CommandDef& cmd, bool use_long) {
    std::vector<std::string> out;
    if (!cmd.subcommands.empty()) {
        std::vector<Row> rows;
        for (const auto& sub : cmd.subcommands) rows.emplace_back(sub.name, sub.about);
        rows.emplace_back(help_command().name, help_command().about);
        out.push_back("Commands:\n" + render_rows(rows, false));
    }
    std::vector<Row> positionals, options;
    for (const auto& arg : cmd.args) {
        if (arg.kind == ArgDef::Kind::positional) {
            positionals.emplace_back(positional_display(arg, arg.required), arg.help);
        } else {
            options.emplace_back(flag_display("", arg.name), arg.help);
        }
    }
    if (cmd.help_flag) {
        std::string_view help = !cmd.has_long_help() ? help_help : use_long ? help_help_long : help_help_short;
        options.emplace_back(flag_display("h", "help"), help);
    }
    if (!cmd.version.empty()) options.emplace_back(flag_display("V", "version"), version_help);
    if (!positionals.empty()) out.push_back("Arguments:\n" + render_rows(positionals, use_long));
    if (!options.empty()) out.push_back("Options:\n" + render_rows(options, use_long));
    return out;
}

std::string trim_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string render_help(const CommandPath& path, bool long_help) {
    const CommandDef& cmd = *path.back();
    const bool use_long = long_help && cmd.has_long_help();
    std::string text(use_long ? cmd.long_about : cmd.about);
    text += "\n\nUsage: " + help_usage(path);
    for (const auto& section : sections(cmd, use_long)) text += "\n\n" + section;
    if (!cmd.after_help.empty()) text += "\n\n" + std::string(cmd.after_help);
    return trim_end(std::move(text)) + "\n";
}

std::string render_version(const CommandDef& command) {
    return std::string(command.name) + " " + std::string(command.version) + "\n";
}

std::string help_usage(const CommandPath& path) {
    const CommandDef& cmd = *path.back();
    std::string usage = command_names(path);
    if (std::any_of(cmd.args.begin(), cmd.args.end(),
                    [](const ArgDef& arg) { return arg.kind == ArgDef::Kind::flag; })) {
        usage += " [OPTIONS]";
    }
    for (const auto& arg : cmd.args) {
        if (arg.kind == ArgDef::Kind::positional) usage += " " + positional_display(arg, arg.required);
    }
    if (!cmd.subcommands.empty()) usage += cmd.subcommand_required ? " <COMMAND>" : " [COMMAND]";
    return usage;
}

std::string given_usage(const CommandPath& path, const std::vector<const ArgDef*>& given) {
    if (given.empty()) return help_usage(path);
    const CommandDef& cmd = *path.back();
    auto is_given = [&](const ArgDef& arg) {
        return std::find(given.begin(), given.end(), &arg) != given.end();
    };
    std::string usage = command_names(path);
    std::vector<const ArgDef*> shown;
    for (const ArgDef* arg : given) {
        if (arg->kind != ArgDef::Kind::flag) continue;
        if (std::find(shown.begin(), shown.end(), arg) != shown.end()) continue;
        shown.push_back(arg);
        usage += " --" + std::string(arg->name);
    }
    for (const auto& arg : cmd.args) {
        if (arg.kind == ArgDef::Kind::positional && (arg.required || is_given(arg))) {
            usage += " " + positional_display(arg, true);
        }
    }
    if (cmd.subcommand_required) usage += " <COMMAND>";
    return usage;
}

std::string render_error(const CommandPath& path, std::string_view message,
                         const std::vector<std::string>& tips, std::string_view usage) {
    std::string text = "error: " + std::string(message);
    for (std::size_t i = 0; i < tips.size(); ++i) text += (i == 0 ? "\n\n  tip: " : "\n  tip: ") + tips[i];
    text += "\n\nUsage: " + std::string(usage);
    if (path.back()->help_flag) text += "\n\nFor more information, try '--help'.";
    return text + "\n";
}

}  // namespace cli
