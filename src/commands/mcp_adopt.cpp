#include "commands/mcp_adopt.h"

#include <cstddef>
#include <map>
#include <utility>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/lock.h"
#include "mcp/adopt.h"
#include "mcp/dialect.h"
#include "mcp/diff.h"
#include "mcp/read_back.h"
#include "mcp/servers.h"
#include "util/text.h"

namespace commands {

namespace {

namespace fs = std::filesystem;

struct Candidate {
    const core::Target* target;
    std::string server;
};

bool is_toml(const core::AgentSpec& spec) { return spec.config_format == core::ConfigFormat::toml; }

// Every server of every agent with an MCP file of its own.
std::vector<Candidate> every_server(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                    core::Reporter& reporter) {
    std::vector<Candidate> candidates;
    for (const core::Target& target : targets) {
        auto file = mcp::join_optional_under_root(ctx, target.spec);
        if (!file) continue;
        auto table = core::read_config_table(*file, target.spec->servers_key, is_toml(*target.spec));
        if (!table) {
            reporter.report_error(table.error().message);
            continue;
        }
        for (const auto& [name, entry] : table->items()) candidates.push_back({&target, name});
    }
    return candidates;
}

// The one candidate "agent/server" names; nothing (reported) when it names none.
std::optional<Candidate> named_server(const std::string& spec, const std::vector<core::Target>& targets,
                                      core::Reporter& reporter) {
    const auto slash = spec.find('/');
    if (slash == std::string::npos) {
        reporter.report_error("`" + spec + "` is not an agent/server pair — try `mirthlode mcp adopt claude/serena`");
        return std::nullopt;
    }
    const std::string agent = spec.substr(0, slash);
    for (const core::Target& target : targets) {
        if (target.name == agent) return Candidate{&target, spec.substr(slash + 1)};
    }
    reporter.report_error("`" + agent + "` is not an agent mirthlode knows about, or it is not installed");
    return std::nullopt;
}

class Adoption {
public:
    Adoption(const core::RunContext& ctx, core::Reporter& reporter, mcp::McpServers& commons, std::size_t mcp_agents)
        : ctx_(ctx), reporter_(reporter), commons_(commons), pending_(mcp_agents) {}

    // Takes one server into the Commons list; false when it was refused.
    bool adopt(const Candidate& candidate);
    std::size_t adopted() const { return adopted_; }

private:
    bool refuse(const std::string& text) {
        reporter_.report_error(text);
        return false;
    }

    // Each agent file is read once per run: under the lock nothing else
    // changes it, and reading a large one again for each of its servers
    // would take a time that grows with the square of its size.
    const util::Result<json::Value>& read_table(const fs::path& file, const core::AgentSpec& spec) {
        auto known = tables_.find(file);
        if (known == tables_.end()) {
            known = tables_.emplace(file, core::read_config_table(file, spec.servers_key, is_toml(spec))).first;
        }
        return known->second;
    }

    const core::RunContext& ctx_;
    core::Reporter& reporter_;
    std::map<fs::path, util::Result<json::Value>> tables_;
    mcp::McpServers& commons_;
    mcp::PendingAllowlists pending_;
    std::size_t adopted_ = 0;
};

bool Adoption::adopt(const Candidate& candidate) {
    const core::Target& target = *candidate.target;
    const std::string& name = candidate.server;
    auto file = mcp::join_optional_under_root(ctx_, target.spec);
    if (!file) return refuse(target.name + " has no MCP surface");
    const core::AgentSpec& spec = *target.spec;

    const util::Result<json::Value>& table = read_table(*file, spec);
    if (!table) return refuse(table.error().message);
    auto found = table->find(name);
    if (found == table->end()) return refuse("`" + name + "` is not in " + target.name + "'s config");
    const json::Value& entry = *found;

    auto read = mcp::read_back_server(name, entry, spec.dialect);
    if (!read) return refuse(read.error().message);
    const mcp::McpServer* existing = commons_.find(name);
    if (existing && !json::equal(*existing, read->server)) {
        return refuse("`" + name +
                      "` differs from the Commons copy — merge it by hand; mirthlode will not choose which side to "
                      "discard");
    }

    // The Tweak as mirthlode.toml will hold it: TOML has no null, so a null
    // inside one of its objects does not come back and must count as lost.
    core::Tweak stored = read->tweak;
    mcp::drop_null_entries(stored);
    const core::Tweak* tweak = stored.empty() ? nullptr : &stored;
    auto differing = mcp::translate_and_diff(name, read->server, spec.dialect, &entry, ctx_.env, tweak);
    if (!differing) return refuse(differing.error().message);
    if (!differing->empty()) {
        return refuse("`" + name + "` in " + target.name + ": " + util::join(*differing) +
                      " cannot be represented faithfully — not adopted");
    }

    const core::AgentsEdit allowlist = pending_.add(name, target.name);
    auto saved = mcp::save_mcp_config(ctx_.config_dir, name, allowlist, read->tweak, target.name);
    if (!saved) {
        pending_.failed(name, target.name);
        return refuse(saved.error().message);
    }
    pending_.saved(name, allowlist, *saved);

    if (existing) {
        reporter_.print_line(name + " is already in the Commons");
    } else {
        commons_.set(name, read->server);
        reporter_.print_line("adopted " + name + " from " + target.name);
        ++adopted_;
    }
    for (const auto& note : read->notes) reporter_.print_line("  note: " + note);
    if (allowlist.kind == core::AgentsEdit::Kind::replace) {
        reporter_.print_line("  scoped to " + util::join(allowlist.names) +
                             " — remove the allowlist in mirthlode.toml to share it");
    }
    if (auto warning = mcp::credential_warning(name, read->server)) reporter_.report_warning(*warning);
    return true;
}

}  // namespace

int mcp_adopt(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
              const std::optional<std::string>& spec, bool all) {
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);
    std::vector<Candidate> candidates;
    if (all) {
        candidates = every_server(ctx, targets, reporter);
        if (candidates.empty()) {
            reporter.print_line("no servers found to adopt");
            return 0;
        }
    } else if (!spec) {
        reporter.report_error("give a server to adopt as agent/server, or --all");
        return 1;
    } else {
        auto candidate = named_server(*spec, targets, reporter);
        if (!candidate) return 1;
        candidates.push_back(std::move(*candidate));
    }

    const fs::path mcp_json = ctx.commons / "mcp.json";
    if (auto early = mcp::load_commons_servers(mcp_json); !early) {
        reporter.report_error(early.error().message);
        return 1;
    }
    // The Commons this adoption may be the first to write into is locked too.
    auto lock = core::take_lock(ctx, reporter, core::MissingCommons::made);
    if (!lock) return 1;
    // Read again under the lock: a server another run added meanwhile stays.
    auto commons = mcp::load_commons_servers(mcp_json);
    if (!commons) {
        reporter.report_error(commons.error().message);
        return 1;
    }

    std::size_t mcp_agents = 0;
    for (const core::Target& target : targets) {
        if (mcp::join_optional_under_root(ctx, target.spec)) ++mcp_agents;
    }
    Adoption adoption(ctx, reporter, *commons, mcp_agents);
    for (const Candidate& candidate : candidates) adoption.adopt(candidate);

    if (adoption.adopted() > 0) {
        if (auto saved = mcp::save_commons_servers(mcp_json, *commons); !saved) {
            reporter.report_error(saved.error().message);
        }
    }
    return reporter.errors() > 0 ? 1 : 0;
}

}  // namespace commands
