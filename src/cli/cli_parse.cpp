#include "cli/cli_parse.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "cli/cli_help.h"
#include "cli/cli_suggest.h"
#include "util/text.h"
#include "util/utf8.h"

namespace cli {

namespace {

using Outcome = util::Result<ArgMatches, CliMessage>;
using Given = std::vector<const ArgDef*>;

CliMessage page(std::string text) { return CliMessage{std::move(text), false}; }

CliMessage failure(const CommandPath& path, std::string_view message, const std::vector<std::string>& tips,
                   std::string_view usage) {
    return CliMessage{render_error(path, message, tips, usage), true};
}

CliMessage invalid_utf8(const CommandPath& path) {
    return failure(path, "invalid UTF-8 was detected in one or more arguments", {}, help_usage(path));
}

std::string quoted_list(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "'" : ", '") + name + "'";
    return text;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& args) : args_(args) {}

    Outcome parse(CommandPath& path);

private:
    std::optional<CliMessage> long_flag(const CommandPath& path, std::string_view text, ArgMatches& matches,
                                        Given& given);
    CliMessage unknown_long(const CommandPath& path, std::string_view name, Given given) const;
    CliMessage short_flags(const CommandPath& path, std::string_view cluster) const;
    CliMessage stray(const CommandPath& path, const std::string& arg, bool after_escape) const;
    CliMessage help_walk(CommandPath path);

    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
};

Outcome Parser::parse(CommandPath& path) {
    const CommandDef& cmd = *path.back();
    std::vector<const ArgDef*> positionals;
    for (const auto& arg : cmd.args) {
        if (arg.kind == ArgDef::Kind::positional) positionals.push_back(&arg);
    }
    ArgMatches matches;
    Given given;
    std::size_t filled = 0;
    bool after_escape = false;

    while (next_ < args_.size()) {
        const std::string& arg = args_[next_++];
        if (!util::is_utf8(arg)) return invalid_utf8(path);
        if (!after_escape) {
            if (arg == "--") {
                after_escape = true;
                continue;
            }
            if (arg.rfind("--", 0) == 0) {
                if (auto answer = long_flag(path, std::string_view(arg).substr(2), matches, given)) return *answer;
                continue;
            }
            if (arg.size() > 1 && arg[0] == '-') return short_flags(path, std::string_view(arg).substr(1));
            if (const CommandDef* sub = cmd.find_subcommand(arg)) {
                if (sub == &help_command()) return help_walk(path);
                path.push_back(sub);
                Outcome sub_matches = parse(path);
                path.pop_back();
                if (!sub_matches) return sub_matches;
                matches.subcommand = sub->name;
                matches.sub = std::make_shared<const ArgMatches>(std::move(*sub_matches));
                return matches;  // the subcommand took the rest of the line
            }
        }
        if (filled == positionals.size()) return stray(path, arg, after_escape);
        matches.values[std::string(positionals[filled]->id)] = arg;
        given.push_back(positionals[filled++]);
    }

    // A command with subcommands takes no arguments of its own, so reaching
    // the end without a subcommand means it was given nothing: show its help.
    if (!cmd.subcommands.empty()) return page(render_help(path, false));

    Given missing;
    for (std::size_t i = filled; i < positionals.size(); ++i) {
        if (positionals[i]->required) missing.push_back(positionals[i]);
    }
    if (!missing.empty()) {
        std::string message = "the following required arguments were not provided:";
        for (const ArgDef* arg : missing) message += "\n  <" + std::string(arg->name) + ">";
        given.insert(given.end(), missing.begin(), missing.end());
        return failure(path, message, {}, given_usage(path, given));
    }
    return matches;
}

std::optional<CliMessage> Parser::long_flag(const CommandPath& path, std::string_view text, ArgMatches& matches,
                                            Given& given) {
    const CommandDef& cmd = *path.back();
    const auto eq = text.find('=');
    const std::string_view name = text.substr(0, eq);
    const ArgDef* def = cmd.find_flag(name);
    if (cmd.help_flag && name == "help") def = &help_arg();
    if (!cmd.version.empty() && name == "version") def = &version_arg();
    if (def == nullptr) return unknown_long(path, name, given);

    if (eq != std::string_view::npos) {
        Given shown = given;
        shown.push_back(def);
        return failure(path,
                       "unexpected value '" + std::string(text.substr(eq + 1)) + "' for '--" + std::string(name) +
                           "' found; no more were expected",
                       {}, given_usage(path, shown));
    }
    if (def == &help_arg()) return page(render_help(path, true));
    if (def == &version_arg()) return page(render_version(cmd));
    if (matches.flag(def->id)) {
        return failure(path, "the argument '--" + std::string(name) + "' cannot be used multiple times", {},
                       help_usage(path));
    }
    matches.flags.emplace_back(def->id);
    given.push_back(def);
    return std::nullopt;
}

