// What `mcp adopt` needs beside the read-back: the per-run allowlists, the
// Tweak as mirthlode.toml holds it and the credential warning.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/agents.h"
#include "core/context.h"
#include "json/json.h"
#include "toml/item.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

// The agent's MCP file under the home directory, for a built-in agent whose
// servers are merged into a file of its own; nothing for any other.
std::optional<fs::path> join_optional_under_root(const core::RunContext& ctx, const core::AgentSpec* spec);

// The agents each server has been adopted from in this run. A server taken
// from only some of the agents with an MCP file is scoped to them; one taken
// from all of them gets no list of this run.
class PendingAllowlists {
public:
    explicit PendingAllowlists(std::size_t mcp_agents) : mcp_agents_(mcp_agents) {}

    // Adds the agent to the server's list; the allowlist it now has.
    std::optional<std::vector<std::string>> add(const std::string& server, const std::string& agent);
    // The allowlist the server has: its list while it is shorter than the
    // number of agents with an MCP file, else none.
    std::optional<std::vector<std::string>> allowlist(const std::string& server) const;

private:
    std::size_t mcp_agents_;
    std::unordered_map<std::string, std::vector<std::string>> servers_;  // agents in the order added
};

// The Tweak of `agent` for `server` as a table of mirthlode.toml; nothing
// when it is empty. A value TOML cannot hold fails before any file is read.
util::Result<std::optional<toml::Table>> tweak_table(const std::string& server, const std::string& agent,
                                                     const json::Value& tweak);

// The warning for env and headers values that look like credentials and are
// written out rather than taken from "${env:VAR}"; nothing when none does.
std::optional<std::string> credential_warning(std::string_view server_name, const json::Value& server);

}  // namespace mcp
