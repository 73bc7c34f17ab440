#include "mcp/adoption.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/config_write.h"
#include "core/lock.h"
#include "mcp/adopt.h"
#include "mcp/dialect.h"
#include "mcp/diff.h"
#include "mcp/env_refs.h"
#include "mcp/listing.h"
#include "mcp/plan.h"
#include "mcp/read_back.h"
#include "mcp/servers.h"
#include "util/text.h"

namespace mcp {

namespace {

struct ReportLine {
    enum class Kind { line, warning, error };
    Kind kind;
    std::string text;
};

// What one candidate has to say, said once the run's edits are saved: the
// lines of a server new to the Commons stand only when it was saved.
struct CandidateReport {
    std::optional<std::string> adopted;
    std::vector<ReportLine> lines;
    // Where the line naming the server's allowlist goes, when this is the
    // server's last candidate taken and the run leaves it scoped.
    std::optional<std::size_t> scope_at;
};

CandidateReport refused(std::string text) {
    return {std::nullopt, {{ReportLine::Kind::error, std::move(text)}}, {}};
}

std::string differs(const std::string& name) {
    return "`" + name + "` differs from the Commons copy — merge it by hand; mirthlode will not choose which side to "
                        "discard";
}

void emit(core::Reporter& reporter, const ReportLine& line) {
    switch (line.kind) {
    case ReportLine::Kind::line: reporter.print_line(line.text); break;
    case ReportLine::Kind::warning: reporter.report_warning(line.text); break;
    case ReportLine::Kind::error: reporter.report_error(line.text); break;
    }
}

class Adoption {
public:
    Adoption(const core::RunContext& ctx, const core::Config& settings, McpServers& commons, AgentTables& tables,
             std::size_t mcp_agents)
        : ctx_(ctx), settings_(settings), commons_(commons), tables_(tables), pending_(mcp_agents) {}

    void consider(const Candidate& candidate) { reports_.push_back(examine(candidate)); }
    // Writes mirthlode.toml, then mcp.json, and reports every candidate.
    void finish(const fs::path& mcp_json, core::Reporter& reporter);

private:
    CandidateReport examine(const Candidate& candidate);
    CandidateReport take(const Candidate& candidate, ReadBackServer read, toml::Table* tweak, bool earlier);
    // The servers of `adopted_` saved nowhere, with the errors that say why.
    std::unordered_set<std::string> save(const fs::path& mcp_json, std::vector<std::string>& errors);

