// Fanning the Commons families out as relative symbolic links: classifying
// what stands at a link path, planning one entry per wanted link, carrying
// the entries out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "core/commons.h"
#include "util/result.h"

namespace fanout {

namespace fs = std::filesystem;

// What stands at a link path.
struct Absent {};
struct OurLink {            // a link whose target lies under the Commons
    fs::path raw_target;    // the stored text
    fs::path resolved;      // where that text leads, normalised
    bool dangling = false;  // what it leads to is gone
};
struct ForeignLink {};
struct Real {};  // a file or directory, anything that is not a link
struct Unreadable {  // what stands there cannot be looked at (not: nothing stands there)
    std::error_code error;
};
using EntryClass = std::variant<Absent, OurLink, ForeignLink, Real, Unreadable>;

enum class LinkState : std::uint8_t {
    linked,
    missing,
    stale,
    dangling,
    duplicate,
    variant_identical,
    variant,
    foreign,
};

std::string_view link_state_word(LinkState state);
// Empty for `linked`.
std::string_view link_state_note(LinkState state);

struct LinkEntry {
    std::string name;                     // the Commons name, or the on-disk name of a leftover
    std::string link;                     // the link path in the surface (text alone: a
                                          // path would keep each of its components too)
    std::optional<std::string> expected;  // the link text a Commons entry wants
    LinkState state = LinkState::missing;
};

struct LinkSection {
    std::string agent;
    std::string surface_dir;  // as the target gives it, relative to the home directory
    core::Family family;
    std::vector<LinkEntry> entries;
    std::size_t linked = 0;  // linked entries left out of `entries` (not kept as records)
    std::optional<std::string> error;  // the surface could not be examined: nothing planned
};

// True when `path` lies at or under `root`, compared component by component.
bool is_under(const fs::path& path, const fs::path& root);

// The normalised `path` relative to the normalised `home`, when it lies under it.
std::optional<fs::path> relative_to_home(const fs::path& path, const fs::path& home);
// For reports: relative to the home directory when it lies under it, else in full.
std::string shown_from_home(const fs::path& path, const fs::path& home);

// The link text that leads from a link in `from` to `to`.
std::string relative_path(const fs::path& from, const fs::path& to);

// The directory a relative link text in `dir` is followed from: `dir` itself
// when a text computed from it reaches `target`, else the place `dir` really
// is (an agent directory that is a link to a folder elsewhere).
fs::path link_base(const fs::path& dir, const fs::path& target);

// Where the directory really is, links followed, so that two paths that
// reach one directory compare equal; for a directory not made yet, where it
// would be.
fs::path real_directory(const fs::path& dir);

// Tries `base` (the place the link's directory really is; see link_base)
// first, then the link's own directory. Only "no such file" and "not a
// directory" mean absent; any other failure to look is Unreadable. Whether
// a link of the Commons is dangling costs a look at what it leads to, taken
// only with `find_dangling`; without, `dangling` is false.
EntryClass classify_entry(const fs::path& path, const fs::path& root, const fs::path& base,
                          bool find_dangling = true);

// "cannot read {path}: {reason}", for an entry that cannot be looked at.
std::string cannot_read_text(const fs::path& path, std::error_code error);
// "cannot list {dir}: {reason}", for a directory that cannot be listed.
std::string cannot_list_text(const fs::path& dir, std::error_code error);
// True for a failure that says nothing stands at the path: no such file, or
// a component of it that is not a directory.
bool names_nothing(std::error_code error);

// True when both are files with the same bytes, or directories holding the
// same files with the same bytes.
bool same_content(const fs::path& a, const fs::path& b);

// A surface that cannot be listed, or an entry in it that cannot be looked
// at, fails the whole plan with cannot_list_text or cannot_read_text: what
// stands there is not known, so nothing is planned over it. A surface that
// does not exist plans every entry missing.
util::Result<std::vector<LinkEntry>> plan_links(const fs::path& surface, const fs::path& root,
                                                const std::vector<core::CommonsEntry>& entries);
// The same, leaving out the entries found linked unless `keep_linked`;
// `linked` is raised by the number left out.
util::Result<std::vector<LinkEntry>> plan_links(const fs::path& surface, const fs::path& root,
                                                const std::vector<core::CommonsEntry>& entries, bool keep_linked,
                                                std::size_t& linked);
// Only the links the entries want, with nothing else of the surface looked
// at: the entries plan_links would give with an expected text.
util::Result<std::vector<LinkEntry>> plan_links_of(const fs::path& surface, const fs::path& root,
                                                   const std::vector<core::CommonsEntry>& entries);
// Every link into the Commons directly in `directory`, as a duplicate.
util::Result<std::vector<LinkEntry>> find_leftover_links(const fs::path& directory, const fs::path& root);

util::IoStatus apply_link(const LinkEntry& entry);
util::IoStatus make_symlink(const std::string& text, const fs::path& link);

// Carries out entries one after another as apply_link does, creating the
// directory of a run of missing links in the same place once.
class LinkApplier {
public:
    util::IoStatus apply(const LinkEntry& entry);

private:
    std::optional<fs::path> made_;  // created or found by the last missing entry
};

}  // namespace fanout
