// Taking one server out of every agent, for `mcp remove` and `mcp disable`.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

struct AgentRemoval {
    std::string agent;
    util::Result<core::RemoveOutcome> outcome;
};

// Removes the entry `name` from the MCP file of every target whose servers
// are merged into a file of its own, in target order, whoever wrote it.
std::vector<AgentRemoval> remove_from_agents(const fs::path& home, const std::vector<core::Target>& targets,
                                             const std::string& name);

}  // namespace mcp
