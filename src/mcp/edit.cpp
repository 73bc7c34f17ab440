#include "mcp/edit.h"

#include "mcp/plan.h"

namespace mcp {

std::vector<AgentRemoval> remove_from_agents(const core::RunContext& ctx, const core::Config& config,
                                             const std::vector<core::Target>& targets, const std::string& name,
                                             const json::Value& server) {
    std::vector<AgentRemoval> removals;
    for (const core::Target& target : targets) {
        const core::AgentSpec* spec = target.spec;
        if (!spec || spec->mcp != core::McpMechanism::key_merge) continue;
        auto ours = [&](const std::string& entry_name, const json::Value& held) {
            return is_mirthlode_entry(ctx, config, *spec, target.name, entry_name, server, held);
        };
        auto removed = core::remove_config_entries(ctx.home / fs::path(spec->mcp_file), spec->servers_key,
                                                   spec->config_format == core::ConfigFormat::toml, {name}, ours);
        if (!removed) {
            removals.push_back({target.name, removed.error()});
        } else {
            removals.push_back({target.name, core::RemoveOutcome{!removed->names.empty(), std::move(removed->written)}});
        }
    }
    return removals;
}

}  // namespace mcp
