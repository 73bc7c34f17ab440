#include "mcp/edit.h"

namespace mcp {

std::vector<AgentRemoval> remove_from_agents(const fs::path& home, const std::vector<core::Target>& targets,
                                             const std::string& name) {
    std::vector<AgentRemoval> removals;
    for (const core::Target& target : targets) {
        const core::AgentSpec* spec = target.spec;
        if (!spec || spec->mcp != core::McpMechanism::key_merge) continue;
        removals.push_back({target.name, core::remove_config_entry(home / fs::path(spec->mcp_file), spec->servers_key,
                                                                   spec->config_format == core::ConfigFormat::toml,
                                                                   name)});
    }
    return removals;
}

}  // namespace mcp
