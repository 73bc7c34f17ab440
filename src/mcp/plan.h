// Per agent and Commons server: the state of the agent's entry and the entry
// it should hold.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/config.h"
#include "core/context.h"
#include "json/json.h"
#include "mcp/servers.h"

namespace mcp {

namespace fs = std::filesystem;

enum class McpState : unsigned char { managed, missing, drifted, foreign, excluded, stranded, disabled };

// The word reports print for the state.
std::string_view state_word(McpState state);
// missing, drifted and disabled: the states sync changes.
bool is_actionable(McpState state);

// A path that many items name, held once: it reads as the path itself.
class SharedPath {
public:
    SharedPath();
    explicit SharedPath(fs::path path) : path_(std::make_shared<const fs::path>(std::move(path))) {}

    const fs::path& path() const { return *path_; }
    operator const fs::path&() const { return *path_; }

    friend bool operator==(const SharedPath& a, const SharedPath& b) {
        return a.path_ == b.path_ || *a.path_ == *b.path_;
    }
    friend bool operator==(const SharedPath& a, const fs::path& b) { return *a.path_ == b; }

private:
    std::shared_ptr<const fs::path> path_;
};

struct McpItem {
    std::string_view agent;  // a built-in agent's name, held by the agent table
    std::string server;
    SharedPath file;                      // the agent's MCP configuration file
    std::vector<std::string> keys;        // differing keys of a drifted item
    std::optional<json::Value> expected;  // missing and drifted only: what a merge writes
    std::string_view servers_key;         // held by the agent table
    bool toml = false;
    bool resolved = false;  // the expected entry holds a value expanded from "${env:VAR}"
    McpState state = McpState::managed;
    // Missing and drifted items: the agent's file as planning read it, for
    // the merge (shared by the items of one file).
    std::shared_ptr<const core::AgentFileRead> read;
};

// What a plan keeps beyond each item's agent, server and state.
enum class McpDetail : unsigned char {
    // Everything a merge and a report need: the expected entry, the keys
    // that differ, whether values were resolved, the file as read.
    full,
    // Nothing more: for a listing of states.
    states,
    // No items at all, only the translation errors: an agent's file is read
    // only when a server does not translate for it, for an agent whose file
    // cannot be read plans nothing and so gives no error.
    errors,
};

struct McpPlan {
    std::vector<McpItem> items;             // targets in order; per target, Commons
                                            // servers by name, then foreign entries
    std::vector<std::string> read_errors;   // agents whose MCP file could not be read
    std::vector<std::string> errors;        // mcp.json's load error, or translation errors
};

// Plans the Commons mcp.json against every key-merge agent among `targets`.
// A path that is missing or not a regular file gives an empty plan. Without
// `keep_managed` the plan holds no item whose state is managed.
// Agents' files are read through `reads` when given.
McpPlan plan_mcp(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                 const fs::path& commons_mcp, bool keep_managed = true, core::AgentFileReads* reads = nullptr);

// Runs `alongside` while the file of every key-merge agent among `targets`
// is read into `reads`, side by side: planning then finds them read. A file
// that cannot be read is reported by the planning that asks for it.
void read_agent_files_alongside(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                core::AgentFileReads& reads, const std::function<void()>& alongside);

// plan_mcp_agent for the servers `load` gives (nullptr: none, nothing is
// planned), each agent's file read while `load` runs and planned as soon as
// both are there (`load` must not wait on work of the shared thread pool:
// the tasks waiting for it hold threads); without `reads`, an agent's file lives no longer than its
// planning unless an item keeps it for a merge.
void plan_mcp_loading(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                      const std::function<const McpServers*()>& load, McpPlan& plan, bool keep_managed = true,
                      core::AgentFileReads* reads = nullptr, McpDetail detail = McpDetail::full);

// Appends the items of these Commons servers (in name order) for every
// key-merge agent among `targets` to `plan`, keeping what `detail` says.
void plan_mcp_agent(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                    const McpServers& servers, McpPlan& plan, bool keep_managed = true,
                    core::AgentFileReads* reads = nullptr, McpDetail detail = McpDetail::full);

// Whether the agent's entry `held` is a copy of mirthlode's: it equals what
// mirthlode writes for Commons server `name` into `agent` (a built-in agent
// of row `spec`), the server translated into the agent's dialect without its
// "disabled" mark, the agent's Tweak from `config` merged, "${env:VAR}"
// references expanded. An entry that cannot be told (the translation fails,
// for example on an unset variable) counts as the user's.
bool is_commons_copy(const core::RunContext& ctx, const core::Config& config, const core::AgentSpec& spec,
                     const std::string& agent, const std::string& name, const json::Value& server,
                     const json::Value& held);

// Whether the agent's entry `held` of the Commons server `name` is
// mirthlode's to restore or take out. With no allowlist, or one that names
// the agent, every entry of that name is. Outside the allowlist only an
// entry equal to what mirthlode would write there is (is_commons_copy); any
// other entry is the user's own.
bool is_mirthlode_entry(const core::RunContext& ctx, const core::Config& config, const core::AgentSpec& spec,
                        const std::string& agent, const std::string& name, const json::Value& server,
                        const json::Value& held);

// The note reports print beside the item.
std::string mcp_note(const McpItem& item);

}  // namespace mcp
