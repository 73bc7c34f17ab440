#include "commands/init.h"

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/commons.h"
#include "fanout/instructions.h"
#include "mcp/servers.h"
#include "platform/platform.h"
#include "platform/tasks.h"
#include "util/text.h"

namespace commands {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t shown_labels = 8;

// Names of the directory's entries in listing order, leaving out links,
// entries whose metadata cannot be read and dot-prefixed names. A
// directory that cannot be opened has none.
std::vector<std::string> list_dir_entries(const fs::path& dir) {
    std::vector<std::string> names;
    auto listed = platform::list_directory(dir);
    if (!listed) return names;
    for (const std::string& name : *listed) {
        auto meta = platform::symlink_metadata(dir / name);
        if (!meta || meta->is_symlink()) continue;
        std::string text = platform::lossy_text(name);
        if (text.starts_with(".")) continue;
        names.push_back(std::move(text));
    }
    return names;
}

std::string without_leading_dots(std::string_view dir) {
    while (dir.starts_with('.')) dir.remove_prefix(1);
    return std::string(dir);
}

// The family's entries the agents hold outside the Commons; true when any.
bool report_family(const fs::path& home, const fs::path& commons, const std::vector<core::Target>& targets,
                   core::Family family, core::Reporter& reporter) {
    std::set<std::string> in_commons;
    for (const auto& entry : core::scan_commons_family(commons, family).entries) in_commons.insert(entry.file_name);

    std::vector<std::string> labels;
    for (const auto& target : targets) {
        for (const auto& surface : target.surfaces) {
            if (surface.family != family) continue;
            std::vector<std::string> names = list_dir_entries(home / surface.dir);
            std::sort(names.begin(), names.end());
            for (const auto& name : names) {
                if (in_commons.count(name) == 0) labels.push_back(without_leading_dots(surface.dir) + "/" + name);
            }
        }
    }
    if (labels.empty()) return false;
    reporter.print_blank_line();
    reporter.print_line(std::to_string(labels.size()) + " " + std::string(core::family_name(family)) +
                        " not in the Commons:");
    for (std::size_t i = 0; i < labels.size() && i < shown_labels; ++i) reporter.print_line("  " + labels[i]);
    if (labels.size() > shown_labels) {
        reporter.print_line("  … and " + std::to_string(labels.size() - shown_labels) + " more");
    }
    reporter.print_line("  take one with `mirthlode adopt <path>`");
    return true;
}

// Server names the agents hold that the Commons lacks, each once, in byte
// order. The agents' files and mcp.json are read side by side, and of each
// agent's servers table only the names are taken.
std::set<std::string> servers_outside(const fs::path& home, const fs::path& commons,
                                      const std::vector<core::Target>& targets) {
    std::vector<const core::AgentSpec*> agents;
    for (const auto& target : targets) {
        if (target.spec && target.spec->mcp == core::McpMechanism::key_merge) agents.push_back(target.spec);
    }
    std::vector<std::vector<std::string>> held(agents.size());
    std::optional<util::Result<mcp::McpServers>> known;
    platform::run_parallel(agents.size() + 1, [&](std::size_t i) {
        if (i == agents.size()) {
            known = mcp::load_commons_servers(commons / "mcp.json");
            return;
        }
        const core::AgentSpec& spec = *agents[i];
        const fs::path file = home / spec.mcp_file;
        // A file that cannot be read or holds no table of servers adds none.
        auto read = core::read_agent_file(file, spec.config_format == core::ConfigFormat::toml);
        if (!read) return;
        auto table = core::config_table_view(file, *read, spec.servers_key);
        if (!table) return;
        if (table->toml) {
            for (const toml::Entry& entry : *table->toml) held[i].push_back(entry.key());
        } else if (table->json) {
            for (const auto& [name, value] : table->json->items()) held[i].push_back(name);
        }
    });
    std::set<std::string> names;
    for (const auto& agent : held) {
        for (const auto& name : agent) {
            if (!*known || (*known)->find(name) == nullptr) names.insert(name);
        }
    }
    return names;
}

}  // namespace

int init(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter) {
    const bool existed = platform::is_directory(ctx.commons);
    for (const fs::path& dir : {ctx.commons, ctx.commons / "skills", ctx.commons / "commands", ctx.commons / "agents"}) {
        if (auto made = platform::create_directories(dir); !made) {
            reporter.report_error("cannot create " + dir.string() + ": " + made.error().message());
            return 1;
        }
    }
    reporter.print_line((existed ? "Commons already present at " : "Created the Commons at ") + ctx.commons.string());
    for (core::Family family : core::all_families) reporter.print_line("  " + std::string(core::family_name(family)) + "/");
    reporter.print_blank_line();

    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);
    if (targets.empty()) {
        reporter.print_line("No agents found — mirthlode syncs to agents that are already installed.");
    } else {
        std::vector<std::string> names;
        for (const auto& target : targets) names.push_back(target.name);
        reporter.print_line("Found " + std::to_string(targets.size()) + " agents: " + util::join(names));
    }

    bool found = false;
    for (core::Family family : core::all_families) {
        found = report_family(ctx.home, ctx.commons, targets, family, reporter) || found;
    }

    const std::set<std::string> servers = servers_outside(ctx.home, ctx.commons, targets);
    if (!servers.empty()) {
        reporter.print_blank_line();
        reporter.print_line(std::to_string(servers.size()) + " MCP servers not in the Commons: " +
                            util::join(std::vector<std::string>(servers.begin(), servers.end())));
        reporter.print_line("  take them all with `mirthlode mcp adopt --all`");
        found = true;
    } else if (!found) {
        reporter.print_blank_line();
        reporter.print_line("Nothing to adopt — no agent config here is outside the Commons.");
    }

    std::vector<fanout::InstructionItem> conflicts;
    for (auto& item : fanout::plan_instructions(ctx, targets, ctx.commons / "AGENTS.md")) {
        if (item.state == fanout::InstructionState::conflict) conflicts.push_back(std::move(item));
    }
    if (!conflicts.empty()) {
        reporter.print_blank_line();
        reporter.print_line(std::to_string(conflicts.size()) + " conflicts:");
        for (const auto& item : conflicts) reporter.print_line("  " + item.agent + " — " + fanout::instruction_note(item));
    }

    reporter.print_blank_line();
    reporter.print_line(found ? "Adopt what you want to share, then run `mirthlode sync`."
                              : "Put a skill in skills/, instructions in AGENTS.md, then run `mirthlode sync`.");
    return 0;
}

}  // namespace commands
