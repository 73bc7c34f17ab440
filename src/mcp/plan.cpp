#include "mcp/plan.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "mcp/diff.h"
#include "mcp/dialect.h"
#include "mcp/env_refs.h"
#include "mcp/json_object.h"
#include "platform/platform.h"
#include "platform/tasks.h"

namespace mcp {

namespace {

bool is_disabled(const json::Value& server) {
    auto it = server.find("disabled");
    return it != server.end() && it->is_boolean() && it->get<bool>();
}

bool allowlist_excludes(const core::McpServerSettings* settings, std::string_view agent) {
    if (!settings || !settings->agents) return false;
    const auto& names = *settings->agents;
    return std::find(names.begin(), names.end(), agent) == names.end();
}

const core::Tweak* tweak_for(const core::McpServerSettings* settings, const std::string& agent) {
    if (!settings) return nullptr;
    auto it = settings->tweaks.find(agent);
    return it == settings->tweaks.end() ? nullptr : &it->second;
}

const core::McpServerSettings* settings_for(const core::Config& config, const std::string& name) {
    auto found = config.mcp.find(name);
    return found == config.mcp.end() ? nullptr : &found->second;
}

// is_commons_copy with the server's settings given. Translation leaves the
// "disabled" mark out: a parked server's copy is what enabling it writes.
bool equals_commons_copy(const core::RunContext& ctx, const core::AgentSpec& spec, const std::string& agent,
                         const std::string& name, const json::Value& server,
                         const core::McpServerSettings* settings, const json::Value& held) {
    auto expected = translate_server(name, server, spec.dialect, ctx.env, tweak_for(settings, agent), true);
    return expected && json::equal(held, *expected);
}

// is_mirthlode_entry with the server's settings given.
bool owns_entry(const core::RunContext& ctx, const core::AgentSpec& spec, const std::string& agent,
                const std::string& name, const json::Value& server, const core::McpServerSettings* settings,
                const json::Value& held) {
    return !allowlist_excludes(settings, agent) || equals_commons_copy(ctx, spec, agent, name, server, settings, held);
}

// A Commons server and what every agent's item for it needs.
struct CommonsServer {
    const std::string& name;
    const json::Value& server;
    bool uses_env;                            // the server itself holds "${env:"
    const core::McpServerSettings* settings;  // its [mcp.<name>] settings, if any
};

// An agent's servers table, each entry found by name without a key search.
class AgentTable {
public:
    explicit AgentTable(json::Value table) : table_(std::move(table)), index_(index_members(table_)) {}

