#include "commands/sync.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/commons.h"
#include "core/fsutil_tree.h"
#include "core/lock.h"
#include "fanout/plan.h"
#include "fanout/hook_apply.h"
#include "mcp/merge.h"
#include "platform/platform.h"
#include "util/group.h"
#include "util/text.h"

namespace commands {

using namespace fanout;

namespace {

constexpr std::size_t state_column = 9;

// Lists the sections and applies them, counting the changes.
class SectionWriter {
public:
    SectionWriter(const core::RunContext& ctx, core::Reporter& reporter, bool dry_run)
        : ctx_(ctx), reporter_(reporter), dry_run_(dry_run) {}

    void link_section(const LinkSection& section);
    void instructions_section(const std::vector<InstructionItem>& items);
    void mcp_section(const mcp::McpPlan& plan);
    void rendered_section(const std::vector<RenderedCommand>& items);
    void hooks_section(const HookPlan& plan);
    // The hooks about to be written: a settings file that also takes MCP
    // servers gets both in one write, each reported in its own section.
    void hooks_ahead(const HookPlan& plan);
    void errors(const std::vector<std::string>& texts);
    void summary();

private:
    // Prints the line of an actionable item once it is done (or in a dry run).
    template <class Apply, class OnError>
    void act(const std::string& line, Apply apply, OnError on_error);
    // Removes the disabled entries, then merges the rest one file at a time.
    void apply_mcp(const std::vector<mcp::McpItem>& items);
    // Counts `count` changes when `done` succeeded, else reports its error.
    void count_or_report(const util::Status<>& done, std::size_t count);
    // Prints the header and a line per item that is not managed; returns the
    // number of actionable items.
    template <class Item, class Line>
    std::size_t list(std::string_view header, const std::vector<Item>& items, Line line);

    // The hooks of `path` as an edit of the text an MCP write is about to
    // write there; nothing when the file has none to write.
    std::optional<mcp::Further> hooks_for(const fs::path& path) const;
    void hooks_written(const fs::path& path, const std::optional<mcp::Further>& further);

