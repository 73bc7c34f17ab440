// The command line as a user meets it: exact help, version and error texts,
// their stream and the exit code.
#include <gtest/gtest.h>

#include "support/support.h"

namespace {

using namespace testing_support;

const std::string commands =
    "Commands:\n"
    "  sync    Fan the Commons out to every installed agent\n"
    "  init    Create the Commons skeleton and report what this machine already has\n"
    "  adopt   Take a path under management; where it lives picks the mechanic\n"
    "  revert  Remove everything mirthlode put into one target\n"
    "  status  Report what is in sync, what is not, and what is not ours\n"
    "  mcp     Manage MCP servers\n"
    "  doctor  Check machine readiness: installed agents, Commons hygiene, Sourced entries\n"
    "  help    Print this message or the help of the given subcommand(s)\n";

const std::string notice =
    "mirthlode has been renamed to quelbrook.\n"
    "Install the quelbrook package from crates.io, Homebrew or npm; this package gets no further releases.\n"
    "Home: https://quelbrook.dev\n";

const std::string short_help =
    "One canonical .agents/ folder, fanned out to all your AI coding agents\n"
    "\n"
    "Usage: mirthlode <COMMAND>\n"
    "\n" +
    commands +
    "\n"
    "Options:\n"
    "  -h, --help     Print help (see more with '--help')\n"
    "  -V, --version  Print version\n"
    "\n" +
    notice;

const std::string long_help =
    "One canonical .agents/ folder, fanned out to all your AI coding agents.\n"
    "\n"
    "Sync skills, instructions, MCP servers, commands, agents and hooks from the Commons — the canonical "
    "~/.agents directory — to every installed agent.\n"
    "\n"
    "Usage: mirthlode <COMMAND>\n"
    "\n" +
    commands +
    "\n"
    "Options:\n"
    "  -h, --help\n"
    "          Print help (see a summary with '-h')\n"
    "\n"
    "  -V, --version\n"
    "          Print version\n"
    "\n" +
    notice;

const std::string adopt_long_help =
    "Take a path under management; where it lives picks the mechanic.\n"
    "\n"
    "Three mechanics, one verb. A real config in a Target surface is absorbed into the Commons, leaving a link "
    "behind. A path inside a git repo becomes a Sourced entry — the Commons links out to it, and the repo keeps "
    "the truth. Any other path is copied in, and the original is no longer consulted. A path already inside "
    "the Commons refuses: it is already home.\n"
    "\n"
    "Usage: mirthlode adopt [OPTIONS] <PATH>\n"
    "\n"
    "Arguments:\n"
    "  <PATH>\n"
    "          A Target-surface path to absorb, a repo path to Source, or any other path to copy in\n"
    "\n"
    "Options:\n"
    "      --dry-run\n"
    "          Name the mechanic and report every action without touching anything\n"
    "\n"
    "  -h, --help\n"
    "          Print help (see a summary with '-h')\n";

void expect_output(const RunResult& r, const std::string& out, const std::string& err, int code) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.code, code);
}

std::string error_text(const std::string& body, const std::string& usage) {
    return "error: " + body + "\n\nUsage: " + usage + "\n\nFor more information, try '--help'.\n";
}

TEST(CommandLineHelp, TopLevelShortAndLong) {
    Home home;
    expect_output(home.run({}), short_help, "", 0);
    expect_output(home.run({"-h"}), short_help, "", 0);
    expect_output(home.run({"--help"}), long_help, "", 0);
    expect_output(home.run({"help"}), long_help, "", 0);
}

TEST(CommandLineHelp, AdoptShortAndLong) {
    Home home;
    expect_output(home.run({"adopt", "--help"}), adopt_long_help, "", 0);
    expect_output(home.run({"help", "adopt"}), adopt_long_help, "", 0);
    expect_output(home.run({"adopt", "-h"}),
                  "Take a path under management; where it lives picks the mechanic\n"
                  "\n"
                  "Usage: mirthlode adopt [OPTIONS] <PATH>\n"
                  "\n"
                  "Arguments:\n"
                  "  <PATH>  A Target-surface path to absorb, a repo path to Source, or any other path to copy in\n"
                  "\n"
                  "Options:\n"
                  "      --dry-run  Name the mechanic and report every action without touching anything\n"
                  "  -h, --help     Print help (see more with '--help')\n",
                  "", 0);
}

TEST(CommandLineHelp, SubcommandsWithoutLongHelpLookTheSameBothWays) {
    Home home;
    const std::string sync_help =
        "Fan the Commons out to every installed agent\n"
        "\n"
        "Usage: mirthlode sync [OPTIONS]\n"
        "\n"
        "Options:\n"
        "      --dry-run  Report the plan without touching the filesystem\n"
        "  -h, --help     Print help\n";
    expect_output(home.run({"sync", "--help"}), sync_help, "", 0);
    expect_output(home.run({"sync", "-h"}), sync_help, "", 0);
    expect_output(home.run({"help", "sync"}), sync_help, "", 0);
    expect_output(home.run({"revert", "-h"}),
                  "Remove everything mirthlode put into one target\n"
                  "\n"
                  "Usage: mirthlode revert <AGENT>\n"
                  "\n"
                  "Arguments:\n"
                  "  <AGENT>  The agent to strip, by the name `status` and `doctor` use\n"
                  "\n"
                  "Options:\n"
                  "  -h, --help  Print help\n",
                  "", 0);
    expect_output(home.run({"help", "mcp", "adopt"}),
                  "Take an agent's existing server into the Commons\n"
                  "\n"
                  "Usage: mirthlode mcp adopt [OPTIONS] [SPEC]\n"
                  "\n"
                  "Arguments:\n"
                  "  [SPEC]  Which server, as agent/server — for example claude/serena\n"
                  "\n"
                  "Options:\n"
                  "      --all   Adopt every server found in every agent's config\n"
                  "  -h, --help  Print help\n",
                  "", 0);
    expect_output(home.run({"init", "--help"}),
                  "Create the Commons skeleton and report what this machine already has\n"
                  "\n"
                  "Usage: mirthlode init\n"
                  "\n"
                  "Options:\n"
                  "  -h, --help  Print help\n",
                  "", 0);
    expect_output(home.run({"help", "help"}),
                  "Print this message or the help of the given subcommand(s)\n"
                  "\n"
                  "Usage: mirthlode help [COMMAND]...\n"
                  "\n"
                  "Arguments:\n"
                  "  [COMMAND]...  Print help for the subcommand(s)\n",
                  "", 0);
}

