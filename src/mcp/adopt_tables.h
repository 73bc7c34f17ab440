// The servers `mcp adopt` takes, and the agents' servers tables they are
// taken from.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/context.h"
#include "mcp/json_object.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

// One server to adopt: the agent it comes from and its name there.
struct Candidate {
    const core::Target* target;
    std::string server;
};

// The servers tables of the agents' MCP files, each file read once in a
// run, under the lock.
class AgentTables {
public:
    // The servers table of the target's MCP file `file`.
    const util::Result<IndexedObject>& table(const core::Target& target, const fs::path& file);

private:
    std::map<fs::path, util::Result<IndexedObject>> tables_;
};

// Every server of every agent among `targets` that has an MCP file, in
// target and then table order; the texts of tables that cannot be read go
// to `errors`.
std::vector<Candidate> every_server(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                    AgentTables& tables, std::vector<std::string>& errors);

}  // namespace mcp
