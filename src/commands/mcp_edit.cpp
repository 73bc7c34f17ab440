#include "commands/mcp_edit.h"

#include <optional>
#include <utility>
#include <vector>

#include "core/agents.h"
#include "core/config_write.h"
#include "core/lock.h"
#include "mcp/edit.h"
#include "mcp/listing.h"
#include "mcp/merge.h"
#include "mcp/plan.h"
#include "mcp/servers.h"

namespace commands {

namespace {

namespace fs = std::filesystem;

fs::path commons_file(const core::RunContext& ctx) { return ctx.commons / "mcp.json"; }

// The Commons list holding `name`; nothing (reported) when it cannot be
// loaded or does not hold it. `verb` words the refusal.
std::optional<mcp::McpServers> load_holding(const core::RunContext& ctx, core::Reporter& reporter,
                                            const std::string& name, const char* verb) {
    auto servers = mcp::load_commons_servers(commons_file(ctx));
    if (!servers) {
        reporter.report_error(servers.error().message);
        return std::nullopt;
    }
    if (!servers->find(name)) {
        reporter.report_error("`" + name + "` is not in the Commons — mirthlode only " + verb +
                              " servers it manages");
        return std::nullopt;
    }
    return std::move(*servers);
}

// Takes the lock, then reads the Commons list again: a change another run
// made since the first read is kept, and a server it removed is refused.
// With `reads`, the agents' files are read into it meanwhile.
std::optional<mcp::McpServers> lock_and_reload(const core::RunContext& ctx, core::Reporter& reporter,
                                               const std::string& name, const char* verb,
                                               std::optional<core::ProcessLock>& lock,
                                               const core::Config* config = nullptr,
                                               core::AgentFileReads* reads = nullptr) {
    lock = core::take_lock(ctx, reporter);
    if (!lock) return std::nullopt;
    if (!reads) return load_holding(ctx, reporter, name, verb);
    std::optional<mcp::McpServers> servers;
    mcp::read_agent_files_alongside(ctx, core::select_targets(ctx.home, *config), *reads,
                                    [&] { servers = load_holding(ctx, reporter, name, verb); });
    return servers;
}

void remove_from_agents(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
                        const std::string& name, const mcp::McpServer& server) {
    for (auto& removal : mcp::remove_from_agents(ctx, config, core::select_targets(ctx.home, config), name, server)) {
        if (!removal.outcome) {
            reporter.report_error(removal.outcome.error().message);
        } else if (removal.outcome->removed) {
            reporter.print_line("removed " + name + " from " + removal.agent);
        }
    }
}

bool save(const core::RunContext& ctx, core::Reporter& reporter, const mcp::McpServers& servers) {
    if (auto saved = mcp::save_commons_servers(commons_file(ctx), servers); !saved) {
        reporter.report_error(saved.error().message);
        return false;
    }
    return true;
}

int exit_code(const core::Reporter& reporter) { return reporter.errors() > 0 ? 1 : 0; }

// The server planned alone, without its "disabled" mark, for every agent,
// keeping what `detail` says.
mcp::McpPlan plan_enabled(const core::RunContext& ctx, const core::Config& config, const std::string& name,
                          const mcp::McpServer& enabled, mcp::McpDetail detail,
                          core::AgentFileReads* reads = nullptr) {
    mcp::McpServers alone;
    alone.set(name, enabled);
    mcp::McpPlan plan;
    mcp::plan_mcp_agent(ctx, config, core::select_targets(ctx.home, config), alone, plan, true, reads, detail);
    return plan;
}

mcp::McpServer without_disabled(const mcp::McpServer& server) {
    mcp::McpServer copy = server;
    copy.erase("disabled");
    return copy;
}

// True, and said, when the server `name` is already disabled (`disabled`)
// or already enabled: the command has nothing to do.
bool already(core::Reporter& reporter, const mcp::McpServers& servers, const std::string& name, bool disabled) {
    if (mcp::server_disabled(*servers.find(name)) != disabled) return false;
    reporter.print_line(name + " is already " + (disabled ? "disabled" : "enabled"));
    return true;
}

// mirthlode.toml read again under the lock: another run may have changed a
// server's allowlist or Tweaks since this one started.
std::optional<core::Config> reload_config(const core::RunContext& ctx, core::Reporter& reporter) {
    auto settings = core::load_config(ctx.config_dir);
    if (!settings) {
        reporter.report_error(settings.error().message);
        return std::nullopt;
    }
    return std::move(*settings);
}

bool report_all(core::Reporter& reporter, const std::vector<std::string>& texts) {
    for (const auto& text : texts) reporter.report_error(text);
    return !texts.empty();
}

}  // namespace

int mcp_remove(const core::RunContext& ctx, const core::Config& /*config*/, core::Reporter& reporter,
               const std::string& name) {
    constexpr const char* verb = "removes";
    if (!load_holding(ctx, reporter, name, verb)) return 1;
    std::optional<core::ProcessLock> lock;
    auto servers = lock_and_reload(ctx, reporter, name, verb, lock);
    if (!servers) return 1;
    const auto settings = reload_config(ctx, reporter);
    if (!settings) return 1;

    remove_from_agents(ctx, *settings, reporter, name, *servers->find(name));
    if (auto removed = core::remove_mcp_settings(ctx.config_dir, name); !removed) {
        reporter.report_error(removed.error().message);
    }
    servers->erase(name);
    if (!save(ctx, reporter, *servers)) return 1;
    reporter.print_line("removed " + name + " from the Commons");
    return exit_code(reporter);
}

int mcp_disable(const core::RunContext& ctx, const core::Config& /*config*/, core::Reporter& reporter,
                const std::string& name) {
    constexpr const char* verb = "disables";
    auto first = load_holding(ctx, reporter, name, verb);
    if (!first) return 1;
    if (already(reporter, *first, name, true)) return 0;
    std::optional<core::ProcessLock> lock;
    auto servers = lock_and_reload(ctx, reporter, name, verb, lock);
    if (!servers) return 1;
    if (already(reporter, *servers, name, true)) return 0;
    const auto settings = reload_config(ctx, reporter);
    if (!settings) return 1;

    remove_from_agents(ctx, *settings, reporter, name, *servers->find(name));
    (*servers->find(name))["disabled"] = true;
    if (!save(ctx, reporter, *servers)) return 1;
    reporter.print_line("disabled " + name + " — definition kept; enable restores it everywhere");
    return exit_code(reporter);
}

int mcp_enable(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
               const std::string& name) {
    constexpr const char* verb = "enables";
    auto first = load_holding(ctx, reporter, name, verb);
    if (!first) return 1;
    if (already(reporter, *first, name, false)) return 0;
    // An unset ${env:VAR} ends the command here, before anything is locked;
    // the agents' files are read once, under the lock, unless it does.
    const auto unlocked = plan_enabled(ctx, config, name, without_disabled(*first->find(name)), mcp::McpDetail::errors);
    if (report_all(reporter, unlocked.errors)) return 1;

    std::optional<core::ProcessLock> lock;
    // The agents' files are read under the lock while the Commons list is;
    // an agent the reloaded settings leave out is read for nothing.
    core::AgentFileReads reads;
    auto servers = lock_and_reload(ctx, reporter, name, verb, lock, &config, &reads);
    if (!servers) return 1;
    if (already(reporter, *servers, name, false)) return 0;
    // The definition, the allowlists and the Tweaks as they are now, under the lock.
    const auto settings = reload_config(ctx, reporter);
    if (!settings) return 1;
    mcp::McpServer enabled = without_disabled(*servers->find(name));
    mcp::McpPlan plan = plan_enabled(ctx, *settings, name, enabled, mcp::McpDetail::full, &reads);
    reads.forget_all();  // the items alone hold the files now, and each merge takes its own over
    if (report_all(reporter, plan.errors)) return 1;
    report_all(reporter, plan.read_errors);

    servers->set(name, std::move(enabled));
    if (!save(ctx, reporter, *servers)) return 1;
    for (mcp::McpItem& item : plan.items) {
        if (item.server != name || !mcp::is_actionable(item.state)) continue;
        auto merged = mcp::merge_servers_into_agent_file(item.file, item.servers_key, item.toml, {&item},
                                                          std::move(item.read));
        if (!merged) {
            reporter.report_error(merged.error().message);
            continue;
        }
        reporter.print_line("restored " + name + " to " + std::string(item.agent));
        if (merged->mode) reporter.report_warning(mcp::secrets_mode_warning(merged->written, *merged->mode));
    }
    reporter.print_line("enabled " + name);
    return exit_code(reporter);
}

}  // namespace commands
