#include "commands/adopt.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "core/agents.h"
#include "core/commons.h"
#include "core/fsutil.h"
#include "core/fsutil_tree.h"
#include "core/lock.h"
#include "core/replace_entry.h"
#include "fanout/instructions.h"
#include "fanout/link.h"
#include "platform/platform.h"

namespace commands {

namespace fs = std::filesystem;

using core::normalize_path;

namespace {

enum class AdoptMechanic { absorb, source, copy };

// What is taken in, and where it goes.
struct Adoption {
    AdoptMechanic mechanic = AdoptMechanic::copy;
    std::optional<core::Family> family;  // none: the Commons AGENTS.md
    std::string agent;                   // absorb: the agent it comes from
    std::string name;                    // the path's last component, as text
    fs::path commons_path;
    bool identical = false;              // an equal Commons copy stands there already
};

// The path made absolute from the current directory (when it cannot be
// read, the empty path stands for it), then normalised.
fs::path absolute_path(const fs::path& path) {
    if (path.is_absolute()) return normalize_path(path);
    auto cwd = platform::current_directory();
    return normalize_path((cwd ? *cwd : fs::path()) / path);
}

// True when both paths lead to the same place on disk.
bool same_place(const fs::path& a, const fs::path& b) {
    auto left = platform::final_path(a);
    auto right = platform::final_path(b);
    return left && right && *left == *right;
}

// Where the path really is, its parent's links followed but not its own.
std::optional<fs::path> real_location(const fs::path& path) {
    auto parent = platform::final_path(path.parent_path());
    if (!parent) return std::nullopt;
    return *parent / path.filename();
}

// The relative text of a link at `link` to `target` in the Commons, as sync
// writes it. Where the text is followed from is worked out against the
// Commons itself, which exists before the entry does, so that a dry run
// names the same text as the real run.
std::string link_text_for(const fs::path& link, const fs::path& target, const fs::path& commons) {
    const fs::path parent = link.has_parent_path() ? link.parent_path() : fs::path(".");
    return fanout::relative_path(fanout::link_base(parent, commons), target);
}

// Makes that link; its text is returned.
util::IoResult<std::string> link_relative(const fs::path& link, const fs::path& target, const fs::path& commons) {
    std::string text = link_text_for(link, target, commons);
    if (auto made = fanout::make_symlink(text, link); !made) return made.error();
    return text;
}

// True when `kept` reaches into `removed` through a link (itself, or one
// anywhere in its tree): removing `removed` would then take away content
// that `kept` only shows. Links are not followed further.
bool leads_into(const fs::path& kept, const fs::path& removed_real) {
    auto meta = platform::symlink_metadata(kept);
    if (!meta) return false;
    if (meta->is_symlink()) {
        auto real = platform::final_path(kept);
        return real && fanout::is_under(*real, removed_real);
    }
    if (!meta->is_dir()) return false;
    auto names = platform::list_directory(kept);
    if (!names) return false;
    for (const std::string& name : *names) {
        if (leads_into(kept / name, removed_real)) return true;
    }
    return false;
}

// True when removing `removed` leaves `kept` whole.
bool removable_beside(const fs::path& removed, const fs::path& kept) {
    auto removed_real = platform::final_path(removed);
    return !removed_real || !leads_into(kept, *removed_real);
}

// A command's or subagent's name without its ".md" suffixes.
std::string entry_name(const std::string& file_name, core::Family family) {
    std::string_view name = file_name;
    if (family != core::Family::skills) {
        while (name.ends_with(".md")) name.remove_suffix(3);
    }
    return std::string(name);
}

// What the path is, in the words of a refusal.
std::string what_it_is(const platform::Metadata& meta) {
    switch (meta.special) {
        case platform::SpecialKind::fifo: return "a FIFO";
        case platform::SpecialKind::socket: return "a socket";
        case platform::SpecialKind::device: return "a device";
        case platform::SpecialKind::none: break;
    }
    if (meta.is_dir()) return "a directory";
    return meta.is_regular() ? "a file" : "a special file";
}

class Adopter {
public:
    Adopter(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool dry_run)
        : ctx_(ctx), config_(config), reporter_(reporter), dry_run_(dry_run) {}

