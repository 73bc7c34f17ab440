#include "fanout/plan.h"

#include <array>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>

#include "core/agents.h"
#include "core/commons.h"
#include "platform/tasks.h"

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

// The sections of one family, in target order.
struct FamilyPlan {
    std::vector<std::string> warnings;
    std::vector<LinkSection> sections;
};

// `alongside`, when given, is run with the family's scan beside the sections.
FamilyPlan plan_family(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                       core::Family family, const PlanOptions& options,
                       const std::function<void(const core::CommonsScan&)>& alongside = {}) {
    FamilyPlan plan;
    const core::CommonsScan scan = core::scan_commons_family(ctx.commons, family);
    for (const auto& warning : scan.warnings) plan.warnings.push_back(core::display_commons_warning(warning));
    std::vector<bool> leftover;
    for (const auto& target : targets) {
        if (auto dir = surface_of(target, family)) {
            plan.sections.push_back({target.name, *dir, {}});
            leftover.push_back(false);
        } else if (auto dir = leftover_dir(target, family)) {
            plan.sections.push_back({target.name, *dir, {}});
            leftover.push_back(true);
        }
    }
    // Sections only read: they are checked side by side.
    platform::run_parallel(plan.sections.size() + (alongside ? 1 : 0), [&](std::size_t i) {
        if (i == plan.sections.size()) {
            alongside(scan);
            return;
        }
        LinkSection& section = plan.sections[i];
        const fs::path dir = ctx.home / section.surface_dir;
        if (leftover[i]) {
            section.entries = find_leftover_links(dir, ctx.commons);
        } else {
            section.entries = plan_links(dir, ctx.commons, scan.entries, options.keep_in_place, section.linked);
        }
    });
    return plan;
}

}  // namespace

SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config, const PlanOptions& options) {
    SyncPlan plan;
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);

    // The planners only read, each its own files: they run side by side and
    // their results are put together in the order of the report.
    std::array<FamilyPlan, core::all_families.size()> families;
    RenderPlan rendered;
    const std::array<std::function<void()>, families.size() + 3> planners{
        [&] { families[0] = plan_family(ctx, targets, core::all_families[0], options); },
        // The rendered commands share the commands scan.
        [&] {
            static_assert(core::all_families[1] == core::Family::commands);
            families[1] = plan_family(ctx, targets, core::all_families[1], options, [&](const core::CommonsScan& scan) {
                rendered = plan_rendered_commands(ctx.home, targets, scan.entries, options.keep_in_place);
            });
        },
        [&] { families[2] = plan_family(ctx, targets, core::all_families[2], options); },
        [&] { plan.instructions = plan_instructions(ctx, targets, ctx.commons / "AGENTS.md"); },
        [&] { plan.mcp = mcp::plan_mcp(ctx, config, targets, ctx.commons / "mcp.json", options.keep_in_place); },
        [&] { plan.hooks = plan_hooks(ctx.home, targets, ctx.commons / "hooks"); },
    };
    platform::run_parallel(planners.size(), [&](std::size_t i) { planners[i](); });

    for (FamilyPlan& family : families) {
        std::move(family.warnings.begin(), family.warnings.end(), std::back_inserter(plan.warnings));
        std::move(family.sections.begin(), family.sections.end(), std::back_inserter(plan.link_sections));
    }
    plan.rendered = std::move(rendered.items);
    for (auto* blocking : {&plan.mcp.errors, &rendered.errors, &plan.hooks.errors}) {
        std::move(blocking->begin(), blocking->end(), std::back_inserter(plan.errors));
        blocking->clear();
    }
    return plan;
}

}  // namespace fanout
