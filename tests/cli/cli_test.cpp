// The command line: what each argument list parses to, which lists are
// refused, and the suggestion measure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_suggest.h"

namespace {

using namespace cli;
using Args = std::vector<std::string>;

template <class... F>
struct Overload : F... {
    using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

std::string flag(bool value) { return value ? "1" : "0"; }

std::string describe(const McpCommand& mcp) {
    return std::visit(Overload{
                          [](const McpCommand::List& c) { return "mcp list json=" + flag(c.json); },
                          [](const McpCommand::Adopt& c) {
                              return "mcp adopt spec=" + c.spec.value_or("<none>") + " all=" + flag(c.all);
                          },
                          [](const McpCommand::Remove& c) { return "mcp remove " + c.name; },
                          [](const McpCommand::Disable& c) { return "mcp disable " + c.name; },
                          [](const McpCommand::Enable& c) { return "mcp enable " + c.name; },
                      },
                      mcp.command);
}

std::string describe(const Subcommand& sub) {
    return std::visit(Overload{
                          [](const Subcommand::Sync& c) { return "sync dry_run=" + flag(c.dry_run); },
                          [](const Subcommand::Init&) { return std::string("init"); },
                          [](const Subcommand::Adopt& c) {
                              return "adopt path=" + c.path + " dry_run=" + flag(c.dry_run);
                          },
                          [](const Subcommand::Revert& c) { return "revert agent=" + c.agent; },
                          [](const Subcommand::Status& c) { return "status json=" + flag(c.json); },
                          [](const Subcommand::Mcp& c) { return describe(c.mcp); },
                          [](const Subcommand::Doctor&) { return std::string("doctor"); },
                      },
                      sub.command);
}

CliOutcome parse(Args args) {
    args.insert(args.begin(), "/usr/local/bin/mirthlode");
    return parse_command_line(args);
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(CommandLine, ParsesEveryCommandAndItsValues) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"sync"}, "sync dry_run=0"},
        {{"sync", "--dry-run"}, "sync dry_run=1"},
        {{"init"}, "init"},
        {{"adopt", "p"}, "adopt path=p dry_run=0"},
        {{"adopt", "--dry-run", "p"}, "adopt path=p dry_run=1"},
        {{"adopt", "p", "--dry-run"}, "adopt path=p dry_run=1"},
        {{"adopt", "++"}, "adopt path=++ dry_run=0"},
        {{"adopt", "-"}, "adopt path=- dry_run=0"},
        {{"adopt", "~/.claude/skills/ünïcode"}, "adopt path=~/.claude/skills/ünïcode dry_run=0"},
        {{"adopt", ""}, "adopt path= dry_run=0"},
        {{"revert", "claude"}, "revert agent=claude"},
        {{"revert", "--", "-x"}, "revert agent=-x"},
        {{"revert", "--", "--"}, "revert agent=--"},
        {{"adopt", "--dry-run", "--", "--help"}, "adopt path=--help dry_run=1"},
        {{"status"}, "status json=0"},
        {{"status", "--json"}, "status json=1"},
        {{"mcp", "list"}, "mcp list json=0"},
        {{"mcp", "list", "--json"}, "mcp list json=1"},
        {{"mcp", "adopt"}, "mcp adopt spec=<none> all=0"},
        {{"mcp", "adopt", "--all"}, "mcp adopt spec=<none> all=1"},
        {{"mcp", "adopt", "claude/serena", "--all"}, "mcp adopt spec=claude/serena all=1"},
        {{"mcp", "remove", "serena"}, "mcp remove serena"},
        {{"mcp", "disable", "serena"}, "mcp disable serena"},
        {{"mcp", "enable", "serena"}, "mcp enable serena"},
        {{"doctor"}, "doctor"},
    };
    for (const auto& [args, expected] : cases) {
        auto outcome = parse(args);
        ASSERT_TRUE(outcome.command) << expected << "\n" << outcome.text;
        EXPECT_EQ(describe(*outcome.command), expected);
    }
}

