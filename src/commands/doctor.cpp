#include "commands/doctor.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "core/agents.h"
#include "core/commons.h"
#include "core/family.h"
#include "core/fsutil.h"
#include "platform/platform.h"
#include "util/text.h"

namespace commands {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 6> known_names = {"skills",    "commands", "agents",
                                                          "hooks",     "AGENTS.md", "mcp.json"};
constexpr std::array<std::string_view, 4> protocol_names = {"tasks", "memories", "models.json",
                                                             "system-prompt.md"};

bool is_one_of(std::string_view name, const auto& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The names of a directory's entries as text; a directory that cannot be
// listed has none.
std::vector<std::string> dir_entry_names(const fs::path& dir) {
    std::vector<std::string> names;
    auto listing = platform::list_directory(dir);
    if (!listing) return names;
    for (const std::string& name : *listing) names.push_back(util::lossy_utf8(name));
    return names;
}

bool object_exists(const fs::path& path) { return static_cast<bool>(platform::metadata(path)); }

bool is_hook_file_name(std::string_view name) { return name.size() >= 5 && name.ends_with(".toml"); }

// A link found directly in a Commons family directory.
struct SourcedEntry {
    core::Family family;
    std::string name;
    fs::path target;
    bool missing = false;
};

std::vector<SourcedEntry> sourced_entries(const fs::path& commons) {
    std::vector<SourcedEntry> found;
    for (core::Family family : core::all_families) {
        const fs::path dir = commons / core::family_name(family);
        auto listing = platform::list_directory_entries(dir);
        if (!listing) continue;
        std::vector<SourcedEntry> in_family;
        for (const platform::DirEntry& listed : *listing) {
            const std::string& raw = listed.name;
            if (raw.starts_with(".")) continue;
            // The listing tells most kinds itself; only the rest need a look.
            if (listed.kind && *listed.kind != platform::FileKind::symlink) continue;
            const fs::path path = dir / raw;
            auto own = platform::symlink_metadata(path);
            if (!own || !own->is_symlink()) continue;
            auto text = platform::read_link(path);
            if (!text) continue;
            const fs::path target = core::normalize_path(text->is_absolute() ? *text : dir / *text);
            in_family.push_back({family, util::lossy_utf8(raw), target, !platform::metadata(path)});
        }
        std::stable_sort(in_family.begin(), in_family.end(),
                         [](const SourcedEntry& a, const SourcedEntry& b) { return a.name < b.name; });
        std::move(in_family.begin(), in_family.end(), std::back_inserter(found));
    }
    return found;
}

// The rows of a header ("Commons contents:" and the like) and its lines,
// then an empty line; nothing when there are no lines.
void print_block(core::Reporter& reporter, std::string_view header, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    reporter.print_line(header);
    for (const auto& line : lines) reporter.print_line(line);
    reporter.print_blank_line();
}

// Steps through what the Commons holds; only called when it is a directory.
void report_commons(const core::RunContext& ctx, core::Reporter& reporter) {
    std::vector<core::CommonsScan> scans;
    for (core::Family family : core::all_families) scans.push_back(core::scan_commons_family(ctx.commons, family));
    const fs::path hooks_dir = ctx.commons / "hooks";
    const std::vector<std::string> hook_names = dir_entry_names(hooks_dir);
    const std::vector<SourcedEntry> sourced = sourced_entries(ctx.commons);

    std::vector<std::string> contents;
    for (std::size_t i = 0; i < core::all_families.size(); ++i) {
        const core::Family family = core::all_families[i];
        const auto count = std::count_if(sourced.begin(), sourced.end(),
                                         [&](const SourcedEntry& e) { return e.family == family; });
        std::string line = "  " + util::pad_right(core::family_name(family), 13) + " " +
                           std::to_string(scans[i].entries.size());
        if (count > 0) line += " (" + std::to_string(count) + " sourced)";
        contents.push_back(std::move(line));
    }
    const auto hook_files = std::count_if(hook_names.begin(), hook_names.end(),
                                          [](const std::string& name) { return is_hook_file_name(name); });
    contents.push_back("  hooks         " +
                       (platform::is_directory(hooks_dir) ? std::to_string(hook_files) : std::string("absent")));
    auto presence = [](const fs::path& path) { return object_exists(path) ? "present" : "absent"; };
    contents.push_back(std::string("  AGENTS.md     ") + presence(ctx.commons / "AGENTS.md"));
    contents.push_back(std::string("  mcp.json      ") + presence(ctx.commons / "mcp.json"));
    print_block(reporter, "Commons contents:", contents);

    std::vector<std::string> sourced_lines;
    for (const SourcedEntry& entry : sourced) {
        sourced_lines.push_back("  " + std::string(core::family_name(entry.family)) + "/" + entry.name + " ← " +
                                entry.target.string() + (entry.missing ? " (source missing)" : ""));
    }
    print_block(reporter, "Sourced entries:", sourced_lines);

    std::vector<std::string> protocol, others;
    for (std::string& name : dir_entry_names(ctx.commons)) {
        if (is_one_of(name, known_names)) continue;
        (is_one_of(name, protocol_names) ? protocol : others).push_back(std::move(name));
    }
    std::sort(protocol.begin(), protocol.end());
    std::sort(others.begin(), others.end());
    for (auto* names : {&protocol, &others}) {
        for (std::string& name : *names) name = "  " + name;
    }
    print_block(reporter, ".agents Protocol surfaces:", protocol);
    print_block(reporter, "Other tools in the Commons:", others);

    for (const auto& scan : scans) {
        for (const auto& warning : scan.warnings) reporter.report_warning(core::display_commons_warning(warning));
    }
    for (const std::string& name : hook_names) {
        if (!name.ends_with(".toml")) {
            reporter.report_warning("Commons hooks/" + name + ": not a `<Event>.toml` file, skipped");
        }
    }
}

void report_legacy_dir(const core::RunContext& ctx, core::Reporter& reporter) {
    if (!platform::is_directory(ctx.legacy_dir)) return;
    auto config = platform::metadata(ctx.legacy_dir / "mirthlode.toml");
    if (config && config->is_regular()) {
        reporter.report_warning(ctx.legacy_dir.string() + " is no longer read — move mirthlode.toml to " +
                                ctx.config_dir.string() + " and delete the directory");
    } else {
        reporter.report_warning(ctx.legacy_dir.string() +
                                " is no longer read and holds no mirthlode.toml — the directory can be deleted");
    }
}

void report_override(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                     core::Reporter& reporter) {
    auto value = ctx.env.get("MIRTHLODE_HOME");
    if (!value || value->empty()) return;
    const fs::path default_commons = ctx.home / ".agents";
    if (core::normalize_path(ctx.commons) == core::normalize_path(default_commons)) return;
    std::string names;
    for (const core::Target& target : targets) {
        if (target.spec == nullptr || target.spec->skills != core::SkillsMechanism::native) continue;
        if (!names.empty()) names += " and ";
        names += target.name;
    }
    if (names.empty()) return;
    reporter.report_warning("MIRTHLODE_HOME points the Commons at " + ctx.commons.string() + ", but " + names +
                            " read " + default_commons.string() + " directly and will not see it");
}

// How each resource reaches a built-in agent; none is left out.
std::vector<std::pair<std::string_view, std::string>> agent_rows(const core::AgentSpec& spec) {
    using std::string;
    std::vector<std::pair<std::string_view, std::string>> rows;
    auto add = [&rows](std::string_view label, std::string value) {
        if (!value.empty()) rows.emplace_back(label, std::move(value));
    };
    switch (spec.skills) {
        case core::SkillsMechanism::fan_out: add("skills", "fan-out → " + string(spec.skills_dir)); break;
        case core::SkillsMechanism::native:
            add("skills", spec.skills_dir.empty() ? string("native (reads the Commons)")
                                                  : "native (reads the Commons; cleans " + string(spec.skills_dir) + ")");
            break;
        case core::SkillsMechanism::none: break;
    }
    const string instructions(spec.instructions_path);
    switch (spec.instructions) {
        case core::InstructionMechanism::symlink: add("instructions", "symlink → " + instructions); break;
        case core::InstructionMechanism::import_line: add("instructions", "import-line → " + instructions); break;
        case core::InstructionMechanism::rules_dir_link: add("instructions", "rules-dir link → " + instructions); break;
        case core::InstructionMechanism::none: break;
    }
    switch (spec.mcp) {
        case core::McpMechanism::key_merge: add("mcp", "key-merge → " + string(spec.mcp_file)); break;
        case core::McpMechanism::native: add("mcp", "native (via discovery)"); break;
        case core::McpMechanism::none: break;
    }
    const string commands(spec.commands_dir);
    switch (spec.commands) {
        case core::CommandsMechanism::fan_out: add("commands", "fan-out → " + commands); break;
        case core::CommandsMechanism::render: add("commands", "render → " + commands); break;
        case core::CommandsMechanism::native: add("commands", "native (via discovery)"); break;
        case core::CommandsMechanism::none: break;
    }
    if (!spec.agents_dir.empty()) add("agents", "fan-out → " + string(spec.agents_dir));
    if (!spec.hooks_file.empty()) add("hooks", "key-merge → " + string(spec.hooks_file));
    return rows;
}

// Creates a new file in `root` and removes it at once. A name left by an
// earlier run that was stopped half way (the same process id, or anything
// else already there) is passed over for the next one: only a failure to
// create a new file means the directory cannot be written.
util::IoStatus probe_writable(const fs::path& root) {
    const std::string base = ".mirthlode-probe-" + std::to_string(platform::process_id());
    constexpr int attempts = 16;
    std::error_code error;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const fs::path path = root / (attempt == 0 ? base : base + "-" + std::to_string(attempt));
        auto file = platform::create_new_file(path, 0600);
        if (file) {
            (void)file->close();
            (void)platform::remove_file(path);
            return {};
        }
        error = file.error();
        if (error != std::errc::file_exists) break;
    }
    return error;
}

void report_agents(const core::RunContext& ctx, const core::Config& config, const std::vector<core::Target>& targets,
                   core::Reporter& reporter) {
    std::size_t total = config.custom.size();
    for (const core::AgentSpec& spec : core::agent_table()) {
        if (std::find(config.disabled.begin(), config.disabled.end(), spec.name) == config.disabled.end()) ++total;
    }
    reporter.print_line("Detected agents (" + std::to_string(targets.size()) + " of " + std::to_string(total) + "):");
    if (targets.empty()) reporter.print_line("  none — no agent config root found");

    const std::string indent(15, ' ');
    for (const core::Target& target : targets) {
        reporter.print_line("  " + util::pad_right(target.name, 10) + " " + target.home);
        if (target.spec != nullptr) {
            for (const auto& [label, value] : agent_rows(*target.spec)) {
                reporter.print_line(indent + std::string(label) + " " + value);
            }
        } else {
            for (const core::Surface& surface : target.surfaces) {
                reporter.print_line(indent + std::string(core::family_name(surface.family)) + " fan-out → " +
                                    surface.dir);
            }
        }
        const fs::path root = ctx.home / target.home;
        if (!probe_writable(root)) {
            reporter.report_error(target.name + " config root is not writable: " + root.string());
        }
    }
    if (total > targets.size()) {
        reporter.print_blank_line();
        reporter.print_line(std::to_string(total - targets.size()) + " known agents are not installed and were skipped.");
    }
}

}  // namespace

int doctor(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter) {
    reporter.print_line("Commons " + ctx.commons.string());
    reporter.print_line("Home    " + ctx.home.string());
    reporter.print_line("Config  " + ctx.config_dir.string());
    reporter.print_line("State   " + ctx.state_dir.string());
    reporter.print_blank_line();

    report_legacy_dir(ctx, reporter);
    if (platform::is_directory(ctx.commons)) {
        report_commons(ctx, reporter);
    } else {
        reporter.report_error("no Commons at " + ctx.commons.string() + " — run `mirthlode init` to create one");
    }

    const fs::path retired = ctx.commons / "subagents";
    if (auto listing = platform::list_directory(retired); listing && !listing->empty()) {
        reporter.report_warning(retired.string() +
                                " is no longer a family — the agents family reads agents/; rename the directory");
    }

    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);
    report_override(ctx, targets, reporter);
    report_agents(ctx, config, targets, reporter);
    return reporter.errors() > 0 ? 1 : 0;
}

}  // namespace commands