std::vector<std::string> long_names(const CommandDef& cmd) {
    std::vector<std::string> names;
    for (const auto& arg : cmd.args) {
        if (arg.kind == ArgDef::Kind::flag) names.emplace_back(arg.name);
    }
    if (cmd.help_flag) names.emplace_back("help");
    if (!cmd.version.empty()) names.emplace_back("version");
    return names;
}

CliMessage Parser::unknown_long(const CommandPath& path, std::string_view name, Given given) const {
    const CommandDef& cmd = *path.back();
    const std::string flag = "--" + std::string(name);
    std::vector<std::string> tips;
    auto similar = similar_names(name, long_names(cmd));
    if (!similar.empty()) {
        const std::string& best = similar.back();
        tips.push_back("a similar argument exists: '--" + best + "'");
        given.push_back(best == "help" ? &help_arg() : best == "version" ? &version_arg() : cmd.find_flag(best));
        return failure(path, "unexpected argument '" + flag + "' found", tips, given_usage(path, given));
    }

    // The flag may belong to a subcommand named later on the line.
    std::optional<std::size_t> nearest;
    std::string hint;
    for (const auto& sub : cmd.subcommands) {
        auto sub_similar = similar_names(name, long_names(sub));
        auto at = std::find(args_.begin() + static_cast<std::ptrdiff_t>(next_), args_.end(), sub.name);
        if (sub_similar.empty() || at == args_.end()) continue;
        auto distance = static_cast<std::size_t>(at - args_.begin());
        if (nearest && *nearest <= distance) continue;
        nearest = distance;
        hint = "'" + std::string(sub.name) + " --" + sub_similar.back() + "' exists";
    }
    if (nearest) {
        tips.push_back(hint);
    } else if (cmd.has_positionals()) {
        tips.push_back("to pass '" + flag + "' as a value, use '-- " + flag + "'");
    }
    return failure(path, "unexpected argument '" + flag + "' found", tips, given_usage(path, given));
}

CliMessage Parser::short_flags(const CommandPath& path, std::string_view cluster) const {
    const CommandDef& cmd = *path.back();
    const auto first = util::decode_utf8(cluster, 0);
    if (cmd.help_flag && first.value == U'h') return page(render_help(path, false));
    if (!cmd.version.empty() && first.value == U'V') return page(render_version(cmd));
    const std::string flag = "-" + std::string(cluster.substr(0, first.length));
    std::vector<std::string> tips;
    if (cmd.has_positionals()) tips.push_back("to pass '" + flag + "' as a value, use '-- " + flag + "'");
    return failure(path, "unexpected argument '" + flag + "' found", tips, help_usage(path));
}

CliMessage Parser::stray(const CommandPath& path, const std::string& arg, bool after_escape) const {
    const CommandDef& cmd = *path.back();
    if (after_escape && cmd.find_subcommand(arg) != nullptr) {
        return failure(path, "unexpected argument '--' found",
                       {"subcommand '" + arg + "' exists; to use it, remove the '--' before it"}, help_usage(path));
    }
    if (cmd.subcommands.empty()) return failure(path, "unexpected argument '" + arg + "' found", {}, help_usage(path));

    std::vector<std::string> names;
    for (const auto& sub : cmd.subcommands) names.emplace_back(sub.name);
    names.emplace_back(help_command().name);
    auto similar = similar_names(arg, names);
    std::vector<std::string> tips;
    if (similar.size() == 1) tips.push_back("a similar subcommand exists: " + quoted_list(similar));
    if (similar.size() > 1) tips.push_back("some similar subcommands exist: " + quoted_list(similar));
    return failure(path, "unrecognized subcommand '" + arg + "'", tips, help_usage(path));
}

// `help NAME...`: the long help of the command the names lead to.
CliMessage Parser::help_walk(CommandPath path) {
    while (next_ < args_.size()) {
        const std::string& name = args_[next_++];
        if (!util::is_utf8(name)) return invalid_utf8(path);
        const CommandDef* sub = path.back()->find_subcommand(name);
        if (sub == nullptr) return failure(path, "unrecognized subcommand '" + name + "'", {}, help_usage(path));
        path.push_back(sub);
    }
    return page(render_help(path, true));
}

}  // namespace

util::Result<ArgMatches, CliMessage> parse_args(const CommandDef& top, const std::vector<std::string>& args) {
    CommandPath path{&top};
    return Parser(args).parse(path);
}

}  // namespace cli