TEST(CommandLine, RefusesWhatCannotBePlaced) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"snyc"}, "error: unrecognized subcommand 'snyc'"},
        {{"mcp", "lst"}, "error: unrecognized subcommand 'lst'"},
        {{"sync", "--dry-rn"}, "error: unexpected argument '--dry-rn' found"},
        {{"sync", "--dry-run=true"}, "error: unexpected value 'true' for '--dry-run' found; no more were expected"},
        {{"sync", "--dry-run="}, "error: unexpected value '' for '--dry-run' found; no more were expected"},
        {{"sync", "--dry-run", "--dry-run"}, "error: the argument '--dry-run' cannot be used multiple times"},
        {{"sync", "--version"}, "error: unexpected argument '--version' found"},
        {{"sync", "-V"}, "error: unexpected argument '-V' found"},
        {{"sync", "extra"}, "error: unexpected argument 'extra' found"},
        {{"status", "--dry-run"}, "error: unexpected argument '--dry-run' found"},
        {{"revert", "-1"}, "error: unexpected argument '-1' found"},
        {{"revert", "a", "b"}, "error: unexpected argument 'b' found"},
        {{"revert", "--", "a", "b"}, "error: unexpected argument 'b' found"},
        {{"adopt"}, "error: the following required arguments were not provided:"},
        {{"revert"}, "error: the following required arguments were not provided:"},
        {{"mcp", "remove"}, "error: the following required arguments were not provided:"},
        {{"mcp", "adopt", "a", "b"}, "error: unexpected argument 'b' found"},
        {{"--foo"}, "error: unexpected argument '--foo' found"},
        {{"-x"}, "error: unexpected argument '-x' found"},
        {{"--", "sync"}, "error: unexpected argument '--' found"},
        {{"help", "snyc"}, "error: unrecognized subcommand 'snyc'"},
        {{"help", "sync", "--dry-run"}, "error: unrecognized subcommand '--dry-run'"},
        {{"sync", "help"}, "error: unexpected argument 'help' found"},
        {{"adopt", std::string("\xff\xfe")}, "error: invalid UTF-8 was detected in one or more arguments"},
    };
    for (const auto& [args, expected] : cases) {
        auto outcome = parse(args);
        EXPECT_FALSE(outcome.command) << expected;
        EXPECT_FALSE(outcome.to_stdout) << expected;
        EXPECT_EQ(outcome.exit_code, 1) << expected;
        EXPECT_EQ(first_line(outcome.text), expected);
    }
}

TEST(CommandLine, AnswersHelpAndVersionOnStandardOutput) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{}, "One canonical .agents/ folder, fanned out to all your AI coding agents"},
        {{"-h"}, "One canonical .agents/ folder, fanned out to all your AI coding agents"},
        {{"--help"}, "One canonical .agents/ folder, fanned out to all your AI coding agents."},
        {{"help"}, "One canonical .agents/ folder, fanned out to all your AI coding agents."},
        {{"--"}, "One canonical .agents/ folder, fanned out to all your AI coding agents"},
        {{"-hV"}, "One canonical .agents/ folder, fanned out to all your AI coding agents"},
        {{"--help", "--bogus"}, "One canonical .agents/ folder, fanned out to all your AI coding agents."},
        {{"-V"}, "mirthlode 2.0.6"},
        {{"--version", "sync"}, "mirthlode 2.0.6"},
        {{"mcp"}, "Manage MCP servers"},
        {{"mcp", "help", "list"}, "Show Commons servers and their state in every agent"},
        {{"help", "mcp", "list"}, "Show Commons servers and their state in every agent"},
        {{"help", "adopt"}, "Take a path under management; where it lives picks the mechanic."},
        {{"adopt", "-h"}, "Take a path under management; where it lives picks the mechanic"},
        {{"adopt", "--help"}, "Take a path under management; where it lives picks the mechanic."},
        {{"help", "help"}, "Print this message or the help of the given subcommand(s)"},
    };
    for (const auto& [args, expected] : cases) {
        auto outcome = parse(args);
        EXPECT_FALSE(outcome.command) << expected;
        EXPECT_TRUE(outcome.to_stdout) << expected;
        EXPECT_EQ(outcome.exit_code, 0) << expected;
        EXPECT_EQ(first_line(outcome.text), expected);
    }
}