    int run(const std::string& path_text);

private:
    bool choose(Adoption& adoption);
    bool check_fits(const Adoption& adoption);
    std::optional<core::Family> family_of_path();
    bool check_sourced(const Adoption& adoption);
    // The checks on what already stands at the Commons path; false ends the
    // run with `exit_`.
    bool check_commons_entry(Adoption& adoption);
    std::string variant_text(const Adoption& adoption) const {
        return path_.string() + " differs from the Commons copy at " + adoption.commons_path.string() +
               " — this is a Variant. Merge it by hand if you want it in the Commons; mirthlode will not choose "
               "which side to discard";
    }
    bool lock(Adoption& adoption);
    void report_leftover(const core::Replaced& replaced);
    void notice();

    int absorb(Adoption& adoption);
    int source(Adoption& adoption);
    int copy(Adoption& adoption);
    void fan_out(const Adoption& adoption);
    void fan_out_family(const Adoption& adoption);
    void fan_out_instructions();
    // Prints "  would {would}" in a dry run; else applies and prints
    // "  {done}", or reports `failed` followed by the system's error.
    template <class Apply>
    void fan_out_step(const std::string& would, const std::string& done, const std::string& failed, Apply apply);

    int fail(const std::string& text) {
        reporter_.report_error(text);
        return 1;
    }
    int finish() const { return reporter_.errors() > 0 ? 1 : 0; }
    std::string display(const Adoption& adoption) const {
        return adoption.family ? std::string(core::family_name(*adoption.family)) + "/" + adoption.name
                               : std::string("AGENTS.md");
    }
    static std::string family_word(const Adoption& adoption) {
        return adoption.family ? std::string(core::family_name(*adoption.family)) : "instructions";
    }

