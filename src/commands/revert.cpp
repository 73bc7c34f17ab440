#include "commands/revert.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <variant>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "core/fsutil.h"
#include "core/lock.h"
#include "core/text_file.h"
#include "fanout/commons_hooks.h"
#include "fanout/hook_remove.h"
#include "fanout/hook_settings.h"
#include "fanout/instructions.h"
#include "fanout/link.h"
#include "fanout/render.h"
#include "mcp/plan.h"
#include "mcp/servers.h"
#include "platform/platform.h"

namespace commands {

namespace fs = std::filesystem;

namespace {

// The built-in agent of that name, else the custom agent of that name.
std::optional<core::Target> resolve_agent(const std::string& name, const core::Config& config) {
    if (const core::AgentSpec* spec = core::agent_by_name(name)) return core::target_from_spec(*spec);
    for (const core::CustomAgent& custom : config.custom) {
        if (custom.name != name) continue;
        core::Target target{custom.name, custom.root, {}, nullptr};
        for (const auto& [family, dir] : custom.surfaces) target.surfaces.push_back(core::Surface{family, dir});
        return target;
    }
    return std::nullopt;
}

class Reverter {
public:
    Reverter(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
             const core::Target& target)
        : ctx_(ctx), config_(config), reporter_(reporter), target_(target) {
        if (auto real = platform::final_path(ctx.commons)) commons_real_ = *real;
    }

    void links();
    void instructions();
    void mcp_servers();
    void rendered_commands();
    void hooks();
    int summary();

private:
    // The directory's entries in byte order of their names, files,
    // directories and links alike; none when it does not exist. One that
    // cannot be listed is reported, and gives nothing.
    std::optional<std::vector<platform::DirEntry>> list_sorted(const fs::path& dir);
    // True when `dir` really lies in the Commons (an agent directory that is
    // a link into it): it holds the Commons' own entries, never fan-out links.
    bool lies_in_commons(const fs::path& dir) const;
    // Removes every fan-out link of `dir`.
    void remove_links_in(const fs::path& dir);
    void remove_link(const fs::path& path);
    // Removes `path` when it is a link of mirthlode's; `base` is where the
    // link texts of its directory are followed from (fanout::link_base).
    void remove_if_ours(const fs::path& path, const fs::path& base);
    std::string shown(const fs::path& path) const { return fanout::shown_from_home(path, ctx_.home); }

    const core::RunContext& ctx_;
    const core::Config& config_;
    core::Reporter& reporter_;
    // The Commons hooks and what taking them out of the settings found.
    struct HookRemoval {
        std::vector<std::string> errors;  // the Commons hook files that could not be loaded
        std::vector<fanout::CommonsHook> commons;
        std::optional<std::string> failed;  // the settings could not be read or written
        std::vector<fanout::RemovedHook> removed;
    };
    // Whether the agent keeps its servers in the settings file of its hooks.
    bool one_settings_file() const;
    // The Commons hooks, loaded; nothing when there is no hooks directory.
    std::optional<HookRemoval> load_hooks() const;
    // Takes the Commons hooks out of the settings `root`; true when it did.
    static bool take_out_hooks(HookRemoval& removal, json::Value& root, const std::string& agent);
    void report_hooks(HookRemoval& removal, const fs::path& settings);

