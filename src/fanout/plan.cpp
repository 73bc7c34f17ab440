#include "fanout/plan.h"

#include <array>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
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

// One link section to plan: whose, where, and how.
struct SectionSpec {
    const core::Target* target;
    std::string dir;
    fs::path real;          // the directory with every link followed
    bool leftover = false;  // a native agent's leftover fan-out links
    bool shared = false;    // sections of other families plan the same directory
};

using FamilySections = std::array<std::vector<SectionSpec>, core::all_families.size()>;

// Every real directory is planned once, whichever targets share it: a second
// target with the same surface gets no section of its own, and a native
// agent's leftover links are not cleaned from a directory that another target
// links into. A directory that sections of more than one family plan is
// marked shared: those sections keep every entry, so that names an earlier
// family planned there can be left out of a later one afterwards.
FamilySections choose_sections(const core::RunContext& ctx, const std::vector<core::Target>& targets) {
    std::set<fs::path> surface_dirs;
    for (const auto& target : targets) {
        for (const auto& surface : target.surfaces) surface_dirs.insert(real_directory(ctx.home / surface.dir));
    }
    std::map<fs::path, std::set<core::Family>> planned;
    FamilySections chosen;
    for (std::size_t f = 0; f < core::all_families.size(); ++f) {
        const core::Family family = core::all_families[f];
        for (const auto& target : targets) {
            std::optional<std::string> dir = surface_of(target, family);
            const bool leftover = !dir;
            if (leftover) dir = leftover_dir(target, family);
            if (!dir) continue;
            fs::path real = real_directory(ctx.home / *dir);
            if (leftover && surface_dirs.count(real) != 0) continue;
            if (!planned[real].insert(family).second) continue;
            chosen[f].push_back({&target, *dir, std::move(real), leftover, false});
        }
    }
    for (auto& sections : chosen) {
        for (auto& section : sections) section.shared = planned[section.real].size() > 1;
    }
    return chosen;
}

// The sections of one family, in target order.
struct FamilyPlan {
    std::vector<std::string> warnings;
    std::vector<LinkSection> sections;
};

// `alongside`, when given, is run with the family's scan beside the sections.
FamilyPlan plan_family(const core::RunContext& ctx, const std::vector<SectionSpec>& specs, core::Family family,
                       const PlanOptions& options,
                       const std::function<void(const core::CommonsScan&)>& alongside = {}) {
    FamilyPlan plan;
    const core::CommonsScan scan = core::scan_commons_family(ctx.commons, family);
    for (const auto& warning : scan.warnings) plan.warnings.push_back(core::display_commons_warning(warning));
    for (const SectionSpec& spec : specs) plan.sections.push_back({spec.target->name, spec.dir, family, {}, 0, std::nullopt});
    // Sections only read: they are checked side by side.
    platform::run_parallel(plan.sections.size() + (alongside ? 1 : 0), [&](std::size_t i) {
        if (i == plan.sections.size()) {
            alongside(scan);
            return;
        }
        LinkSection& section = plan.sections[i];
        const fs::path dir = ctx.home / section.surface_dir;
        const bool keep = options.keep_linked || specs[i].shared;
        auto entries = specs[i].leftover ? find_leftover_links(dir, ctx.commons)
                                         : plan_links(dir, ctx.commons, scan.entries, keep, section.linked);
        if (entries) {
            section.entries = std::move(*entries);
        } else {
            section.linked = 0;
            section.error = entries.error().message;
        }
    });
    return plan;
}

// In a directory that several families plan, a name is planned by the first
// section that has it, and one that a family's Commons entry wants is left
// to that family: another family finds its link there dangling or foreign
// only because it is not its own. Without records of what is in place, the
// linked entries are then counted and dropped.
void drop_names_planned_before(const FamilySections& specs, std::array<FamilyPlan, core::all_families.size()>& families,
                               const PlanOptions& options) {
    std::map<fs::path, std::set<std::string>> wanted;
    for (std::size_t f = 0; f < families.size(); ++f) {
        for (std::size_t i = 0; i < specs[f].size(); ++i) {
            if (!specs[f][i].shared) continue;
            for (const LinkEntry& entry : families[f].sections[i].entries) {
                if (entry.expected) wanted[specs[f][i].real].insert(fs::path(entry.link).filename().string());
            }
        }
    }
    std::map<fs::path, std::set<std::string>> names;
    for (std::size_t f = 0; f < families.size(); ++f) {
        for (std::size_t i = 0; i < specs[f].size(); ++i) {
            if (!specs[f][i].shared) continue;
            LinkSection& section = families[f].sections[i];
            std::set<std::string>& here = names[specs[f][i].real];
            const std::set<std::string>& wanted_here = wanted[specs[f][i].real];
            std::erase_if(section.entries, [&](const LinkEntry& entry) {
                std::string name = fs::path(entry.link).filename().string();
                if (!entry.expected && wanted_here.count(name) != 0) return true;
                return !here.insert(std::move(name)).second;
            });
            if (options.keep_linked) continue;
            section.linked += std::erase_if(section.entries,
                                            [](const LinkEntry& entry) { return entry.state == LinkState::linked; });
        }
    }
}

}  // namespace

SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config, const PlanOptions& options) {
    SyncPlan plan;
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);

    // The planners only read, each its own files: they run side by side and
    // their results are put together in the order of the report.
    const FamilySections specs = choose_sections(ctx, targets);
    std::array<FamilyPlan, core::all_families.size()> families;
    RenderPlan rendered;
    // An agent file that more than one planner reads (gemini's settings hold
    // its MCP servers and its hooks) is read and parsed once.
    core::AgentFileReads reads;
    const std::array<std::function<void()>, families.size() + 3> planners{
        [&] { families[0] = plan_family(ctx, specs[0], core::all_families[0], options); },
        // The rendered commands share the commands scan.
        [&] {
            static_assert(core::all_families[1] == core::Family::commands);
            families[1] = plan_family(ctx, specs[1], core::all_families[1], options, [&](const core::CommonsScan& scan) {
                rendered = plan_rendered_commands(ctx.home, targets, scan.entries, options.keep_managed);
            });
        },
        [&] { families[2] = plan_family(ctx, specs[2], core::all_families[2], options); },
        [&] { plan.instructions = plan_instructions(ctx, targets, ctx.commons / "AGENTS.md"); },
        [&] { plan.mcp = mcp::plan_mcp(ctx, config, targets, ctx.commons / "mcp.json", options.keep_managed,
                                          &reads); },
        [&] { plan.hooks = plan_hooks(ctx.home, targets, ctx.commons / "hooks", options.keep_managed, &reads); },
    };
    platform::run_parallel(planners.size(), [&](std::size_t i) { planners[i](); });

    drop_names_planned_before(specs, families, options);
    for (FamilyPlan& family : families) {
        std::move(family.warnings.begin(), family.warnings.end(), std::back_inserter(plan.warnings));
        std::move(family.sections.begin(), family.sections.end(), std::back_inserter(plan.link_sections));
    }
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
