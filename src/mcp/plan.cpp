#include "mcp/plan.h"

#include <algorithm>
#include <future>
#include <optional>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/config.h"
#include "mcp/diff.h"
#include "mcp/dialect.h"
#include "mcp/env_refs.h"
#include "mcp/listing.h"
#include "platform/platform.h"
#include "platform/tasks.h"

namespace mcp {

namespace {

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

// The Commons servers as every agent's planning takes them, made once.
struct CommonsList {
    std::vector<CommonsServer> servers;
    std::unordered_set<std::string> names;

    CommonsList(const core::Config& config, const McpServers& loaded) {
        for (const auto& entry : loaded) {
            names.insert(entry.name);
            servers.push_back(
                {entry.name, entry.server, uses_env_references(entry.server), settings_for(config, entry.name)});
        }
    }
};

// The key-merge agents among `targets`, in target order.
std::vector<const core::Target*> key_merge_agents(const std::vector<core::Target>& targets) {
    std::vector<const core::Target*> agents;
    for (const core::Target& target : targets) {
        if (target.spec && target.spec->mcp == core::McpMechanism::key_merge) agents.push_back(&target);
    }
    return agents;
}


// The entry an agent holds under a server's name, where it stands in the
// file's read: a JSON value, or a TOML item taken as its JSON conversion.
class HeldEntry {
public:
    HeldEntry() = default;
    explicit HeldEntry(const json::Value* json) : json_(json) {}
    explicit HeldEntry(const toml::Item* toml) : toml_(toml) {}

    explicit operator bool() const { return json_ || toml_; }
    bool equals(const json::Value& expected) const {
        return json_ ? json::equal(*json_, expected) : core::toml_item_equals(*toml_, expected);
    }
    // The entry as JSON: the read's own, or a TOML entry converted into `storage`.
    const json::Value& as_json(json::Value& storage) const {
        if (json_) return *json_;
        storage = core::toml_item_to_json(*toml_);
        return storage;
    }

private:
    const json::Value* json_ = nullptr;
    const toml::Item* toml_ = nullptr;
};

// An agent's servers table where the read holds it, each entry found by
// name without a key search.
class AgentTable {
public:
    explicit AgentTable(const core::ConfigTableView& view) : view_(view) {
        if (!view_.json) return;
        const auto& members = json_members();
        index_.reserve(members.size());
        for (std::size_t i = 0; i < members.size(); ++i) index_.emplace(members[i].first, i);
    }

    HeldEntry find(const std::string& name) const {
        if (view_.toml) {
            const toml::Item* item = view_.toml->get(name);
            return item ? HeldEntry(item) : HeldEntry();
        }
        auto it = index_.find(name);
        return it == index_.end() ? HeldEntry() : HeldEntry(&json_members()[it->second].second);
    }
    // Calls `each` with the name of every entry, in file order.
    template <class Each>
    void for_each_name(Each each) const {
        if (view_.toml) {
            for (const toml::Entry& entry : *view_.toml) each(entry.key());
        } else if (view_.json) {
            for (const auto& member : json_members()) each(member.first);
        }
    }

private:
    const json::Value::object_t::Container& json_members() const {
        return view_.json->get_ref<const json::Value::object_t&>();
    }

