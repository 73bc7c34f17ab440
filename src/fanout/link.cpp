#include "fanout/link.h"

#include <algorithm>

#include "core/fsutil.h"
#include "core/fsutil_tree.h"
#include "platform/platform.h"

namespace fanout {

using core::normalize_path;

std::string_view link_state_word(LinkState state) {
    switch (state) {
        case LinkState::linked: return "linked";
        case LinkState::missing: return "missing";
        case LinkState::stale: return "stale";
        case LinkState::dangling: return "dangling";
        case LinkState::duplicate: return "duplicate";
        case LinkState::variant_identical: return "variant-identical";
        case LinkState::variant: return "variant";
        case LinkState::foreign: return "foreign";
    }
    return "";
}

std::string_view link_state_note(LinkState state) {
    switch (state) {
        case LinkState::linked: return "";
        case LinkState::missing: return "not linked yet";
        case LinkState::stale: return "not in canonical form";
        case LinkState::dangling: return "Commons entry is gone";
        case LinkState::duplicate: return "the agent reads the Commons natively — leftover fan-out link";
        case LinkState::variant_identical: return "identical to the Commons — could be re-linked";
        case LinkState::variant: return "left alone";
        case LinkState::foreign: return "not ours — left alone";
    }
    return "";
}

bool is_under(const fs::path& path, const fs::path& root) {
    auto part = path.begin();
    for (const auto& want : root) {
        if (part == path.end() || *part != want) return false;
        ++part;
    }
    return true;
}

std::optional<fs::path> relative_to_home(const fs::path& path, const fs::path& home) {
    const fs::path normal = normalize_path(path);
    const fs::path root = normalize_path(home);
    if (!is_under(normal, root)) return std::nullopt;
    return normal.lexically_relative(root);
}

std::string shown_from_home(const fs::path& path, const fs::path& home) {
    if (auto relative = relative_to_home(path, home)) return relative->string();
    return path.string();
}

std::string relative_path(const fs::path& from, const fs::path& to) {
    const fs::path f = normalize_path(from);
    const fs::path t = normalize_path(to);
    if (f.is_absolute() != t.is_absolute()) return t.string();
    auto fi = f.begin();
    auto ti = t.begin();
    while (fi != f.end() && ti != t.end() && *fi == *ti) {
        ++fi;
        ++ti;
    }
    fs::path out;
    for (; fi != f.end(); ++fi) out /= "..";
    for (; ti != t.end(); ++ti) out /= *ti;
    return out.empty() ? "." : out.string();
}

namespace {

// `dir / name` for a plain name, without the cost of the general join.
std::string join_name(const fs::path& dir, const std::string& name) {
    const std::string& text = dir.native();
    if (text.empty()) return name;
    return text.back() == '/' ? text + name : text + "/" + name;
}

// Where `dir` really is: the final path of its deepest existing ancestor
// with the missing rest appended.
std::optional<fs::path> real_location(const fs::path& dir) {
    fs::path known = normalize_path(dir);
    std::vector<fs::path> missing;
    while (!known.empty()) {
        if (auto real = platform::final_path(known)) {
            fs::path out = *real;
            for (auto it = missing.rbegin(); it != missing.rend(); ++it) out /= *it;
            return out;
        }
        if (!known.has_relative_path()) break;
        missing.push_back(known.filename());
        known = known.parent_path();
    }
    return std::nullopt;
}

// Gone, not merely unreadable: a permission error or a loop is not proof
// that the Commons entry was removed.
bool target_is_gone(const fs::path& link) {
    auto meta = platform::metadata(link);
    if (meta) return false;
    return meta.error() == std::errc::no_such_file_or_directory ||
           meta.error() == std::errc::not_a_directory;
}

}  // namespace

fs::path real_directory(const fs::path& dir) { return real_location(dir).value_or(normalize_path(dir)); }

fs::path link_base(const fs::path& dir, const fs::path& target) {
    auto real = real_location(dir);
    if (!real || *real == normalize_path(dir)) return dir;
    auto reached = platform::final_path(normalize_path(*real / relative_path(dir, target)));
    auto wanted = platform::final_path(target);
    if (!wanted || (reached && *reached == *wanted)) return dir;
    return *real;
}

bool names_nothing(std::error_code error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

std::string cannot_read_text(const fs::path& path, std::error_code error) {
    return "cannot read " + path.string() + ": " + error.message();
}

std::string cannot_list_text(const fs::path& dir, std::error_code error) {
    return "cannot list " + dir.string() + ": " + error.message();
}

EntryClass classify_entry(const fs::path& path, const fs::path& root, const fs::path& base, bool find_dangling) {
    // One call tells all: the text of a link, "invalid argument" for anything
    // else that stands there, or why nothing can be seen.
    auto text = platform::read_link(path);
    if (!text) {
        if (text.error() == std::errc::invalid_argument) return Real{};
        if (names_nothing(text.error())) return Absent{};
        return Unreadable{text.error()};
    }

    const fs::path commons = normalize_path(root);
    auto into_commons = [&](const fs::path& dir) -> std::optional<fs::path> {
        fs::path resolved = core::resolve_link_target(dir / path.filename(), *text);
        if (is_under(resolved, commons)) return resolved;
        return std::nullopt;
    };
    const fs::path parent = path.parent_path();
    std::optional<fs::path> resolved;
    if (base != parent) resolved = into_commons(base);
    if (!resolved) resolved = into_commons(parent);
    if (!resolved) return ForeignLink{};
    return OurLink{*text, *resolved, find_dangling && target_is_gone(path)};
}

namespace {

// One thing a tree holds below its directories: a file, a link (compared by
// its text, never followed) or something else (never equal to anything).
struct TreeLeaf {
    std::string relative;
    fs::path path;
    platform::FileKind kind;
    std::uintmax_t size;
    std::string link_text;
};

bool walk_tree(const fs::path& dir, const std::string& prefix, std::vector<TreeLeaf>& leaves) {
    auto names = platform::list_directory(dir);
    if (!names) return false;
    for (const auto& name : *names) {
        fs::path path = dir / name;
        std::string relative = prefix.empty() ? name : prefix + "/" + name;
        auto meta = platform::symlink_metadata(path);
        if (!meta) return false;
        if (meta->is_dir()) {
            if (!walk_tree(path, relative, leaves)) return false;
            continue;
        }
        std::string text;
        if (meta->is_symlink()) {
            auto stored = platform::read_link(path);
            if (!stored) return false;
            text = stored->native();
        }
        leaves.push_back({std::move(relative), std::move(path), meta->kind, meta->size, std::move(text)});
    }
    return true;
}

// What `root` holds, by relative path (empty directories do not show);
// nothing when any part of the tree cannot be listed.
std::optional<std::vector<TreeLeaf>> list_tree(const fs::path& root) {
    std::vector<TreeLeaf> leaves;
    if (!walk_tree(root, "", leaves)) return std::nullopt;
    std::sort(leaves.begin(), leaves.end(), [](const auto& a, const auto& b) { return a.relative < b.relative; });
    return leaves;
}

bool same_leaf(const TreeLeaf& a, const TreeLeaf& b) {
    if (a.relative != b.relative || a.kind != b.kind) return false;
    if (a.kind == platform::FileKind::symlink) return a.link_text == b.link_text;
    return a.kind == platform::FileKind::regular && a.size == b.size;
}

}  // namespace

bool same_content(const fs::path& a, const fs::path& b) {
    const bool a_dir = platform::is_directory(a);
    if (a_dir != platform::is_directory(b)) return false;
    if (!a_dir) return core::same_file_bytes(a, b);
    auto left = list_tree(a);
    if (!left) return false;
    auto right = list_tree(b);
    if (!right || left->size() != right->size()) return false;
    // Names, kinds, sizes and link texts first: a difference there costs no read.
    for (std::size_t i = 0; i < left->size(); ++i) {
        if (!same_leaf((*left)[i], (*right)[i])) return false;
    }
    for (std::size_t i = 0; i < left->size(); ++i) {
        const TreeLeaf& leaf = (*left)[i];
        if (leaf.kind == platform::FileKind::regular && !core::same_file_bytes(leaf.path, (*right)[i].path)) return false;
    }
    return true;
}

namespace {

// Link texts compared as paths: repeated and trailing separators and "."
// components do not count; ".." does, as written.
bool same_link_text(const fs::path& a, const fs::path& b) {
    const auto counted = [](const fs::path& path) {
        std::vector<fs::path> parts;
        for (const fs::path& part : path) {
            if (!part.empty() && part != ".") parts.push_back(part);
        }
        return parts;
    };
    return counted(a) == counted(b);
}

LinkState wanted_state(const EntryClass& found, const fs::path& link, const core::CommonsEntry& entry,
                       const std::string& expected) {
    if (std::holds_alternative<Absent>(found)) return LinkState::missing;
    if (std::holds_alternative<ForeignLink>(found)) return LinkState::foreign;
    if (const auto* ours = std::get_if<OurLink>(&found)) {
        const bool canonical = ours->resolved == normalize_path(entry.path) &&
                               same_link_text(ours->raw_target, expected) && !ours->dangling;
        return canonical ? LinkState::linked : LinkState::stale;
    }
    return same_content(link, entry.path) ? LinkState::variant_identical : LinkState::variant;
}

// Within one directory, the byte order of the names.
void sort_by_link(std::vector<LinkEntry>& entries) {
    auto by_link = [](const LinkEntry& a, const LinkEntry& b) { return a.link < b.link; };
    if (!std::is_sorted(entries.begin(), entries.end(), by_link)) {
        std::stable_sort(entries.begin(), entries.end(), by_link);
    }
}

// The link text from `base` to each entry; the part up to the entry's
// directory is worked out once per directory.
class ExpectedTexts {
public:
    explicit ExpectedTexts(const fs::path& base) : base_(normalize_path(base)) {}

    std::string operator()(const core::CommonsEntry& entry) {
        const std::string& whole = entry.path.native();
        const std::size_t slash = whole.rfind('/');
        const std::string_view parent(whole.data(), slash == std::string::npos ? 0 : slash);
        if (!known_ || parent != dir_) {
            known_ = true;
            dir_ = parent;
            shared_ = !is_under(base_, normalize_path(dir_));
            prefix_ = relative_path(base_, dir_);
        }
        if (!shared_) return relative_path(base_, entry.path);
        return prefix_ + "/" + entry.file_name;
    }

private:
    fs::path base_;
    bool known_ = false;
    std::string dir_;
    bool shared_ = false;
    std::string prefix_;
};

}  // namespace

util::Result<std::vector<LinkEntry>> plan_links(const fs::path& surface, const fs::path& root,
                                                const std::vector<core::CommonsEntry>& entries) {
    std::size_t linked = 0;
    return plan_links(surface, root, entries, true, linked);
}

namespace {

// The entries' own link paths, in the order given; `dir` is the surface
// opened, or why it could not be.
util::Status<> plan_wanted(const fs::path& surface, const util::IoResult<platform::Directory>& dir,
                           const fs::path& root, const fs::path& base,
                           const std::vector<core::CommonsEntry>& entries, bool keep_linked, std::size_t& linked,
                           std::vector<LinkEntry>& plan) {
    ExpectedTexts expected_text(base);
    if (keep_linked) plan.reserve(entries.size());
    // No directory there, or something that is not one: nothing stands at any
    // link path in it.
    const bool no_directory = !dir && names_nothing(dir.error());
    for (const auto& entry : entries) {
        std::string expected = expected_text(entry);
        // The common case, a link already in canonical form, costs one system
        // call: `base` is where its text is followed from and the entry exists.
        // So does a link path where nothing stands yet.
        bool canonical = false;
        bool absent = no_directory;
        if (dir) {
            auto text = platform::read_link_in(*dir, entry.file_name);
            canonical = text && *text == expected;
            absent = !text && text.error() == std::errc::no_such_file_or_directory;
        }
        if (canonical && !keep_linked) {
            ++linked;
            continue;
        }
        std::string link = join_name(surface, entry.file_name);
        LinkState state = LinkState::missing;
        if (canonical) {
            state = LinkState::linked;
        } else if (!absent) {
            const EntryClass found = classify_entry(link, root, base);
            if (const auto* unreadable = std::get_if<Unreadable>(&found)) {
                return util::error(cannot_read_text(link, unreadable->error));
            }
            state = wanted_state(found, link, entry, expected);
        }
        plan.push_back({entry.name, std::move(link), std::move(expected), state});
    }
    return {};
}

}  // namespace

util::Result<std::vector<LinkEntry>> plan_links_of(const fs::path& surface, const fs::path& root,
                                                   const std::vector<core::CommonsEntry>& entries) {
    std::size_t linked = 0;
    std::vector<LinkEntry> plan;
    // A surface that cannot be opened is looked into name by name.
    const auto dir = platform::open_directory(surface);
    if (auto planned = plan_wanted(surface, dir, root, link_base(surface, root), entries, true, linked, plan);
        !planned) {
        return planned.error();
    }
    sort_by_link(plan);
    return plan;
}

util::Result<std::vector<LinkEntry>> plan_links(const fs::path& surface, const fs::path& root,
                                                const std::vector<core::CommonsEntry>& entries, bool keep_linked,
                                                std::size_t& linked) {
    const auto dir = platform::open_directory(surface);
    if (!dir && !names_nothing(dir.error())) return util::error(cannot_list_text(surface, dir.error()));
    const fs::path base = link_base(surface, root);
    std::vector<std::string_view> wanted;  // sorted, for look-ups without a set of nodes
    wanted.reserve(entries.size());
    for (const auto& entry : entries) wanted.push_back(entry.file_name);
    std::sort(wanted.begin(), wanted.end());

    std::vector<LinkEntry> plan;
    if (auto planned = plan_wanted(surface, dir, root, base, entries, keep_linked, linked, plan); !planned) {
        return planned.error();
    }

    // The names are looked at as they are listed, not kept.
    std::optional<std::string> unreadable;
    const util::IoStatus listed = platform::for_each_name(surface, [&](const std::string& name) {
        if (unreadable || std::binary_search(wanted.begin(), wanted.end(), std::string_view(name))) return;
        std::string link = join_name(surface, name);
        EntryClass found = classify_entry(link, root, base);
        if (const auto* ours = std::get_if<OurLink>(&found); ours && ours->dangling) {
            plan.push_back({platform::lossy_text(name), std::move(link), std::nullopt, LinkState::dangling});
        } else if (std::holds_alternative<ForeignLink>(found)) {
            plan.push_back({platform::lossy_text(name), std::move(link), std::nullopt, LinkState::foreign});
        } else if (const auto* failed = std::get_if<Unreadable>(&found)) {
            unreadable = cannot_read_text(link, failed->error);
        }
    });
    if (!listed && !names_nothing(listed.error())) return util::error(cannot_list_text(surface, listed.error()));
    if (unreadable) return util::error(*unreadable);
    sort_by_link(plan);
    return plan;
}

util::Result<std::vector<LinkEntry>> find_leftover_links(const fs::path& directory, const fs::path& root) {
    std::vector<LinkEntry> plan;
    auto names = platform::list_directory(directory);
    if (!names) {
        if (names_nothing(names.error())) return plan;
        return util::error(cannot_list_text(directory, names.error()));
    }
    const fs::path base = link_base(directory, root);
    for (const auto& name : *names) {
        std::string link = join_name(directory, name);
        // A leftover goes whatever it leads to.
        const EntryClass found = classify_entry(link, root, base, false);
        if (std::holds_alternative<OurLink>(found)) {
            plan.push_back({platform::lossy_text(name), std::move(link), std::nullopt, LinkState::duplicate});
        } else if (const auto* failed = std::get_if<Unreadable>(&found)) {
            return util::error(cannot_read_text(link, failed->error));
        }
    }
    sort_by_link(plan);
    return plan;
}

namespace {

// A link already there with the very text wanted (made by whoever shares the
// directory) is as good as one made now.
util::IoStatus make_expected_link(const std::string& expected, const fs::path& link) {
    util::IoStatus made = make_symlink(expected, link);
    if (!made && made.error() == std::errc::file_exists) {
        auto text = platform::read_link(link);
        if (text && text->native() == expected) return {};
    }
    return made;
}

}  // namespace

util::IoStatus apply_link(const LinkEntry& entry) {
    const std::string expected = entry.expected.value_or("");
    switch (entry.state) {
        case LinkState::missing:
            if (auto made = platform::create_directories(fs::path(entry.link).parent_path()); !made) return made;
            return make_expected_link(expected, entry.link);
        case LinkState::stale:
            if (auto removed = platform::remove_file(entry.link); !removed) return removed;
            return make_expected_link(expected, entry.link);
        case LinkState::dangling:
        case LinkState::duplicate:
            return platform::remove_file(entry.link);
        case LinkState::linked:
        case LinkState::variant_identical:
        case LinkState::variant:
        case LinkState::foreign:
            break;
    }
    return {};
}

util::IoStatus make_symlink(const std::string& text, const fs::path& link) {
    const bool directory =
        platform::symlinks_have_kind && platform::is_directory(core::resolve_link_target(link, text));
    return platform::create_symlink(text, link, directory);
}

util::IoStatus LinkApplier::apply(const LinkEntry& entry) {
    if (entry.state != LinkState::missing) return apply_link(entry);
    const fs::path parent = fs::path(entry.link).parent_path();
    if (!made_ || *made_ != parent) {
        made_.reset();
        if (auto made = platform::create_directories(parent); !made) return made;
        made_ = parent;
    }
    util::IoStatus linked = make_expected_link(entry.expected.value_or(""), entry.link);
    // The directory went away since: made again, as a lone link would do.
    if (!linked && linked.error() == std::errc::no_such_file_or_directory) {
        made_.reset();
        return apply_link(entry);
    }
    return linked;
}

}  // namespace fanout