    const json::Value* find(const std::string& name) const {
        auto it = index_.find(name);
        if (it == index_.end()) return nullptr;
        return &members()[it->second].second;
    }
    const json::Value::object_t::Container& members() const {
        return table_.get_ref<const json::Value::object_t&>();
    }

private:
    json::Value table_;
    MemberIndex index_;
};

// Errors are kept once each, in order of first occurrence.
class ErrorList {
public:
    explicit ErrorList(std::vector<std::string>& errors) : errors_(errors), seen_(errors.begin(), errors.end()) {}
    void add(const std::string& text) {
        if (seen_.insert(text).second) errors_.push_back(text);
    }

private:
    std::vector<std::string>& errors_;
    std::unordered_set<std::string> seen_;
};

// The items of one key-merge agent; translation errors go to the plan's
// `errors`, each text once.
void plan_target(const core::RunContext& ctx, const core::Target& target,
                 const std::vector<CommonsServer>& commons, const std::unordered_set<std::string>& commons_names,
                 bool keep_managed, McpPlan& plan, core::AgentFileReads* reads) {
    ErrorList errors(plan.errors);
    const core::AgentSpec* spec = target.spec;
    McpItem base;
    base.agent = target.name;
    base.file = ctx.home / fs::path(spec->mcp_file);
    base.servers_key = std::string(spec->servers_key);
    base.toml = spec->config_format == core::ConfigFormat::toml;

    // Read and parsed once: a merge into the file starts from this.
    const core::AgentFileReads::Shared file =
        reads ? reads->read(base.file, base.toml)
              : std::make_shared<const util::Result<core::AgentFileRead>>(core::read_agent_file(base.file, base.toml));
    auto read = *file ? core::config_table_of(base.file, **file, spec->servers_key) : file->error();
    if (!read) {
        plan.read_errors.push_back(read.error().message);
        return;
    }
    const AgentTable table(std::move(*read));
    const std::size_t first = plan.items.size();
    auto add = [&](const std::string& server, McpState state) -> McpItem& {
        McpItem& item = plan.items.emplace_back(base);
        item.server = server;
        item.state = state;
        return item;
    };

    for (const auto& [name, server, uses_env, settings] : commons) {
        const json::Value* held = table.find(name);
        // Outside the server's allowlist only a copy of mirthlode's is its
        // own: anything else there is the user's entry and stays.
        const bool outside = allowlist_excludes(settings, target.name);
        if (is_disabled(server) || outside) {
            if (!held) continue;
            if (!owns_entry(ctx, *spec, target.name, name, server, settings, *held)) {
                add(name, McpState::excluded);
            } else {
                add(name, is_disabled(server) ? McpState::disabled : McpState::stranded);
            }
            continue;
        }
        const core::Tweak* tweak = tweak_for(settings, target.name);
        auto expected = translate_server(name, server, spec->dialect, ctx.env, tweak, true);
        if (!expected) {
            errors.add(expected.error().message);
            continue;
        }
        McpState state = McpState::missing;
        std::vector<std::string> keys;
        if (held) {
            if (json::equal(*held, *expected)) {
                if (!keep_managed) continue;
                state = McpState::managed;
            } else {
                state = McpState::drifted;
                keys = diff_server_entries(held, *expected);
            }
        }
        McpItem& item = add(name, state);
        item.keys = std::move(keys);
        item.expected = std::move(*expected);
        // Only what the dialect keeps counts: a reference in a key it drops
        // puts no secret into the agent's file.
        if (uses_env || (tweak && uses_env_references(*tweak))) {
            auto unexpanded = translate_server(name, server, spec->dialect, ctx.env, tweak, false);
            item.resolved = unexpanded && holds_env_reference(*unexpanded);
        }
    }

    for (const auto& [name, entry] : table.members()) {
        if (!commons_names.count(name)) add(name, McpState::foreign);
    }

    std::shared_ptr<const core::AgentFileRead> shared;
    for (std::size_t i = first; i < plan.items.size(); ++i) {
        McpItem& item = plan.items[i];
        if (item.state != McpState::missing && item.state != McpState::drifted) continue;
        if (!shared) shared = std::shared_ptr<const core::AgentFileRead>(file, &file->value());
        item.read = shared;
    }
}

}  // namespace

std::string_view state_word(McpState state) {
    switch (state) {
    case McpState::managed: return "managed";
    case McpState::missing: return "missing";
    case McpState::drifted: return "drifted";
    case McpState::foreign: return "foreign";
    case McpState::excluded: return "excluded";
    case McpState::stranded: return "stranded";
    case McpState::disabled: return "disabled";
    }
    return "";
}

bool is_actionable(McpState state) {
    return state == McpState::missing || state == McpState::drifted || state == McpState::disabled;
}

McpPlan plan_mcp(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                 const fs::path& commons_mcp, bool keep_managed, core::AgentFileReads* reads) {
    McpPlan plan;
    auto meta = platform::metadata(commons_mcp);
    if (!meta || !meta->is_regular()) return plan;
    auto servers = parse_commons_servers(commons_mcp);
    if (!servers) {
        plan.errors.push_back(servers.error().message);
        return plan;
    }
    plan_mcp_agent(ctx, config, targets, *servers, plan, keep_managed, reads);
    return plan;
}

void plan_mcp_agent(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                    const McpServers& servers, McpPlan& plan, bool keep_managed, core::AgentFileReads* reads) {
    ErrorList errors(plan.errors);
    std::unordered_set<std::string> commons_names;
    std::vector<CommonsServer> commons;
    for (const auto& entry : servers) {
        commons_names.insert(entry.name);
        auto found = config.mcp.find(entry.name);
        commons.push_back({entry.name, entry.server, uses_env_references(entry.server),
                           found == config.mcp.end() ? nullptr : &found->second});
    }

    // Each agent's file is read and compared on its own, side by side with
    // the others; the results are put together in target order.
    std::vector<const core::Target*> agents;
    for (const core::Target& target : targets) {
        if (target.spec && target.spec->mcp == core::McpMechanism::key_merge) agents.push_back(&target);
    }
    std::vector<McpPlan> parts(agents.size());
    platform::run_parallel(agents.size(), [&](std::size_t i) {
        plan_target(ctx, *agents[i], commons, commons_names, keep_managed, parts[i], reads);
    });
    for (McpPlan& part : parts) {
        std::move(part.items.begin(), part.items.end(), std::back_inserter(plan.items));
        std::move(part.read_errors.begin(), part.read_errors.end(), std::back_inserter(plan.read_errors));
        for (const std::string& error : part.errors) errors.add(error);
    }
}

bool is_commons_copy(const core::RunContext& ctx, const core::Config& config, const core::AgentSpec& spec,
                     const std::string& agent, const std::string& name, const json::Value& server,
                     const json::Value& held) {
    return equals_commons_copy(ctx, spec, agent, name, server, settings_for(config, name), held);
}

bool is_mirthlode_entry(const core::RunContext& ctx, const core::Config& config, const core::AgentSpec& spec,
                        const std::string& agent, const std::string& name, const json::Value& server,
                        const json::Value& held) {
    return owns_entry(ctx, spec, agent, name, server, settings_for(config, name), held);
}

std::string mcp_note(const McpItem& item) {
    switch (item.state) {
    case McpState::managed: return "";
    case McpState::missing: return "not in this agent's config yet";
    case McpState::drifted: {
        if (item.keys.empty()) return "differs from the Commons — will be restored";
        std::string keys;
        for (const auto& key : item.keys) {
            if (!keys.empty()) keys += ", ";
            keys += key;
        }
        return "differs from the Commons (" + keys + ") — will be restored";
    }
    case McpState::foreign: return "not in the Commons — left alone";
    case McpState::excluded: return "not allowlisted for this agent — its own entry, left alone";
    case McpState::stranded: return "still here but no longer allowlisted — `mirthlode mcp remove` clears it";
    case McpState::disabled: return "disabled in the Commons — will be removed";
    }
    return "";
}

}  // namespace mcp
