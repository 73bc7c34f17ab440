#include "run.h"

#include <string_view>
#include <type_traits>

#include "cli/cli.h"
#include "commands/adopt.h"
#include "commands/doctor.h"
#include "commands/init.h"
#include "commands/mcp_adopt.h"
#include "commands/mcp_edit.h"
#include "commands/mcp_list.h"
#include "commands/revert.h"
#include "commands/status.h"
#include "commands/sync.h"
#include "core/agents.h"
#include "core/config.h"
#include "core/report.h"
#include "util/escape.h"

namespace {

using core::Config;
using core::Reporter;
using core::RunContext;
using cli::Subcommand;

bool is_builtin_agent(std::string_view name) { return core::agent_by_name(name) != nullptr; }

std::string unknown_agent_text(const std::string& server, const std::string& agent) {
    return "mcp." + server + " names `" + agent + "`, which is not an agent mirthlode knows about";
}

// The first agent named by an allowlist or a Tweak that is not built in:
// servers in name order, each server's list before its Tweaks.
std::optional<std::string> check_mcp_agent_names(const Config& config) {
    for (const auto& [server, settings] : config.mcp) {
        for (const auto& agent : settings.agents.value_or(std::vector<std::string>{})) {
            if (!is_builtin_agent(agent)) return unknown_agent_text(server, agent);
        }
        for (const auto& [agent, tweak] : settings.tweaks) {
            if (!is_builtin_agent(agent)) return unknown_agent_text(server, agent);
        }
    }
    return std::nullopt;
}

int dispatch_mcp(const RunContext& ctx, const Config& config, Reporter& reporter, const cli::McpCommand& mcp) {
    using Mcp = cli::McpCommand;
    return std::visit(
        [&](const auto& cmd) -> int {
            using T = std::decay_t<decltype(cmd)>;
            if constexpr (std::is_same_v<T, Mcp::List>) return commands::mcp_list(ctx, config, reporter, cmd.json);
            if constexpr (std::is_same_v<T, Mcp::Adopt>) {
                return commands::mcp_adopt(ctx, config, reporter, cmd.spec, cmd.all);
            }
            if constexpr (std::is_same_v<T, Mcp::Remove>) return commands::mcp_remove(ctx, config, reporter, cmd.name);
            if constexpr (std::is_same_v<T, Mcp::Disable>) return commands::mcp_disable(ctx, config, reporter, cmd.name);
            if constexpr (std::is_same_v<T, Mcp::Enable>) return commands::mcp_enable(ctx, config, reporter, cmd.name);
        },
        mcp.command);
}

int dispatch(const RunContext& ctx, const Config& config, Reporter& reporter, const Subcommand& sub) {
    return std::visit(
        [&](const auto& cmd) -> int {
            using T = std::decay_t<decltype(cmd)>;
            if constexpr (std::is_same_v<T, Subcommand::Sync>) return commands::sync(ctx, config, reporter, cmd.dry_run);
            if constexpr (std::is_same_v<T, Subcommand::Init>) return commands::init(ctx, config, reporter);
            if constexpr (std::is_same_v<T, Subcommand::Adopt>) {
                return commands::adopt(ctx, config, reporter, cmd.path, cmd.dry_run);
            }
            if constexpr (std::is_same_v<T, Subcommand::Revert>) return commands::revert(ctx, config, reporter, cmd.agent);
            if constexpr (std::is_same_v<T, Subcommand::Status>) return commands::status(ctx, config, reporter, cmd.json);
            if constexpr (std::is_same_v<T, Subcommand::Mcp>) return dispatch_mcp(ctx, config, reporter, cmd.mcp);
            if constexpr (std::is_same_v<T, Subcommand::Doctor>) return commands::doctor(ctx, config, reporter);
        },
        sub.command);
}

void write_startup_error(std::ostream& err, std::string_view text) {
    err << "error: " << util::escaped(text) << "\n";
    err.clear();
}

}  // namespace

int run(const std::vector<std::string>& args, const core::EnvPairs& env, std::ostream& out,
        std::ostream& err) {
    cli::CliOutcome parsed = cli::parse_command_line(args);
    if (!parsed.command) {
        (parsed.to_stdout ? out : err) << parsed.text;
        out.clear();
        err.clear();
        return parsed.exit_code;
    }

    auto ctx = core::resolve_context(core::EnvMap(env));
    if (!ctx) {
        write_startup_error(err, ctx.error().message);
        return 1;
    }

    auto config = core::load_config(ctx->config_dir);
    if (!config) {
        write_startup_error(err, config.error().message);
        return 1;
    }
    if (auto bad = check_mcp_agent_names(*config)) {
        write_startup_error(err, *bad);
        return 1;
    }

    Reporter reporter(out, err);
    return dispatch(*ctx, *config, reporter, *parsed.command);
}