TEST(CommandLine, NoticeEndsOnlyTheTopLevelHelp) {
    const std::string notice_start = "mirthlode has been renamed to quelbrook.";
    for (Args args : {Args{}, Args{"-h"}, Args{"--help"}, Args{"help"}}) {
        auto text = parse(args).text;
        EXPECT_NE(text.find(notice_start), std::string::npos);
        EXPECT_EQ(text.substr(text.size() - 28), "Home: https://quelbrook.dev\n");
    }
    for (Args args : {Args{"sync", "--help"}, Args{"mcp"}, Args{"help", "adopt"}, Args{"mcp", "list", "-h"}}) {
        EXPECT_EQ(parse(args).text.find(notice_start), std::string::npos);
    }
}

TEST(CommandLine, TipsNameTheSimilarName) {
    auto tip_of = [](Args args) {
        auto text = parse(args).text;
        auto at = text.find("  tip: ");
        return at == std::string::npos ? std::string() : first_line(text.substr(at + 7));
    };
    EXPECT_EQ(tip_of({"snyc"}), "a similar subcommand exists: 'sync'");
    EXPECT_EQ(tip_of({"mcp", "disabel"}), "a similar subcommand exists: 'disable'");
    EXPECT_EQ(tip_of({"sync", "--dry-rn"}), "a similar argument exists: '--dry-run'");
    EXPECT_EQ(tip_of({"--dry-run", "sync"}), "'sync --dry-run' exists");
    EXPECT_EQ(tip_of({"adopt", "--foo"}), "to pass '--foo' as a value, use '-- --foo'");
    EXPECT_EQ(tip_of({"revert", "-x"}), "to pass '-x' as a value, use '-- -x'");
    EXPECT_EQ(tip_of({"--", "sync"}), "subcommand 'sync' exists; to use it, remove the '--' before it");
    EXPECT_EQ(tip_of({"xyzzy"}), "");
    EXPECT_EQ(tip_of({"sync", "--version"}), "");
}

TEST(CommandLine, ConversionReportsWhatTheParseLacks) {
    ArgMatches adopt_without_path;
    adopt_without_path.subcommand = "adopt";
    adopt_without_path.sub = std::make_shared<const ArgMatches>();
    auto converted = to_subcommand(adopt_without_path);
    ASSERT_FALSE(converted);
    EXPECT_EQ(converted.error().message, "the following required argument was not provided: path");

    EXPECT_EQ(to_subcommand(ArgMatches{}).error().message, "a subcommand is required but one was not provided");

    ArgMatches unknown;
    unknown.subcommand = "frobnicate";
    unknown.sub = std::make_shared<const ArgMatches>();
    EXPECT_EQ(to_subcommand(unknown).error().message, "the subcommand 'frobnicate' wasn't recognized");

    ArgMatches remove_without_name;
    remove_without_name.subcommand = "remove";
    remove_without_name.sub = std::make_shared<const ArgMatches>();
    EXPECT_EQ(parse_mcp_command(remove_without_name).error().message,
              "the following required argument was not provided: name");
}

TEST(Suggestions, JaroSimilarityMatchesKnownValues) {
    EXPECT_DOUBLE_EQ(jaro_similarity("", ""), 1.0);
    EXPECT_DOUBLE_EQ(jaro_similarity("a", ""), 0.0);
    EXPECT_DOUBLE_EQ(jaro_similarity("sync", "sync"), 1.0);
    EXPECT_DOUBLE_EQ(jaro_similarity("abc", "xyz"), 0.0);
    EXPECT_NEAR(jaro_similarity("MARTHA", "MARHTA"), 0.944444, 1e-6);
    EXPECT_NEAR(jaro_similarity("DIXON", "DICKSONX"), 0.766667, 1e-6);
    EXPECT_NEAR(jaro_similarity("snyc", "sync"), 0.916667, 1e-6);
    // Characters, not bytes: one accented letter differs by one character.
    EXPECT_NEAR(jaro_similarity("café", "cafe"), jaro_similarity("cafx", "cafe"), 1e-12);
}

TEST(Suggestions, SimilarNamesAreAboveTheThresholdLeastSimilarFirst) {
    EXPECT_EQ(similar_names("a", {"sync", "adopt", "status"}), (std::vector<std::string>{"status", "adopt"}));
    EXPECT_EQ(similar_names("qqq", {"sync", "adopt"}), std::vector<std::string>{});
    EXPECT_EQ(similar_names("enable", {"enable", "disable"}), (std::vector<std::string>{"disable", "enable"}));
}

}  // namespace