    const core::RunContext& ctx_;
    core::Reporter& reporter_;
    bool dry_run_;
    std::uint64_t changes_ = 0;
    std::vector<HookFileGroup> hook_groups_;
    std::map<fs::path, util::Status<>> hooks_written_;  // outcomes of hooks written with MCP servers
};

template <class Apply, class OnError>
void SectionWriter::act(const std::string& line, Apply apply, OnError on_error) {
    if (!dry_run_) {
        util::IoStatus done = apply();
        if (!done) {
            reporter_.report_error(on_error(done.error().message()));
            return;
        }
    }
    reporter_.print_line(line);
    ++changes_;
}

void SectionWriter::link_section(const LinkSection& section) {
    // What stands in a surface that could not be examined is not known:
    // nothing is made over it.
    if (section.error) {
        reporter_.report_error(*section.error);
        return;
    }
    LinkApplier applier;
    bool header = false;
    for (const auto& entry : section.entries) {
        if (entry.state == LinkState::linked) continue;
        if (!header) {
            reporter_.print_line(section.agent + " (" + section.surface_dir + ")");
            header = true;
        }
        const std::string start = util::row_start(link_state_word(entry.state), state_column) + entry.name;
        if (!is_actionable(entry.state)) {
            reporter_.print_line(start + " — " + std::string(link_state_note(entry.state)));
            continue;
        }
        act(
            start, [&] { return applier.apply(entry); },
            [&](const std::string& error) {
                return "cannot fix " + shown_from_home(entry.link, ctx_.home) + ": " + error;
            });
    }
}

void SectionWriter::instructions_section(const std::vector<InstructionItem>& items) {
    bool header = false;
    for (const auto& item : items) {
        if (item.state == InstructionState::linked || item.state == InstructionState::imported) continue;
        if (!header) {
            reporter_.print_line("instructions (AGENTS.md)");
            header = true;
        }
        const std::string start = util::row_start(instruction_state_word(item.state), state_column) + item.agent;
        if (!is_actionable(item.state)) {
            reporter_.print_line(start + " — " + instruction_note(item));
            continue;
        }
        act(
            start, [&] { return apply_instruction(item); },
            [&](const std::string& error) { return "cannot write " + item.path.string() + ": " + error; });
    }
}

void SectionWriter::errors(const std::vector<std::string>& texts) {
    for (const auto& text : texts) reporter_.report_error(text);
}

void SectionWriter::count_or_report(const util::Status<>& done, std::size_t count) {
    if (done) {
        changes_ += count;
    } else {
        reporter_.report_error(done.error().message);
    }
}

std::string mcp_line(const mcp::McpItem& item) {
    return util::row_start(mcp::state_word(item.state), state_column) + item.server + " → " + std::string(item.agent) + " — " +
           mcp::mcp_note(item);
}

// The missing and drifted items of each agent file, in the plan order of
// the files' first items.
std::vector<std::vector<const mcp::McpItem*>> merge_groups(const std::vector<mcp::McpItem>& items) {
    auto merged = [](const mcp::McpItem& item) {
        return item.state == mcp::McpState::missing || item.state == mcp::McpState::drifted;
    };
    return util::group_in_order(items, merged, &mcp::McpItem::file);
}

template <class Item, class Line>
std::size_t SectionWriter::list(std::string_view header, const std::vector<Item>& items, Line line) {
    std::size_t actionable = 0;
    bool printed = false;
    for (const Item& item : items) {
        if (item.state == decltype(item.state)::managed) continue;
        if (!printed) {
            reporter_.print_line(header);
            printed = true;
        }
        reporter_.print_line(line(item));
        if (is_actionable(item.state)) ++actionable;
    }
    return actionable;
}

void SectionWriter::mcp_section(const mcp::McpPlan& plan) {
    errors(plan.read_errors);
    const std::size_t actionable = list("mcp (mcp.json)", plan.items, mcp_line);
    if (dry_run_) {
        changes_ += actionable;
    } else if (actionable > 0) {
        apply_mcp(plan.items);
    }
}

void SectionWriter::apply_mcp(const std::vector<mcp::McpItem>& items) {
    const auto merges = merge_groups(items);
    std::map<fs::path, const std::vector<const mcp::McpItem*>*> merging;
    for (const auto& group : merges) merging.emplace(group.front()->file.path(), &group);
    // A file that also takes merged servers gets both in one write; the
    // merge's outcome waits to be reported in its turn, below.
    std::map<fs::path, util::Result<mcp::MergeOutcome>> merged_early;

    // The plan found these entries mirthlode's: each file loses them in one write.
    auto disabled = [](const mcp::McpItem& item) { return item.state == mcp::McpState::disabled; };
    for (const auto& group : util::group_in_order(items, disabled, &mcp::McpItem::file)) {
        const mcp::McpItem& first = *group.front();
        std::vector<std::string> names;
        for (const mcp::McpItem* item : group) names.push_back(item->server);
        auto removal = core::config_without_entries(first.file, first.servers_key, first.toml, names, {});
        util::Status<> removed;
        if (!removal) {
            removed = removal.error();
        } else if (removal->text) {
            auto found = merging.find(first.file.path());
            auto further = hooks_for(first.file);
            auto written = mcp::write_removal_and_merge(first.file, first.servers_key, first.toml, *removal->text,
                                                        found == merging.end() ? nullptr : found->second,
                                                        further ? &*further : nullptr);
            hooks_written(first.file, further);
            removed = std::move(written.removal);
            if (written.merge) merged_early.emplace(first.file.path(), std::move(*written.merge));
        }
        if (removed) {
            changes_ += group.size();
        } else {
            reporter_.report_error(removed.error().message);
        }
    }
    for (const auto& group : merges) {
        const mcp::McpItem& first = *group.front();
        auto early = merged_early.find(first.file.path());
        std::optional<mcp::Further> further;
        if (early == merged_early.end()) further = hooks_for(first.file);
        auto merged = early != merged_early.end() ? std::move(early->second)
                                                  : mcp::merge_servers_into_agent_file(first.file, first.servers_key,
                                                                                       first.toml, group,
                                                                                       first.read.get(),
                                                                                       further ? &*further : nullptr);
        hooks_written(first.file, further);
        if (!merged) {
            reporter_.report_error(merged.error().message);
            continue;
        }
        changes_ += group.size();
        if (merged->mode) reporter_.report_warning(mcp::secrets_mode_warning(merged->written, *merged->mode));
    }
}

void SectionWriter::rendered_section(const std::vector<RenderedCommand>& items) {
    const std::size_t actionable = list("rendered commands", items, render_line);
    if (dry_run_) {
        changes_ += actionable;
        return;
    }
    RenderApplier applier;
    for (const auto& item : items) {
        if (is_actionable(item.state)) count_or_report(applier.apply(item), 1);
    }
    applier.finish();
}

void SectionWriter::hooks_section(const HookPlan& plan) {
    errors(plan.settings_errors);
    const std::size_t actionable = list("hooks", plan.items, hook_line);
    if (dry_run_) {
        changes_ += actionable;
        return;
    }
    if (hook_groups_.empty()) hook_groups_ = group_actionable_hooks(plan.items);
    for (const auto& group : hook_groups_) {
        auto written = hooks_written_.find(group.path);
        count_or_report(written != hooks_written_.end() ? written->second : apply_hook_group(group),
                        group.items.size());
    }
}

void SectionWriter::hooks_ahead(const HookPlan& plan) {
    if (!dry_run_) hook_groups_ = group_actionable_hooks(plan.items);
}

std::optional<mcp::Further> SectionWriter::hooks_for(const fs::path& path) const {
    for (const HookFileGroup& group : hook_groups_) {
        if (group.path != path || hooks_written_.count(path) != 0) continue;
        return mcp::Further{[&group](const std::string& text) { return hooks_written_into(group, text); }, {}};
    }
    return std::nullopt;
}

void SectionWriter::hooks_written(const fs::path& path, const std::optional<mcp::Further>& further) {
    if (further && further->outcome) hooks_written_.emplace(path, *further->outcome);
}

void SectionWriter::summary() {
    if (changes_ > 0) {
        reporter_.print_blank_line();
        reporter_.print_line(std::to_string(changes_) + (changes_ == 1 ? " change " : " changes ") +
                             (dry_run_ ? "would be made." : "made."));
    } else if (reporter_.errors() > 0) {
        reporter_.print_blank_line();
        reporter_.print_line("No changes were made — see the errors above.");
    } else {
        reporter_.print_line("Everything is up to date.");
    }
}

}  // namespace

int sync(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
             bool dry_run) {
    if (!platform::is_directory(ctx.commons)) {
        reporter.report_error("no Commons at " + ctx.commons.string() +
                              " — run `mirthlode init` to create one");
        return 1;
    }
    std::optional<core::ProcessLock> lock;
    if (dry_run) {
        reporter.print_line("dry run — no changes will be made");
        reporter.print_blank_line();
    } else {
        lock = core::take_lock(ctx, reporter);
        if (!lock) return 1;
        // What a killed adopt left in the Commons under a hidden name (a half
        // copy, an entry taken out of its place) is cleared before the scan
        // would warn about it; what a running process left stays.
        for (core::Family family : core::all_families) {
            core::clear_hidden_leftovers(ctx.commons / core::family_name(family));
        }
    }
    // Read again under the lock: a run that held it may have changed the
    // allowlists since this one started, and a stale copy would fan a server
    // out to agents it was just scoped away from.
    std::optional<core::Config> fresh;
    if (lock) {
        auto reloaded = core::load_config(ctx.config_dir);
        if (!reloaded) {
            reporter.report_error(reloaded.error().message);
            return 1;
        }
        fresh = std::move(reloaded).value();
    }

    // Sync lists nothing that is in place: it keeps no record of it.
    const SyncPlan plan = plan_sync(ctx, fresh ? *fresh : config, PlanOptions{.keep_linked = false, .keep_managed = false});
    for (const auto& warning : plan.warnings) reporter.report_warning(warning);

    SectionWriter writer(ctx, reporter, dry_run);
    if (!plan.errors.empty()) {
        writer.errors(plan.errors);
        for (const auto& section : plan.link_sections) {
            if (section.error) writer.errors({*section.error});
        }
        writer.errors(plan.mcp.read_errors);
        writer.errors(plan.hooks.settings_errors);
    } else {
        for (const auto& section : plan.link_sections) writer.link_section(section);
        writer.instructions_section(plan.instructions);
        writer.hooks_ahead(plan.hooks);
        writer.mcp_section(plan.mcp);
        writer.rendered_section(plan.rendered);
        writer.hooks_section(plan.hooks);
    }
    writer.summary();
    return reporter.errors() > 0 ? 1 : 0;
}

}  // namespace commands