    const core::Target& target_;
    std::optional<fs::path> commons_real_;
    std::uint64_t count_ = 0;
    // Taken out with the servers, in the same write, to be reported in its turn.
    std::optional<HookRemoval> hooks_done_;
};

std::optional<std::vector<platform::DirEntry>> Reverter::list_sorted(const fs::path& dir) {
    auto entries = platform::list_directory_entries(dir);
    if (!entries) {
        if (fanout::names_nothing(entries.error())) return std::vector<platform::DirEntry>();
        reporter_.report_error(fanout::cannot_list_text(dir, entries.error()));
        return std::nullopt;
    }
    std::sort(entries->begin(), entries->end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return std::move(*entries);
}

bool Reverter::lies_in_commons(const fs::path& dir) const {
    if (!commons_real_) return false;
    auto real = platform::final_path(dir);
    return real && fanout::is_under(*real, *commons_real_);
}

void Reverter::remove_links_in(const fs::path& dir) {
    const auto entries = list_sorted(dir);
    if (!entries || entries->empty() || lies_in_commons(dir)) return;
    // Where the directory's link texts are followed from, worked out once.
    const fs::path base = fanout::link_base(dir, ctx_.commons);
    for (const platform::DirEntry& entry : *entries) {
        // What the listing already knows to be a file or a directory is no link.
        if (entry.kind && *entry.kind != platform::FileKind::symlink) continue;
        remove_if_ours(dir / entry.name, base);
    }
}

void Reverter::remove_link(const fs::path& path) {
    const fs::path dir = path.parent_path();
    if (lies_in_commons(dir)) return;
    remove_if_ours(path, fanout::link_base(dir, ctx_.commons));
}

void Reverter::remove_if_ours(const fs::path& path, const fs::path& base) {
    // A link of mirthlode's goes whatever it leads to: whether it dangles is not asked.
    const fanout::EntryClass found = fanout::classify_entry(path, ctx_.commons, base, false);
    if (const auto* unreadable = std::get_if<fanout::Unreadable>(&found)) {
        reporter_.report_error(fanout::cannot_read_text(path, unreadable->error));
        return;
    }
    if (!std::holds_alternative<fanout::OurLink>(found)) return;
    if (auto removed = platform::remove_file(path); !removed) {
        reporter_.report_error("cannot remove " + path.string() + ": " + removed.error().message());
        return;
    }
    reporter_.print_line("removed " + shown(path));
    ++count_;
}

void Reverter::links() {
    for (core::Family family : core::all_families) {
        std::optional<std::string> dir;
        for (const auto& surface : target_.surfaces) {
            if (surface.family == family) dir = surface.dir;
        }
        // An agent that reads the Commons skills itself may still hold fan-out
        // links of earlier runs in its own skills directory.
        const core::AgentSpec* spec = target_.spec;
        if (!dir && family == core::Family::skills && spec != nullptr &&
            spec->skills == core::SkillsMechanism::native && !spec->skills_dir.empty()) {
            dir = std::string(spec->skills_dir);
        }
        if (dir) remove_links_in(ctx_.home / *dir);
    }
}

void Reverter::instructions() {
    const core::AgentSpec& spec = *target_.spec;
    const fs::path path = ctx_.home / spec.instructions_path;
    switch (spec.instructions) {
        case core::InstructionMechanism::symlink:
            remove_link(path);
            break;
        case core::InstructionMechanism::import_line: {
            // A FIFO or a device holds no line of ours, and reading it could block.
            auto meta = platform::metadata(path);
            if (meta && meta->kind == platform::FileKind::other) break;
            auto removed = fanout::remove_import_line(ctx_, path);
            if (!removed) {
                reporter_.report_error("cannot rewrite " + path.string() + ": " + removed.error().message());
            } else if (*removed) {
                reporter_.print_line("removed the import line from " + std::string(spec.instructions_path));
                ++count_;
            }
            break;
        }
        case core::InstructionMechanism::rules_dir_link:
            remove_link(path / "AGENTS.md");
            break;
        case core::InstructionMechanism::none:
            break;
    }
}

void Reverter::mcp_servers() {
    const core::AgentSpec& spec = *target_.spec;
    if (spec.mcp != core::McpMechanism::key_merge) return;
    auto servers = mcp::load_commons_servers(ctx_.commons / "mcp.json");
    if (!servers) {
        reporter_.report_error(servers.error().message);
        return;
    }
    const fs::path file = ctx_.home / spec.mcp_file;
    std::vector<std::string> names;
    names.reserve(servers->size());
    for (const auto& entry : *servers) names.push_back(entry.name);
    // Every server, enabled or not, whose entry here is mirthlode's; the
    // user's own entry of a server not allowlisted for this agent stays.
    bool taking = false;  // some entry of the file is mirthlode's
    auto ours = [&](const std::string& name, const json::Value& held) {
        const bool mine = mcp::is_mirthlode_entry(ctx_, config_, spec, target_.name, name, *servers->find(name), held);
        taking = taking || mine;
        return mine;
    };
    // One settings file holding the servers and the hooks is read and written
    // once for both; the hooks are reported in their turn.
    core::DocumentEdit also;
    bool read = false;
    if (one_settings_file()) {
        hooks_done_ = load_hooks();
        if (hooks_done_) {
            also = [&](json::Value& root) {
                read = true;
                return take_out_hooks(*hooks_done_, root, target_.name);
            };
        }
    }
    auto removed = core::remove_config_entries(file, spec.servers_key, spec.config_format == core::ConfigFormat::toml,
                                               names, ours, also);
    if (!removed) {
        // Each side meets the failure only as it would alone: a file not read
        // when it had names (or hooks) to look for, a file not written when
        // it had entries (or hooks) to take out.
        if (read ? taking : !names.empty()) reporter_.report_error(removed.error().message);
        if (hooks_done_ && (read ? !hooks_done_->removed.empty() : !hooks_done_->commons.empty())) {
            hooks_done_->failed = removed.error().message;
        }
        return;
    }
    for (const std::string& name : removed->names) {
        reporter_.print_line("removed mcp server " + name + " from " + shown(file));
        ++count_;
    }
}

void Reverter::rendered_commands() {
    const core::AgentSpec& spec = *target_.spec;
    if (spec.commands != core::CommandsMechanism::render) return;
    const fs::path dir = ctx_.home / spec.commands_dir;
    const auto entries = list_sorted(dir);
    if (!entries) return;
    for (const platform::DirEntry& entry : *entries) {
        const fs::path path = dir / entry.name;
        // Only regular files are read: a FIFO could block the run.
        auto meta = platform::metadata(path);
        if (!meta || !meta->is_regular()) continue;
        auto text = core::read_utf8_file(path);
        if (!text || !fanout::has_generated_header(*text)) continue;
        if (auto removed = platform::remove_file(path); !removed) {
            reporter_.report_error("cannot remove " + path.string() + ": " + removed.error().message());
            continue;
        }
        reporter_.print_line("removed " + shown(path));
        ++count_;
    }
}

bool Reverter::one_settings_file() const {
    const core::AgentSpec& spec = *target_.spec;
    return !spec.hooks_file.empty() && spec.hooks_file == spec.mcp_file &&
           spec.config_format == core::ConfigFormat::json;
}

std::optional<Reverter::HookRemoval> Reverter::load_hooks() const {
    const fs::path hooks_dir = ctx_.commons / "hooks";
    if (!platform::is_directory(hooks_dir)) return std::nullopt;
    HookRemoval removal;
    removal.commons = fanout::load_commons_hooks(hooks_dir, removal.errors);
    return removal;
}

bool Reverter::take_out_hooks(HookRemoval& removal, json::Value& root, const std::string& agent) {
    if (removal.commons.empty()) return false;
    json::Value* hooks = fanout::get_hooks_key(root);
    if (hooks == nullptr || !hooks->is_object()) return false;
    removal.removed = fanout::remove_commons_hooks(*hooks, removal.commons, agent);
    return !removal.removed.empty();
}

void Reverter::hooks() {
    const core::AgentSpec& spec = *target_.spec;
    if (spec.hooks_file.empty()) return;
    const fs::path settings = ctx_.home / spec.hooks_file;
    if (hooks_done_) {
        report_hooks(*hooks_done_, settings);
        return;
    }
    std::optional<HookRemoval> removal = load_hooks();
    if (!removal) return;
    if (!removal->commons.empty()) {
        // The settings file edited as the servers' file is, with no servers to take.
        auto done = core::remove_config_entries(settings, spec.hooks_key, false, {}, {}, [&](json::Value& root) {
            return take_out_hooks(*removal, root, target_.name);
        });
        if (!done) removal->failed = done.error().message;
    }
    report_hooks(*removal, settings);
}

// What taking the hooks out found: the failure that stopped it, or the
// Commons hook files that could not be loaded, then each hook taken out.
void Reverter::report_hooks(HookRemoval& removal, const fs::path& settings) {
    if (removal.failed) {
        reporter_.report_error(*removal.failed);
        return;
    }
    for (const auto& error : removal.errors) reporter_.report_error(error);
    for (const auto& hook : removal.removed) {
        reporter_.print_line("removed the " + hook.event + " hook " + hook.command + " from " + shown(settings));
    }
    count_ += removal.removed.size();
}

int Reverter::summary() {
    if (count_ > 0) {
        reporter_.print_blank_line();
        reporter_.print_line(std::to_string(count_) + (count_ == 1 ? " removal" : " removals") + " made.");
        return reporter_.errors() > 0 ? 1 : 0;
    }
    if (reporter_.errors() > 0) return 1;
    reporter_.print_line("nothing of mirthlode's in " + target_.name + " — nothing to revert");
    return 0;
}

}  // namespace

int revert(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
           const std::string& agent) {
    const std::optional<core::Target> target = resolve_agent(agent, config);
    if (!target) {
        reporter.report_error("`" + agent + "` is not an agent mirthlode knows about");
        return 1;
    }
    if (std::find(config.disabled.begin(), config.disabled.end(), agent) == config.disabled.end()) {
        reporter.report_error(agent + " is still enabled — set targets." + agent + " = false in " +
                              (ctx.config_dir / "mirthlode.toml").string() +
                              " first, so sync will not redo what revert undoes");
        return 1;
    }
    if (!core::dir_exists_under(target->home, ctx.home)) {
        reporter.print_line(agent + " is not installed on this machine — nothing to revert");
        return 0;
    }
    const std::optional<core::ProcessLock> lock = core::take_lock(ctx, reporter);
    if (!lock) return 1;

    Reverter reverter(ctx, config, reporter, *target);
    reverter.links();
    if (target->spec != nullptr) {
        reverter.instructions();
        reverter.mcp_servers();
        reverter.rendered_commands();
        reverter.hooks();
    }
    return reverter.summary();
}

}  // namespace commands