    core::ConfigTableView view_;
    std::unordered_map<std::string_view, std::size_t> index_;  // a JSON table's members by key
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

// Whether the server is planned for the agent at all: a server disabled,
// or outside its allowlist, is only looked for.
bool planned_for(const CommonsServer& commons, const std::string& agent) {
    return !server_disabled(commons.server) && !allowlist_excludes(commons.settings, agent);
}

// The file as planning reads it: through `reads` when given.
core::AgentFileReads::Shared read_file(const fs::path& file, bool toml, core::AgentFileReads* reads) {
    if (reads) return reads->read(file, toml);
    return std::make_shared<util::Result<core::AgentFileRead>>(core::read_agent_file(file, toml));
}

// The parts planned agent by agent, put together in target order.
void join_parts(std::vector<McpPlan>& parts, McpPlan& plan) {
    ErrorList errors(plan.errors);
    std::size_t items = plan.items.size();
    for (const McpPlan& part : parts) items += part.items.size();
    plan.items.reserve(items);
    for (McpPlan& part : parts) {
        std::move(part.items.begin(), part.items.end(), std::back_inserter(plan.items));
        std::vector<McpItem>().swap(part.items);  // its room goes before the next part's items move
        std::move(part.read_errors.begin(), part.read_errors.end(), std::back_inserter(plan.read_errors));
        for (const std::string& error : part.errors) errors.add(error);
    }
}

core::AgentFileReads::Shared read_agent_file_of(const core::RunContext& ctx, const core::Target& target,
                                                core::AgentFileReads* reads) {
    const core::AgentSpec& spec = *target.spec;
    return read_file(ctx.home / fs::path(spec.mcp_file), spec.config_format == core::ConfigFormat::toml, reads);
}

// McpDetail::errors for one agent: the servers are translated first, and
// the file is read only to know whether the agent plans at all.
void translation_errors(const core::RunContext& ctx, const core::Target& target,
                        const std::vector<CommonsServer>& commons, McpPlan& plan, core::AgentFileReads* reads) {
    std::vector<std::string> failed;
    for (const CommonsServer& server : commons) {
        if (!planned_for(server, target.name)) continue;
        auto expected = translate_server(server.name, server.server, target.spec->dialect, ctx.env,
                                         tweak_for(server.settings, target.name), true);
        if (!expected) failed.push_back(expected.error().message);
    }
    if (failed.empty()) return;
    const fs::path file = ctx.home / fs::path(target.spec->mcp_file);
    const auto read = read_file(file, target.spec->config_format == core::ConfigFormat::toml, reads);
    auto view = *read ? core::config_table_view(file, **read, target.spec->servers_key) : read->error();
    if (!view) {
        plan.read_errors.push_back(view.error().message);
        return;
    }
    ErrorList errors(plan.errors);
    for (const std::string& text : failed) errors.add(text);
}

// The items of one key-merge agent; translation errors go to the plan's
// `errors`, each text once.
void plan_target(const core::RunContext& ctx, const core::Target& target, const CommonsList& list,
                 const core::AgentFileReads::Shared& file, bool keep_managed, McpDetail detail, McpPlan& plan) {
    const std::vector<CommonsServer>& commons = list.servers;
    ErrorList errors(plan.errors);
    const core::AgentSpec* spec = target.spec;
    const bool full = detail == McpDetail::full;
    McpItem base;
    base.agent = spec->name;
    base.file = SharedPath(ctx.home / fs::path(spec->mcp_file));
    base.servers_key = spec->servers_key;
    base.toml = spec->config_format == core::ConfigFormat::toml;

    // Read and parsed once: a merge into the file starts from this. The
    // table is looked at where the read holds it.
    auto view = *file ? core::config_table_view(base.file, **file, spec->servers_key) : file->error();
    if (!view) {
        plan.read_errors.push_back(view.error().message);
        return;
    }
    const AgentTable table(*view);
    const std::size_t first = plan.items.size();
    if (keep_managed) {
        // Every server and every foreign entry gets an item.
        std::size_t foreign = 0;
        table.for_each_name([&](const std::string& name) { foreign += list.names.count(name) == 0 ? 1 : 0; });
        plan.items.reserve(first + commons.size() + foreign);
    }
    auto add = [&](const std::string& server, McpState state) -> McpItem& {
        McpItem& item = plan.items.emplace_back(base);
        item.server = server;
        item.state = state;
        return item;
    };

    for (const CommonsServer& commons_server : commons) {
        const auto& [name, server, uses_env, settings] = commons_server;
        const HeldEntry held = table.find(name);
        // Outside the server's allowlist only a copy of mirthlode's is its
        // own: anything else there is the user's entry and stays.
        if (!planned_for(commons_server, target.name)) {
            if (!held) continue;
            // A disabled server's entry inside its allowlist is mirthlode's
            // without a look at it.
            json::Value converted;
            if (allowlist_excludes(settings, target.name) &&
                !equals_commons_copy(ctx, *spec, target.name, name, server, settings, held.as_json(converted))) {
                add(name, McpState::excluded);
            } else {
                add(name, server_disabled(server) ? McpState::disabled : McpState::stranded);
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
            if (held.equals(*expected)) {
                if (!keep_managed) continue;
                state = McpState::managed;
            } else {
                state = McpState::drifted;
                json::Value converted;
                if (full) keys = diff_server_entries(&held.as_json(converted), *expected);
            }
        }
        McpItem& item = add(name, state);
        // What a merge needs, for the entries a merge writes.
        if (!full || state == McpState::managed) continue;
        item.keys = std::move(keys);
        item.expected = std::move(*expected);
        // Only what the dialect keeps counts: a reference in a key it drops
        // puts no secret into the agent's file.
        if (uses_env || (tweak && uses_env_references(*tweak))) {
            auto unexpanded = translate_server(name, server, spec->dialect, ctx.env, tweak, false);
            item.resolved = unexpanded && holds_env_reference(*unexpanded);
        }
    }

    table.for_each_name([&](const std::string& name) {
        if (!list.names.count(name)) add(name, McpState::foreign);
    });
    if (!full) return;

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
    util::Result<McpServers> servers = McpServers();
    plan_mcp_loading(
        ctx, config, targets,
        [&]() -> const McpServers* {
            servers = parse_commons_servers(commons_mcp);
            if (servers) return &*servers;
            plan.errors.push_back(servers.error().message);
            return nullptr;
        },
        plan, keep_managed, reads);
    return plan;
}

void read_agent_files_alongside(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                core::AgentFileReads& reads, const std::function<void()>& alongside) {
    const std::vector<const core::Target*> agents = key_merge_agents(targets);
    platform::run_parallel(agents.size() + 1, [&](std::size_t i) {
        if (i == 0) alongside();
        else read_agent_file_of(ctx, *agents[i - 1], &reads);
    });
}

void plan_mcp_loading(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                      const std::function<const McpServers*()>& load, McpPlan& plan, bool keep_managed,
                      core::AgentFileReads* reads, McpDetail detail) {
    const std::vector<const core::Target*> agents = key_merge_agents(targets);
    std::vector<McpPlan> parts(agents.size());
    // The first task loads the list; each of the others reads an agent's
    // file meanwhile, then waits for the list. The first task is always
    // taken first, so a waiting task never waits for one not yet begun.
    // Without `reads` no file outlives its planning, and the agents are
    // taken in a few stripes, one after another within each: a thread then
    // parses its next file in the room its last one left, where a task per
    // agent would grow the heap of every thread by a whole file.
    const std::size_t stripes =
        reads ? agents.size() : std::min(agents.size(), std::max<std::size_t>(1, platform::worker_threads() / 2));
    std::optional<CommonsList> list;
    std::promise<const CommonsList*> loaded;
    const std::shared_future<const CommonsList*> ready = loaded.get_future().share();
    platform::run_parallel(stripes + 1, [&](std::size_t i) {
        if (i == 0) {
            try {
                if (const McpServers* servers = load()) list.emplace(config, *servers);
            } catch (...) {
                loaded.set_value(nullptr);
                throw;
            }
            loaded.set_value(list ? &*list : nullptr);
            return;
        }
        for (std::size_t a = i - 1; a < agents.size(); a += stripes) {
            core::AgentFileReads::Shared file = read_agent_file_of(ctx, *agents[a], reads);
            const CommonsList* commons = ready.get();
            if (!commons) return;
            plan_target(ctx, *agents[a], *commons, file, keep_managed, detail, parts[a]);
        }
    });
    join_parts(parts, plan);
}

void plan_mcp_agent(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                    const McpServers& servers, McpPlan& plan, bool keep_managed, core::AgentFileReads* reads,
                    McpDetail detail) {
    if (detail != McpDetail::errors) {
        plan_mcp_loading(ctx, config, targets, [&] { return &servers; }, plan, keep_managed, reads, detail);
        return;
    }
    const CommonsList list(config, servers);
    const std::vector<const core::Target*> agents = key_merge_agents(targets);
    std::vector<McpPlan> parts(agents.size());
    platform::run_parallel(agents.size(), [&](std::size_t i) {
        translation_errors(ctx, *agents[i], list.servers, parts[i], reads);
    });
    join_parts(parts, plan);
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

SharedPath::SharedPath() {
    static const auto empty = std::make_shared<const fs::path>();
    path_ = empty;
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
