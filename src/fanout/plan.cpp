#include "fanout/plan.h"

#include <iterator>
#include <optional>
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

void plan_link_sections(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                        SyncPlan& plan) {
    for (core::Family family : core::all_families) {
        core::CommonsScan scan = core::scan_commons_family(ctx.commons, family);
        for (const auto& warning : scan.warnings) plan.warnings.push_back(core::display_commons_warning(warning));
        for (const auto& target : targets) {
            if (auto dir = surface_of(target, family)) {
                plan.link_sections.push_back(
                    {target.name, *dir, plan_links(ctx.home / *dir, ctx.commons, scan.entries)});
                plan.link_families.push_back(family);
            } else if (auto dir = leftover_dir(target, family)) {
                plan.link_sections.push_back(
                    {target.name, *dir, find_leftover_links(ctx.home / *dir, ctx.commons)});
                plan.link_families.push_back(family);
            }
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
