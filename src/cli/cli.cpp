#include "cli/cli.h"

#include "cli/cli_help.h"
#include "cli/cli_parse.h"

namespace cli {

namespace {

using Kind = ArgDef::Kind;

constexpr std::string_view top_about = "One canonical .agents/ folder, fanned out to all your AI coding agents";
constexpr std::string_view top_long_about =
    "One canonical .agents/ folder, fanned out to all your AI coding agents.\n\n"
    "Sync skills, instructions, MCP servers, commands, agents and hooks from the Commons — the "
    "canonical ~/.agents directory — to every installed agent.";
constexpr std::string_view rename_notice =
    "mirthlode has been renamed to quelbrook.\n"
    "Install the quelbrook package from crates.io, Homebrew or npm; this package gets no further releases.\n"
    "Home: https://quelbrook.dev";

constexpr std::string_view adopt_about = "Take a path under management; where it lives picks the mechanic";
constexpr std::string_view adopt_long_about =
    "Take a path under management; where it lives picks the mechanic.\n\n"
    "Three mechanics, one verb. A real config in a Target surface is absorbed into the Commons, leaving a "
    "link behind. A path inside a git repo becomes a Sourced entry — the Commons links out to it, and "
    "the repo keeps the truth. Any other path is copied in, and the original is no longer consulted. A path "
    "already inside the Commons refuses: it is already home.";

constexpr std::string_view json_help = "Emit a machine-readable report on stdout";
constexpr std::string_view server_name_help = "The server name";

CommandDef leaf(std::string_view name, std::string_view about, std::vector<ArgDef> args) {
    CommandDef cmd;
    cmd.name = name;
    cmd.about = about;
    cmd.args = std::move(args);
    return cmd;
}

ArgDef flag(std::string_view id, std::string_view name, std::string_view help) {
    return ArgDef{Kind::flag, id, name, help};
}

ArgDef positional(std::string_view id, std::string_view name, std::string_view help, bool required = true) {
    return ArgDef{Kind::positional, id, name, help, required};
}

CommandDef mcp_command() {
    CommandDef mcp = leaf("mcp", "Manage MCP servers", {});
    mcp.subcommand_required = true;
    mcp.subcommands = {
        leaf("list", "Show Commons servers and their state in every agent", {flag("json", "json", json_help)}),
        leaf("adopt", "Take an agent's existing server into the Commons",
             {positional("spec", "SPEC", "Which server, as agent/server — for example claude/serena", false),
              flag("all", "all", "Adopt every server found in every agent's config")}),
        leaf("remove", "Delete a server from the Commons and from every agent",
             {positional("name", "NAME", server_name_help)}),
        leaf("disable", "Park a server: keep its definition, render it nowhere",
             {positional("name", "NAME", server_name_help)}),
        leaf("enable", "Restore a disabled server to every targeted agent",
             {positional("name", "NAME", server_name_help)}),
    };
    return mcp;
}

template <class T>
util::Result<T> missing(std::string_view id) {
    return util::error("the following required argument was not provided: " + std::string(id));
}

util::Error unknown_subcommand(const ArgMatches& matches) {
    if (matches.subcommand.empty()) return util::error("a subcommand is required but one was not provided");
    return util::error("the subcommand '" + matches.subcommand + "' wasn't recognized");
}

CommandDef define_subcommands(CommandDef command) {
    CommandDef adopt = leaf("adopt", adopt_about,
                            {positional("path", "PATH",
                                        "A Target-surface path to absorb, a repo path to Source, or any other "
                                        "path to copy in"),
                             flag("dry_run", "dry-run",
                                  "Name the mechanic and report every action without touching anything")});
    adopt.long_about = adopt_long_about;
    command.subcommands = {
        leaf("sync", "Fan the Commons out to every installed agent",
             {flag("dry_run", "dry-run", "Report the plan without touching the filesystem")}),
        leaf("init", "Create the Commons skeleton and report what this machine already has", {}),
        std::move(adopt),
        leaf("revert", "Remove everything mirthlode put into one target",
             {positional("agent", "AGENT", "The agent to strip, by the name `status` and `doctor` use")}),
        leaf("status", "Report what is in sync, what is not, and what is not ours",
             {flag("json", "json", json_help)}),
        mcp_command(),
        leaf("doctor", "Check machine readiness: installed agents, Commons hygiene, Sourced entries", {}),
    };
    return command;
}

}  // namespace

CommandDef cli_command() {
    CommandDef top;
    top.name = "mirthlode";
    top.version = "2.0.6";
    top.about = top_about;
    top.long_about = top_long_about;
    top.after_help = rename_notice;
    top.subcommand_required = true;
    return define_subcommands(std::move(top));
}

util::Result<Subcommand> to_subcommand(const ArgMatches& matches) {
    if (!matches.sub) return unknown_subcommand(matches);
    const ArgMatches& sub = *matches.sub;
    const std::string& name = matches.subcommand;
    if (name == "sync") return Subcommand{Subcommand::Sync{sub.flag("dry_run")}};
    if (name == "init") return Subcommand{Subcommand::Init{}};
    if (name == "adopt") {
        auto path = sub.value("path");
        if (!path) return missing<Subcommand>("path");
        return Subcommand{Subcommand::Adopt{*path, sub.flag("dry_run")}};
    }
    if (name == "revert") {
        auto agent = sub.value("agent");
        if (!agent) return missing<Subcommand>("agent");
        return Subcommand{Subcommand::Revert{*agent}};
    }
    if (name == "status") return Subcommand{Subcommand::Status{sub.flag("json")}};
    if (name == "mcp") {
        auto mcp = parse_mcp_command(sub);
        if (!mcp) return mcp.error();
        return Subcommand{Subcommand::Mcp{*mcp}};
    }
    if (name == "doctor") return Subcommand{Subcommand::Doctor{}};
    return unknown_subcommand(matches);
}

util::Result<McpCommand> parse_mcp_command(const ArgMatches& matches) {
    if (!matches.sub) return unknown_subcommand(matches);
    const ArgMatches& sub = *matches.sub;
    const std::string& name = matches.subcommand;
    if (name == "list") return McpCommand{McpCommand::List{sub.flag("json")}};
    if (name == "adopt") return McpCommand{McpCommand::Adopt{sub.value("spec"), sub.flag("all")}};
    auto server = sub.value("name");
    if (name == "remove" || name == "disable" || name == "enable") {
        if (!server) return missing<McpCommand>("name");
        if (name == "remove") return McpCommand{McpCommand::Remove{*server}};
        if (name == "disable") return McpCommand{McpCommand::Disable{*server}};
        return McpCommand{McpCommand::Enable{*server}};
    }
    return unknown_subcommand(matches);
}

CliOutcome parse_command_line(const std::vector<std::string>& args) {
    const CommandDef top = cli_command();
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    CliOutcome outcome;
    auto parsed = parse_args(top, rest);
    if (!parsed) {
        outcome.text = parsed.error().text;
        outcome.to_stdout = !parsed.error().is_error;
        outcome.exit_code = parsed.error().is_error ? 1 : 0;
        return outcome;
    }
    auto command = to_subcommand(*parsed);
    if (!command) {
        outcome.text = render_error({&top}, command.error().message, {}, help_usage({&top}));
        outcome.exit_code = 1;
        return outcome;
    }
    outcome.command = std::move(*command);
    return outcome;
}

}  // namespace cli
