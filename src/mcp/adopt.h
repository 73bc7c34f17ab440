// What `mcp adopt` needs beside the read-back: the per-run allowlists, the
// settings written into mirthlode.toml and the credential warning.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agents.h"
#include "core/config_write.h"
#include "core/context.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

// The agent's MCP file under the home directory, for a built-in agent whose
// servers are merged into a file of its own; nothing for any other.
std::optional<fs::path> join_optional_under_root(const core::RunContext& ctx, const core::AgentSpec* spec);

// The agents each server has been adopted from in this run. A server taken
// from only some of the agents with an MCP file is scoped to them; once it
// has been taken from all of them, a list an earlier save of the same run
// wrote is taken back out, and what the file held before the run returns.
class PendingAllowlists {
public:
    explicit PendingAllowlists(std::size_t mcp_agents) : mcp_agents_(mcp_agents) {}

    // Adds the agent to the server's list; the edit of the server's `agents`
    // list that the save for this agent makes.
    core::AgentsEdit add(const std::string& server, const std::string& agent);
    // The save went through: `before` is what it found in the file.
    void saved(const std::string& server, const core::AgentsEdit& edit, const core::McpSettingsBefore& before);
    // The save failed: the agent is taken back out of the server's list.
    void failed(const std::string& server, std::string_view agent);

private:
    struct Pending {
        std::vector<std::string> agents;                   // in the order added
        std::optional<core::McpSettingsBefore> before_run;  // the first save's find
        bool wrote_list = false;                            // the file holds a list of this run
    };
    std::size_t mcp_agents_;
    std::map<std::string, Pending> servers_;
};

// Writes the allowlist edit and, when `tweak` holds a key, the agent's Tweak
// into mirthlode.toml; a Tweak TOML cannot hold fails before the file is read.
util::Result<core::McpSettingsBefore> save_mcp_config(const fs::path& config_dir, const std::string& server,
                                                      const core::AgentsEdit& agents, const json::Value& tweak,
                                                      const std::string& agent);

// The warning for env and headers values that look like credentials and are
// written out rather than taken from "${env:VAR}"; nothing when none does.
std::optional<std::string> credential_warning(std::string_view server_name, const json::Value& server);

}  // namespace mcp