    const core::RunContext& ctx_;
    const core::Config& settings_;
    McpServers& commons_;  // as it was before the run
    AgentTables& tables_;
    PendingAllowlists pending_;
    McpServers adopted_;  // the servers new to the Commons, in the order adopted
    std::unordered_map<std::string, std::vector<std::pair<std::string, toml::Table>>> tweaks_;
    std::vector<CandidateReport> reports_;
};

CandidateReport Adoption::examine(const Candidate& candidate) {
    const core::Target& target = *candidate.target;
    const std::string& name = candidate.server;
    auto file = join_optional_under_root(ctx_, target.spec);
    if (!file) return refused(target.name + " has no MCP surface");
    const core::AgentSpec& spec = *target.spec;
    const util::Result<IndexedObject>& table = tables_.table(target, *file);
    if (!table) return refused(table.error().message);
    const json::Value* entry = table->find(name);
    if (!entry) return refused("`" + name + "` is not in " + target.name + "'s config");
    auto read = read_back_server(name, *entry, spec.dialect);
    if (!read) return refused(read.error().message);

    // A server the Commons held before the run keeps its allowlist and Tweaks.
    if (const McpServer* existing = commons_.find(name)) {
        if (server_disabled(*existing) ||
            !is_commons_copy(ctx_, settings_, spec, target.name, name, *existing, *entry)) {
            return refused(differs(name));
        }
        return {std::nullopt, {{ReportLine::Kind::line, name + " is already in the Commons"}}, {}};
    }
    const McpServer* earlier = adopted_.find(name);
    if (earlier && !json::equal(*earlier, read->server)) return refused(differs(name));

    // sync writes a reference back as the variable's value, never as it stands.
    if (auto reference = first_env_reference(*entry)) {
        return refused("`" + name + "` in " + target.name + ": `" + *reference +
                       "` would be written back as the variable's value — not adopted");
    }
    // The Tweak as mirthlode.toml will hold it: TOML has no null, so a null
    // inside one of its objects does not come back and must count as lost.
    core::Tweak stored = read->tweak;
    drop_null_entries(stored);
    auto differing = translate_and_diff(name, read->server, spec.dialect, entry, ctx_.env,
                                        stored.empty() ? nullptr : &stored);
    if (!differing) return refused(differing.error().message);
    if (!differing->empty()) {
        return refused("`" + name + "` in " + target.name + ": " + util::join(*differing) +
                       " cannot be represented faithfully — not adopted");
    }
    auto tweak = tweak_table(name, target.name, read->tweak);
    if (!tweak) return refused(tweak.error().message);
    return take(candidate, std::move(*read), *tweak ? &**tweak : nullptr, earlier != nullptr);
}

CandidateReport Adoption::take(const Candidate& candidate, ReadBackServer read, toml::Table* tweak, bool earlier) {
    const std::string& name = candidate.server;
    const std::string& agent = candidate.target->name;
    pending_.add(name, agent);
    if (tweak) tweaks_[name].emplace_back(agent, std::move(*tweak));

    CandidateReport report{name, {}, {}};
    auto say = [&](ReportLine::Kind kind, std::string text) { report.lines.push_back({kind, std::move(text)}); };
    if (earlier) {
        say(ReportLine::Kind::line, name + " is already in the Commons");
    } else {
        say(ReportLine::Kind::line, "adopted " + name + " from " + agent);
    }
    for (auto& note : read.notes) say(ReportLine::Kind::line, "  note: " + note);
    report.scope_at = report.lines.size();
    if (auto warning = credential_warning(name, read.server)) say(ReportLine::Kind::warning, std::move(*warning));
    if (!earlier) adopted_.set(name, std::move(read.server));
    return report;
}

std::unordered_set<std::string> Adoption::save(const fs::path& mcp_json, std::vector<std::string>& errors) {
    std::vector<core::McpSettingsEdit> edits;
    for (const McpServerEntry& entry : adopted_) {
        core::McpSettingsEdit edit{entry.name, pending_.allowlist(entry.name), {}};
        if (auto found = tweaks_.find(entry.name); found != tweaks_.end()) edit.tweaks = std::move(found->second);
        if (edit.agents || !edit.tweaks.empty()) edits.push_back(std::move(edit));
    }
    // mirthlode.toml first: its settings for a server not yet in mcp.json
    // are harmless, while mcp.json first would fan a server out unscoped.
    std::unordered_set<std::string> unsaved;
    auto written = core::write_mcp_settings(ctx_.config_dir, edits);
    if (!written) {
        errors.push_back(written.error().message);
        for (const auto& edit : edits) unsaved.insert(edit.server);
    } else {
        for (auto& refusal : written->refused) {
            errors.push_back(std::move(refusal.message));
            unsaved.insert(refusal.server);
        }
    }
    bool adding = false;
    for (const McpServerEntry& entry : adopted_) {
        if (unsaved.count(entry.name)) continue;
        commons_.set(entry.name, entry.server);
        adding = true;
    }
    if (!adding) return unsaved;
    if (auto saved = save_commons_servers(mcp_json, commons_); !saved) {
        errors.push_back(saved.error().message);
        for (const McpServerEntry& entry : adopted_) unsaved.insert(entry.name);
        // Settings for servers the Commons did not take would narrow them
        // when a later run adopts them from more agents: they go again.
        if (written) {
            if (auto undone = core::undo_mcp_settings(*written); !undone) errors.push_back(undone.error().message);
        }
    }
    return unsaved;
}

void Adoption::finish(const fs::path& mcp_json, core::Reporter& reporter) {
    std::vector<std::string> errors;
    const std::unordered_set<std::string> unsaved = save(mcp_json, errors);
    // The allowlist is named once, with the list the run wrote, after the
    // last candidate that made it.
    std::unordered_map<std::string, std::size_t> last_taken;
    for (std::size_t i = 0; i < reports_.size(); ++i) {
        if (reports_[i].scope_at) last_taken[*reports_[i].adopted] = i;
    }
    for (std::size_t i = 0; i < reports_.size(); ++i) {
        const CandidateReport& report = reports_[i];
        if (report.adopted && unsaved.count(*report.adopted)) continue;
        std::optional<std::vector<std::string>> scope;
        if (report.scope_at && last_taken[*report.adopted] == i) scope = pending_.allowlist(*report.adopted);
        for (std::size_t at = 0; at <= report.lines.size(); ++at) {
            if (scope && at == *report.scope_at) {
                reporter.print_line("  scoped to " + util::join(*scope) +
                                    " — remove the allowlist in mirthlode.toml to share it");
            }
            if (at < report.lines.size()) emit(reporter, report.lines[at]);
        }
    }
    for (const std::string& error : errors) reporter.report_error(error);
    std::vector<std::string> lost;
    for (const McpServerEntry& entry : adopted_) {
        if (unsaved.count(entry.name)) lost.push_back(entry.name);
    }
    if (!lost.empty()) reporter.print_line("not adopted: " + util::join(lost));
}

int exit_code(const core::Reporter& reporter) { return reporter.errors() > 0 ? 1 : 0; }

// "no servers found to adopt", with the errors that left nothing to find.
int nothing_found(core::Reporter& reporter, const std::vector<std::string>& errors) {
    for (const std::string& error : errors) reporter.report_error(error);
    reporter.print_line("no servers found to adopt");
    return exit_code(reporter);
}

}  // namespace

int adopt_servers(const core::RunContext& ctx, core::Reporter& reporter, const std::vector<core::Target>& targets,
                  const std::optional<Candidate>& named) {
    const fs::path mcp_json = ctx.commons / "mcp.json";
    if (auto early = load_commons_servers(mcp_json); !early) {
        reporter.report_error(early.error().message);
        return 1;
    }

    // The Commons this adoption may be the first to write into is locked
    // too. Looking for servers that may not be there leaves no state
    // directory behind.
    auto lock = core::take_lock(ctx, reporter, core::MissingCommons::made,
                                named ? core::MissingState::made : core::MissingState::left_alone);
    if (!lock) return 1;
    // Everything as it is now that no other run changes it.
    auto settings = core::load_config(ctx.config_dir);
    if (!settings) {
        reporter.report_error(settings.error().message);
        return 1;
    }
    auto commons = load_commons_servers(mcp_json);
    if (!commons) {
        reporter.report_error(commons.error().message);
        return 1;
    }
    AgentTables tables;
    std::vector<Candidate> candidates;
    if (named) {
        candidates.push_back(*named);
    } else {
        std::vector<std::string> errors;
        candidates = every_server(ctx, targets, tables, errors);
        if (candidates.empty()) return nothing_found(reporter, errors);
        for (const std::string& error : errors) reporter.report_error(error);
    }

    std::size_t mcp_agents = 0;
    for (const core::Target& target : targets) {
        if (join_optional_under_root(ctx, target.spec)) ++mcp_agents;
    }
    Adoption adoption(ctx, *settings, *commons, tables, mcp_agents);
    for (const Candidate& candidate : candidates) adoption.consider(candidate);
    adoption.finish(mcp_json, reporter);
    return exit_code(reporter);
}

}  // namespace mcp