    const core::RunContext& ctx_;
    const core::Config& config_;
    core::Reporter& reporter_;
    bool dry_run_;
    fs::path path_;
    std::vector<core::Target> targets_;
    std::optional<core::ProcessLock> lock_;
    int exit_ = 1;
};

int Adopter::run(const std::string& path_text) {
    if (!platform::is_directory(ctx_.commons)) {
        return fail("no Commons at " + ctx_.commons.string() + " — run `mirthlode init` to create one");
    }
    path_ = absolute_path(path_text);

    if (!platform::symlink_metadata(path_) && !platform::metadata(path_)) {
        return fail(path_.string() + " does not exist");
    }
    // Lexically, or through a link on the way (an agent directory that is
    // itself a link into the Commons).
    bool in_commons = fanout::is_under(path_, normalize_path(ctx_.commons));
    if (!in_commons && path_.has_relative_path()) {
        auto real = real_location(path_);
        auto commons = platform::final_path(ctx_.commons);
        in_commons = real && commons && fanout::is_under(*real, *commons);
    }
    if (in_commons) return fail(path_.string() + " is already in the Commons — nothing to adopt");
    // Whatever the mechanic: a link's content is not the user's to take, and
    // following it has no bound.
    if (auto meta = platform::symlink_metadata(path_); meta && meta->is_symlink()) {
        return fail(path_.string() + " is already a symlink — there is nothing to adopt");
    }

    targets_ = core::select_targets(ctx_.home, config_);
    Adoption adoption;
    if (!choose(adoption) || !check_fits(adoption)) return 1;
    if (!check_commons_entry(adoption)) return exit_;

    switch (adoption.mechanic) {
        case AdoptMechanic::absorb: return absorb(adoption);
        case AdoptMechanic::source: return source(adoption);
        case AdoptMechanic::copy: return copy(adoption);
    }
    return 1;
}

bool Adopter::choose(Adoption& adoption) {
    adoption.name = platform::lossy_text(path_.filename());
    if (path_.has_relative_path()) {
        const fs::path parent = normalize_path(path_.parent_path());
        // As written first; then where the parent really is, so that a path
        // reached another way (the current directory of a home behind a link,
        // an agent directory that is a link) is still the agent's own. The
        // agent's own path then stands for it.
        auto real_parent = platform::final_path(parent);
        for (bool by_place : {false, true}) {
            if (by_place && !real_parent) break;
            auto same_dir = [&](const fs::path& dir) {
                if (!by_place) return normalize_path(dir) == parent;
                auto real = platform::final_path(dir);
                return real && *real == *real_parent;
            };
            for (const auto& target : targets_) {
                for (const auto& surface : target.surfaces) {
                    const fs::path dir = ctx_.home / surface.dir;
                    if (!same_dir(dir)) continue;
                    path_ = normalize_path(dir) / path_.filename();
                    adoption.mechanic = AdoptMechanic::absorb;
                    adoption.family = surface.family;
                    adoption.agent = target.name;
                    adoption.commons_path = ctx_.commons / core::family_name(surface.family) / path_.filename();
                    return true;
                }
                if (target.spec == nullptr) continue;
                std::optional<fs::path> instructions;
                if (target.spec->instructions == core::InstructionMechanism::symlink) {
                    instructions = normalize_path(ctx_.home / target.spec->instructions_path);
                } else if (target.spec->instructions == core::InstructionMechanism::rules_dir_link) {
                    instructions = normalize_path(ctx_.home / target.spec->instructions_path / "AGENTS.md");
                }
                if (instructions && instructions->filename() == path_.filename() &&
                    same_dir(instructions->parent_path())) {
                    path_ = *instructions;
                    adoption.mechanic = AdoptMechanic::absorb;
                    adoption.agent = target.name;
                    adoption.commons_path = ctx_.commons / "AGENTS.md";
                    return true;
                }
            }
        }
    }

    adoption.mechanic = AdoptMechanic::copy;
    for (fs::path dir = path_;; dir = dir.parent_path()) {
        if (platform::symlink_metadata(dir / ".git")) {
            adoption.mechanic = AdoptMechanic::source;
            break;
        }
        if (!dir.has_relative_path()) break;
    }
    adoption.family = family_of_path();
    if (!adoption.family) return false;
    adoption.commons_path = ctx_.commons / core::family_name(*adoption.family) / path_.filename();
    return true;
}

// What the Commons scan would skip is never taken in: it would stay in the
// Commons unsynced, and the links made to it would never be listed. Nor is
// what no agent reads: a skill is a directory, a command, a subagent and the
// instructions are each one regular file.
bool Adopter::check_fits(const Adoption& adoption) {
    auto meta = platform::metadata(path_);  // no link: refused before
    std::optional<std::string> refusal;
    if (!adoption.family) {
        if (meta && !meta->is_regular()) refusal = "AGENTS.md is a single file — this is " + what_it_is(*meta);
    } else if (auto unfit = core::unfit_name(path_.filename().native())) {
        refusal = core::unfit_text(*unfit, *adoption.family);
    } else if (meta && (*adoption.family == core::Family::skills ? !meta->is_dir() : !meta->is_regular())) {
        refusal = core::family_takes(*adoption.family) + " — this is " + what_it_is(*meta);
    } else if (auto unfit = core::unfit_kind(*adoption.family, adoption.name, meta && meta->is_dir())) {
        refusal = core::unfit_text(*unfit, *adoption.family);
    }
    if (!refusal) return true;
    reporter_.report_error(path_.string() + ": " + *refusal);
    return false;
}

std::optional<core::Family> Adopter::family_of_path() {
    const std::string parent = platform::lossy_text(path_.parent_path().filename());
    for (core::Family family : core::all_families) {
        if (core::family_name(family) == parent) return family;
    }
    reporter_.report_error(path_.string() + ": parent directory \"" + parent +
                           "\" is not a family — adopt takes paths from skills/, commands/, or agents/");
    return std::nullopt;
}

bool Adopter::check_sourced(const Adoption& adoption) {
    auto stored = platform::read_link(adoption.commons_path);
    const fs::path target = core::resolve_link_target(adoption.commons_path, stored ? *stored : fs::path());
    if (target == path_ || same_place(target, path_)) {
        reporter_.print_line(display(adoption) + " is already Sourced from " + path_.string() + " — nothing to do");
        return false;
    }
    reporter_.report_error(display(adoption) + " is already Sourced from " + target.string() +
                           " — remove the Commons link first if you mean to repoint it");
    return true;
}

bool Adopter::check_commons_entry(Adoption& adoption) {
    auto existing = platform::symlink_metadata(adoption.commons_path);
    if (!existing) return true;
    if (existing->is_symlink()) {
        exit_ = check_sourced(adoption) ? 1 : 0;
        return false;
    }
    if (same_place(adoption.commons_path, path_)) {
        // The Commons entry itself, reached through a link on the way.
        reporter_.report_error(path_.string() + " is already in the Commons — nothing to adopt");
        return false;
    }
    // Equal content counts as identical only when the side that goes does
    // not hold what the side that stays shows through a link.
    bool removable = true;
    if (adoption.mechanic == AdoptMechanic::absorb) removable = removable_beside(path_, adoption.commons_path);
    if (adoption.mechanic == AdoptMechanic::source) removable = removable_beside(adoption.commons_path, path_);
    // A copy is what copying makes: its links may read otherwise.
    const bool equal = adoption.mechanic == AdoptMechanic::copy ? core::is_copy_of(adoption.commons_path, path_)
                                                                 : fanout::same_content(path_, adoption.commons_path);
    if (!removable || !equal) {
        reporter_.report_error(variant_text(adoption));
        return false;
    }
    adoption.identical = true;
    if (adoption.mechanic == AdoptMechanic::copy) {
        reporter_.print_line(display(adoption) + " is already in the Commons — nothing to do");
        exit_ = 0;
        return false;
    }
    return true;
}

// Takes the lock, clears what runs that are gone left where this one works,
// then checks the Commons entry again: while this run waited, another may
// have taken the path, or the copy found identical may have been edited, and
// removing it now would lose that edit.
bool Adopter::lock(Adoption& adoption) {
    lock_ = core::take_lock(ctx_, reporter_);
    if (!lock_) return false;
    core::clear_hidden_leftovers(adoption.commons_path.parent_path());
    if (adoption.mechanic == AdoptMechanic::absorb) core::clear_hidden_leftovers(path_.parent_path());
    adoption.identical = false;
    return check_commons_entry(adoption);
}

void Adopter::report_leftover(const core::Replaced& replaced) {
    if (replaced.leftover) {
        reporter_.report_warning("cannot remove " + replaced.leftover->at.string() + ": " + replaced.leftover->reason);
    }
}

void Adopter::notice() {
    reporter_.print_line("dry run — no changes will be made");
    reporter_.print_blank_line();
}

int Adopter::absorb(Adoption& adoption) {
    const std::string path = path_.string();
    if (dry_run_) {
        notice();
        reporter_.print_line("absorb: " + adoption.name + " from " + adoption.agent + " into the Commons (" +
                             family_word(adoption) + ")");
        reporter_.print_line(adoption.identical ? "  would remove " + path + " — identical to the Commons copy"
                                                : "  would move " + path + " into the Commons");
        reporter_.print_line("  would leave a link at " + path + " → " +
                             link_text_for(path_, adoption.commons_path, ctx_.commons));
        fan_out(adoption);
        return finish();
    }
    if (!lock(adoption)) return exit_;
    const fs::path parent = adoption.commons_path.parent_path();
    if (!adoption.identical) {
        if (auto made = platform::create_directories(parent); !made) {
            return fail("cannot create " + parent.string() + ": " + made.error().message());
        }
    }
    std::string text;
    const core::PutInPlace leave_link = [&]() -> util::IoStatus {
        auto made = link_relative(path_, adoption.commons_path, ctx_.commons);
        if (!made) return made.error();
        text = *made;
        return {};
    };
    const core::Replaced done = adoption.identical ? core::replace_entry(path_, leave_link)
                                                   : core::move_entry(path_, adoption.commons_path, leave_link);
    if (done.failed == core::Replaced::Failed::take_out) {
        return fail((adoption.identical ? "cannot remove " + path : "cannot move " + path + " into the Commons") +
                    ": " + done.error.text(path_));
    }
    if (done.failed == core::Replaced::Failed::put_in) return fail("cannot link " + path + ": " + done.error.reason);
    report_leftover(done);
    reporter_.print_line(adoption.identical ? adoption.name + " in " + adoption.agent +
                                                  " was identical to the Commons copy — re-linked"
                                            : "adopted " + adoption.name + " from " + adoption.agent +
                                                  " into the Commons (" + family_word(adoption) + ")");
    reporter_.print_line("  " + path + " → " + text);
    fan_out(adoption);
    return finish();
}

int Adopter::source(Adoption& adoption) {
    const std::string path = path_.string();
    const std::string commons_path = adoption.commons_path.string();
    if (dry_run_) {
        notice();
        reporter_.print_line("source: " + adoption.name + " — Sourced from " + path + " (" + family_word(adoption) +
                             ")");
        if (adoption.identical) reporter_.print_line("  would replace the identical Commons copy with the link");
        reporter_.print_line("  would link " + commons_path + " → " + path);
        fan_out(adoption);
        return finish();
    }
    if (!lock(adoption)) return exit_;
    const core::PutInPlace link = [&] { return fanout::make_symlink(path, adoption.commons_path); };
    if (adoption.identical) {
        const core::Replaced done = core::replace_entry(adoption.commons_path, link);
        if (done.failed == core::Replaced::Failed::take_out) {
            return fail("cannot remove " + commons_path + ": " + done.error.reason);
        }
        if (done.failed == core::Replaced::Failed::put_in) {
            return fail("cannot link " + commons_path + ": " + done.error.reason);
        }
        report_leftover(done);
    } else {
        const fs::path parent = adoption.commons_path.parent_path();
        if (auto made = platform::create_directories(parent); !made) {
            return fail("cannot create " + parent.string() + ": " + made.error().message());
        }
        if (auto made = link(); !made) return fail("cannot link " + commons_path + ": " + made.error().message());
    }
    reporter_.print_line("adopted " + adoption.name + " — Sourced from " + path + " (" + family_word(adoption) + ")");
    if (adoption.identical) reporter_.print_line("  replaced the identical Commons copy with the link");
    reporter_.print_line("  " + commons_path + " → " + path);
    fan_out(adoption);
    return finish();
}

int Adopter::copy(Adoption& adoption) {
    const std::string path = path_.string();
    const std::string diverge =
        "  the original at " + path + " is no longer consulted; edits there will diverge from the Commons copy";
    const auto copy_failed = [&](const core::TreeError& error) {
        return fail("cannot copy " + path + " into the Commons: " + error.text(path_));
    };
    if (dry_run_) {
        // What the copy would stop at is said now, not promised away.
        if (auto copyable = core::check_copyable(path_); !copyable) return copy_failed(copyable.error());
        notice();
        reporter_.print_line("copy: " + adoption.name + " — copied into the Commons (" + family_word(adoption) + ")");
        reporter_.print_line("  would copy " + path + " into the Commons");
        reporter_.print_line(diverge);
        fan_out(adoption);
        return finish();
    }
    if (!lock(adoption)) return exit_;
    const fs::path parent = adoption.commons_path.parent_path();
    if (auto made = platform::create_directories(parent); !made) {
        return fail("cannot create " + parent.string() + ": " + made.error().message());
    }
    if (auto copied = core::copy_tree(path_, adoption.commons_path); !copied) return copy_failed(copied.error());
    reporter_.print_line("adopted " + adoption.name + " — copied into the Commons (" + family_word(adoption) + ")");
    reporter_.print_line(diverge);
    fan_out(adoption);
    return finish();
}

void Adopter::fan_out(const Adoption& adoption) {
    if (adoption.family) {
        fan_out_family(adoption);
    } else {
        fan_out_instructions();
    }
}

void Adopter::fan_out_family(const Adoption& adoption) {
    const core::Family family = *adoption.family;
    const std::string file_name = path_.filename().string();
    const core::CommonsEntry entry{entry_name(adoption.name, family), file_name, adoption.commons_path};
    // Before the entry is in the Commons a dry run compares copies with the
    // path itself, which is what the Commons will hold.
    const bool stand_in = dry_run_ && !platform::symlink_metadata(adoption.commons_path);
    for (const auto& target : targets_) {
        for (const auto& surface : target.surfaces) {
            if (surface.family != family) continue;
            const std::string where = target.name + " (" + surface.dir + ")";
            auto links = fanout::plan_links_of(ctx_.home / surface.dir, ctx_.commons, {entry});
            if (!links) {
                reporter_.report_error(links.error().message);
                continue;
            }
            for (const auto& planned : *links) {
                if (!planned.expected || normalize_path(planned.link) == path_) continue;
                fanout::LinkState state = planned.state;
                if (stand_in && state == fanout::LinkState::variant && fanout::same_content(planned.link, path_)) {
                    state = fanout::LinkState::variant_identical;
                }
                switch (state) {
                    case fanout::LinkState::linked:
                        break;
                    case fanout::LinkState::missing:
                    case fanout::LinkState::stale:
                    case fanout::LinkState::dangling:
                    case fanout::LinkState::duplicate:
                        fan_out_step("link into " + where, "linked into " + where, "cannot link into " + where,
                                     [&] { return fanout::apply_link(planned); });
                        break;
                    case fanout::LinkState::variant_identical:
                    case fanout::LinkState::variant:
                    case fanout::LinkState::foreign:
                        reporter_.print_line("  " + where + ": " + std::string(fanout::link_state_word(state)) +
                                             " — " + std::string(fanout::link_state_note(state)));
                        break;
                }
            }
        }
    }
}

template <class Apply>
void Adopter::fan_out_step(const std::string& would, const std::string& done, const std::string& failed, Apply apply) {
    if (dry_run_) {
        reporter_.print_line("  would " + would);
    } else if (auto applied = apply(); applied) {
        reporter_.print_line("  " + done);
    } else {
        reporter_.report_error(failed + ": " + applied.error().message());
    }
}

void Adopter::fan_out_instructions() {
    const fs::path commons_file = ctx_.commons / "AGENTS.md";
    fs::path against = commons_file;
    auto meta = platform::metadata(against);
    if (!meta || !meta->is_regular()) against = path_;
    for (auto& item : fanout::plan_instructions(ctx_, targets_, against)) {
        if (normalize_path(item.path) == path_) continue;
        // Planned against the path standing in for the Commons file, a link
        // that already names the Commons file is one the move makes whole.
        if (against != commons_file && item.state == fanout::InstructionState::foreign) {
            auto text = platform::read_link(item.path);
            if (text && core::resolve_link_target(item.path, *text) == normalize_path(commons_file)) {
                item.state = fanout::InstructionState::linked;
            }
        }
        const std::string where = item.agent + " (" + fanout::shown_from_home(item.path, ctx_.home) + ")";
        switch (item.state) {
            case fanout::InstructionState::linked:
            case fanout::InstructionState::imported:
                break;
            case fanout::InstructionState::missing:
                fan_out_step("link into " + where, "linked into " + where, "cannot link into " + where,
                             [&] { return fanout::apply_instruction(item); });
                break;
            case fanout::InstructionState::import:
                fan_out_step("add the import line to " + where, "added the import line to " + where,
                             "cannot write " + item.path.string(), [&] { return fanout::apply_instruction(item); });
                break;
            case fanout::InstructionState::conflict:
            case fanout::InstructionState::foreign:
                reporter_.print_line("  " + item.agent + ": " + fanout::instruction_note(item));
                break;
        }
    }
}

}  // namespace

int adopt(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, const std::string& path,
          bool dry_run) {
    // PATH is taken from the current directory; so are a relative home
    // directory and Commons, so that paths compare and link texts are worked
    // out between absolute places.
    core::RunContext absolute = ctx;
    if (ctx.home.is_relative()) absolute.home = absolute_path(ctx.home);
    if (ctx.commons.is_relative()) absolute.commons = absolute_path(ctx.commons);
    return Adopter(absolute, config, reporter, dry_run).run(path);
}

}  // namespace commands
