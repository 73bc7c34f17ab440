#include "run.h"

#include <string_view>
#include <type_traits>

#include "core/agents.h"
#include "core/cli.h"
#include "core/config.h"
#include "core/report.h"
#include "fanout/sync.h"

namespace {

using core::Config;
using core::Reporter;
using core::RunContext;
using core::Subcommand;

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

int not_built(Reporter& reporter, std::string_view command) {
    reporter.report_error("`" + std::string(command) + "` is not available in this build yet");
    return 1;
}

int dispatch_mcp(const RunContext&, const Config&, Reporter& reporter, const core::McpCommand& mcp) {
    return std::visit(
        [&](const auto& cmd) -> int {
            using T = std::decay_t<decltype(cmd)>;
            if constexpr (std::is_same_v<T, core::McpCommand::List>) return not_built(reporter, "mcp list");
            if constexpr (std::is_same_v<T, core::McpCommand::Adopt>) return not_built(reporter, "mcp adopt");
            if constexpr (std::is_same_v<T, core::McpCommand::Remove>) return not_built(reporter, "mcp remove");
            if constexpr (std::is_same_v<T, core::McpCommand::Disable>) return not_built(reporter, "mcp disable");
            if constexpr (std::is_same_v<T, core::McpCommand::Enable>) return not_built(reporter, "mcp enable");
        },
        mcp.command);
}

int dispatch(const RunContext& ctx, const Config& config, Reporter& reporter, const Subcommand& sub) {
    return std::visit(
        [&](const auto& cmd) -> int {
            using T = std::decay_t<decltype(cmd)>;
            if constexpr (std::is_same_v<T, Subcommand::Sync>) return fanout::run_sync(ctx, config, reporter, cmd.dry_run);
            if constexpr (std::is_same_v<T, Subcommand::Init>) return not_built(reporter, "init");
            if constexpr (std::is_same_v<T, Subcommand::Adopt>) return not_built(reporter, "adopt");
            if constexpr (std::is_same_v<T, Subcommand::Revert>) return not_built(reporter, "revert");
            if constexpr (std::is_same_v<T, Subcommand::Status>) return not_built(reporter, "status");
            if constexpr (std::is_same_v<T, Subcommand::Mcp>) return dispatch_mcp(ctx, config, reporter, cmd.mcp);
            if constexpr (std::is_same_v<T, Subcommand::Doctor>) return not_built(reporter, "doctor");
        },
        sub.command);
}

void write_startup_error(std::ostream& err, std::string_view text) {
    err << "error: " << text << "\n";
    err.clear();
}

}  // namespace

int run(const std::vector<std::string>& args, const core::EnvPairs& env, std::ostream& out,
        std::ostream& err) {
    core::CliOutcome parsed = core::parse_command_line(args);
    if (!parsed.command) {
        (parsed.to_stdout ? out : err) << parsed.text;
        out.clear();
        err.clear();
        return parsed.exit_code;
    }

    auto ctx = core::resolve_context(core::EnvMap(env));
    if (!ctx) {
        write_startup_error(err, core::home_error_text);
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
