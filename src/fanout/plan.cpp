#include "fanout/plan.h"

#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "core/agents.h"
#include "core/commons.h"

namespace fanout {

namespace {

std::optional<std::string> surface_of(const core::Target& target, core::Family family) {
    for (const auto& surface : target.surfaces) {
        if (surface.family == family) return surface.dir;
    }
    return std::nullopt;
}

// The skills directory of an agent that reads the Commons skills itself,
// where fan-out links of earlier runs may be left.
std::optional<std::string> leftover_dir(const core::Target& target, core::Family family) {
    if (family != core::Family::skills || target.spec == nullptr) return std::nullopt;
    if (target.spec->skills != core::SkillsMechanism::native || target.spec->skills_dir.empty()) {
        return std::nullopt;
    }
    return std::string(target.spec->skills_dir);
}

// The link names already planned in one real directory, and the families
// whose sections planned them.
struct PlannedDir {
    std::set<core::Family> families;
    std::set<std::string> names;
};

// Every real directory is planned once, whichever targets share it: a second
// target with the same surface gets no section of its own, a surface of
// another family there leaves out the names already planned, and a native
// agent's leftover links are not cleaned from a directory that another
// target links into.
void plan_link_sections(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                        SyncPlan& plan) {
    std::set<fs::path> surface_dirs;
    for (const auto& target : targets) {
        for (const auto& surface : target.surfaces) surface_dirs.insert(real_directory(ctx.home / surface.dir));
    }
    std::map<fs::path, PlannedDir> planned;
    for (core::Family family : core::all_families) {
        core::CommonsScan scan = core::scan_commons_family(ctx.commons, family);
        for (const auto& warning : scan.warnings) plan.warnings.push_back(core::display_commons_warning(warning));
        for (const auto& target : targets) {
            std::optional<std::string> dir = surface_of(target, family);
            const bool leftovers = !dir;
            if (leftovers) dir = leftover_dir(target, family);
            if (!dir) continue;
            const fs::path real = real_directory(ctx.home / *dir);
            if (leftovers && surface_dirs.count(real) != 0) continue;
            PlannedDir& here = planned[real];
            if (!here.families.insert(family).second) continue;
            std::vector<LinkEntry> entries = leftovers ? find_leftover_links(ctx.home / *dir, ctx.commons)
                                                       : plan_links(ctx.home / *dir, ctx.commons, scan.entries);
            std::erase_if(entries, [&](const LinkEntry& entry) {
                return !here.names.insert(entry.link.filename().string()).second;
            });
            plan.link_sections.push_back({target.name, *dir, std::move(entries)});
            plan.link_families.push_back(family);
        }
    }
}

}  // namespace

SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config) {
    SyncPlan plan;
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);
    plan_link_sections(ctx, targets, plan);
    plan.instructions = plan_instructions(ctx, targets, ctx.commons / "AGENTS.md");

    plan.mcp = mcp::plan_mcp(ctx, config, targets, ctx.commons / "mcp.json");
    RenderPlan rendered = plan_rendered_commands(ctx.home, targets, ctx.commons);
    plan.hooks = plan_hooks(ctx.home, targets, ctx.commons / "hooks");

    plan.rendered = std::move(rendered.items);
    for (auto* passed_over : {&rendered.warnings, &plan.hooks.warnings}) {
        std::move(passed_over->begin(), passed_over->end(), std::back_inserter(plan.warnings));
        passed_over->clear();
    }
    for (auto* blocking : {&plan.mcp.errors, &rendered.errors, &plan.hooks.errors}) {
        std::move(blocking->begin(), blocking->end(), std::back_inserter(plan.errors));
        blocking->clear();
    }
    return plan;
}

bool is_actionable(LinkState state) {
    return state == LinkState::missing || state == LinkState::stale || state == LinkState::dangling ||
           state == LinkState::duplicate;
}

bool needs_attention(LinkState state) { return is_actionable(state) || state == LinkState::variant_identical; }

bool is_actionable(InstructionState state) {
    return state == InstructionState::missing || state == InstructionState::import;
}

std::uint64_t actionable_count(const SyncPlan& plan) {
    std::uint64_t count = 0;
    auto add = [&count](const auto& items) {
        for (const auto& item : items) count += needs_attention(item.state) ? 1 : 0;
    };
    for (const auto& section : plan.link_sections) add(section.entries);
    add(plan.instructions);
    add(plan.mcp.items);
    add(plan.hooks.items);
    add(plan.rendered);
    return count;
}

}  // namespace fanout