TEST(CommandLineHelp, BareMcpShowsItsHelpWithoutTheNotice) {
    Home home;
    const std::string mcp_help =
        "Manage MCP servers\n"
        "\n"
        "Usage: mirthlode mcp <COMMAND>\n"
        "\n"
        "Commands:\n"
        "  list     Show Commons servers and their state in every agent\n"
        "  adopt    Take an agent's existing server into the Commons\n"
        "  remove   Delete a server from the Commons and from every agent\n"
        "  disable  Park a server: keep its definition, render it nowhere\n"
        "  enable   Restore a disabled server to every targeted agent\n"
        "  help     Print this message or the help of the given subcommand(s)\n"
        "\n"
        "Options:\n"
        "  -h, --help  Print help\n";
    expect_output(home.run({"mcp"}), mcp_help, "", 0);
    expect_output(home.run({"help", "mcp"}), mcp_help, "", 0);
    expect_output(home.run({"mcp", "help"}), mcp_help, "", 0);
}

TEST(CommandLineVersion, TopLevelOnly) {
    Home home;
    expect_output(home.run({"--version"}), "mirthlode 2.0.6\n", "", 0);
    expect_output(home.run({"-V"}), "mirthlode 2.0.6\n", "", 0);
    expect_output(home.run({"sync", "--version"}), "",
                  error_text("unexpected argument '--version' found", "mirthlode sync [OPTIONS]"), 1);
}

TEST(CommandLineErrors, EachKindOnStandardErrorWithCodeOne) {
    Home home;
    expect_output(home.run({"snyc"}), "",
                  "error: unrecognized subcommand 'snyc'\n\n  tip: a similar subcommand exists: 'sync'\n\n"
                  "Usage: mirthlode <COMMAND>\n\nFor more information, try '--help'.\n",
                  1);
    expect_output(home.run({"xyzzy"}), "", error_text("unrecognized subcommand 'xyzzy'", "mirthlode <COMMAND>"), 1);
    expect_output(home.run({"sync", "--dry-rn"}), "",
                  "error: unexpected argument '--dry-rn' found\n\n  tip: a similar argument exists: '--dry-run'\n\n"
                  "Usage: mirthlode sync --dry-run\n\nFor more information, try '--help'.\n",
                  1);
    expect_output(home.run({"sync", "--dry-run=true"}), "",
                  error_text("unexpected value 'true' for '--dry-run' found; no more were expected",
                             "mirthlode sync --dry-run"),
                  1);
    expect_output(home.run({"status", "--dry-run"}), "",
                  error_text("unexpected argument '--dry-run' found", "mirthlode status [OPTIONS]"), 1);
    expect_output(home.run({"adopt", "--foo"}), "",
                  "error: unexpected argument '--foo' found\n\n  tip: to pass '--foo' as a value, use '-- --foo'\n\n"
                  "Usage: mirthlode adopt [OPTIONS] <PATH>\n\nFor more information, try '--help'.\n",
                  1);
    expect_output(home.run({"adopt"}), "",
                  error_text("the following required arguments were not provided:\n  <PATH>", "mirthlode adopt <PATH>"),
                  1);
    expect_output(home.run({"mcp", "remove"}), "",
                  error_text("the following required arguments were not provided:\n  <NAME>",
                             "mirthlode mcp remove <NAME>"),
                  1);
    expect_output(home.run({"revert", "a", "b"}), "",
                  error_text("unexpected argument 'b' found", "mirthlode revert <AGENT>"), 1);
    expect_output(home.run({"revert", "-1"}), "",
                  "error: unexpected argument '-1' found\n\n  tip: to pass '-1' as a value, use '-- -1'\n\n"
                  "Usage: mirthlode revert <AGENT>\n\nFor more information, try '--help'.\n",
                  1);
    expect_output(home.run({"help", "help", "x"}), "",
                  "error: unrecognized subcommand 'x'\n\nUsage: mirthlode help [COMMAND]...\n", 1);
    expect_output(home.run({"adopt", "\xff"}), "",
                  error_text("invalid UTF-8 was detected in one or more arguments",
                             "mirthlode adopt [OPTIONS] <PATH>"),
                  1);
}

TEST(CommandLineErrors, EscapedValuesReachTheCommand) {
    Home home;
    // Past the command line, the command itself answers (never a parser error).
    for (const auto& args : {std::vector<std::string>{"revert", "--", "-x"},
                             std::vector<std::string>{"mcp", "adopt"},
                             std::vector<std::string>{"mcp", "adopt", "claude/serena", "--all"}}) {
        auto r = home.run(args);
        EXPECT_EQ(r.err.find("Usage:"), std::string::npos) << r.err;
    }
}

}  // namespace
