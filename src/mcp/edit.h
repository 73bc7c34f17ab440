// Taking one server out of every agent, for `mcp remove` and `mcp disable`.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/config.h"
#include "core/context.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

struct AgentRemoval {
    std::string agent;
    util::Result<core::RemoveOutcome> outcome;
};

// Removes the entry of the Commons server `name` (whose definition is
// `server`) from the MCP file of every target whose servers are merged into
// a file of its own, in target order: an entry that is mirthlode's
// (is_mirthlode_entry) goes, the user's own entry of that name stays.
std::vector<AgentRemoval> remove_from_agents(const core::RunContext& ctx, const core::Config& config,
                                             const std::vector<core::Target>& targets, const std::string& name,
                                             const json::Value& server);

}  // namespace mcp
