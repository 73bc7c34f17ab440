#include "core/commons.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "util/escape.h"
#include "util/utf8.h"

namespace core {

namespace {

constexpr std::string_view md_suffix = ".md";

bool ends_with_md(std::string_view name) { return name.ends_with(md_suffix); }

std::string without_md_suffixes(std::string_view name) {
    while (ends_with_md(name)) name.remove_suffix(md_suffix.size());
    return std::string(name);
}

CommonsWarning entry_warning(CommonsWarning::Kind kind, Family family, std::string name,
                             std::string expected = {}) {
    return CommonsWarning{kind, family, std::move(name), std::move(expected), {}, {}};
}

// In the order of their texts; equal texts keep their listing order.
void sort_by_text(std::vector<CommonsWarning>& warnings) {
    std::vector<std::pair<std::string, CommonsWarning>> shown;
    shown.reserve(warnings.size());
    for (CommonsWarning& warning : warnings) shown.emplace_back(display_commons_warning(warning), std::move(warning));
    std::stable_sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    warnings.clear();
    for (auto& [text, warning] : shown) warnings.push_back(std::move(warning));
}

}  // namespace

std::string display_commons_warning(const CommonsWarning& w) {
    std::string prefix = "Commons " + std::string(family_name(w.family)) + "/" + w.name + ": ";
    switch (w.kind) {
        case CommonsWarning::Kind::dot_prefixed:
            return prefix + "dot-prefixed names are invisible to agents and are never synced";
        case CommonsWarning::Kind::not_a:
            return prefix + "not a " + w.expected + ", skipped";
        case CommonsWarning::Kind::missing_target:
            return prefix + "symlink target is missing, skipped";
        case CommonsWarning::Kind::unreadable:
            return "cannot read " + platform::lossy_text(w.path) + ": " + w.error;
        case CommonsWarning::Kind::not_text:
            return prefix + "name is not valid UTF-8, skipped";
    }
    return {};
}

std::optional<Unfit> unfit_name(const std::string& raw_name) {
    if (raw_name.starts_with(".")) return Unfit::dot_prefixed;
    // A link named with U+FFFD in its place would point nowhere.
    if (!util::is_utf8(raw_name)) return Unfit::not_text;
    return std::nullopt;
}

std::optional<Unfit> unfit_kind(Family family, std::string_view name, bool is_dir) {
    if (family == Family::skills) return is_dir ? std::nullopt : std::optional(Unfit::not_a_directory);
    if (is_dir) return Unfit::a_directory;
    if (!ends_with_md(name)) return Unfit::not_markdown;
    return std::nullopt;
}

std::string family_takes(Family family) {
    return std::string(family_name(family)) + " entries are " +
           (family == Family::skills ? "directories" : "single .md files");
}

std::string unfit_text(Unfit unfit, Family family) {
    switch (unfit) {
        case Unfit::dot_prefixed: return "dot-prefixed names are invisible to agents and are never synced";
        case Unfit::not_text: return "names that are not valid UTF-8 are never synced";
        case Unfit::not_a_directory: return family_takes(family) + " — this is a file";
        case Unfit::a_directory: return family_takes(family) + " — this is a directory";
        case Unfit::not_markdown: return family_takes(family) + " — this name does not end in .md";
    }
    return {};
}

CommonsScan scan_commons_family(const fs::path& commons, Family family) {
    using Kind = CommonsWarning::Kind;
    CommonsScan scan;
    fs::path dir = commons / family_name(family);
    auto listing = platform::list_directory_entries(dir);
    if (!listing) {
        if (listing.error() == std::errc::no_such_file_or_directory) return scan;
        scan.warnings.push_back(
            CommonsWarning{Kind::unreadable, family, {}, {}, dir, listing.error().message()});
        return scan;
    }

    const bool skills = family == Family::skills;
    const std::string expected = skills ? "directory" : "markdown file";
    for (const platform::DirEntry& listed : *listing) {
        fs::path path = dir / listed.name;
        std::string name = platform::lossy_text(listed.name);
        if (auto unfit = unfit_name(listed.name)) {
            if (*unfit == Unfit::dot_prefixed) {
                scan.warnings.push_back(entry_warning(Kind::dot_prefixed, family, name));
            } else {
                scan.warnings.push_back(entry_warning(Kind::not_text, family, util::escaped(listed.name)));
            }
            continue;
        }
        bool is_dir;
        if (listed.kind && *listed.kind != platform::FileKind::symlink) {
            // The listing already tells what a plain entry is: no link to follow.
            is_dir = *listed.kind == platform::FileKind::directory;
        } else {
            auto own = platform::symlink_metadata(path);
            auto followed = platform::metadata(path);
            if (own && own->is_symlink() && !followed) {
                scan.warnings.push_back(entry_warning(Kind::missing_target, family, name));
                continue;
            }
            is_dir = followed && followed->is_dir();
        }
        if (unfit_kind(family, name, is_dir)) {
            scan.warnings.push_back(entry_warning(Kind::not_a, family, name, expected));
            continue;
        }
        std::string entry_name = skills ? name : without_md_suffixes(name);
        scan.entries.push_back(CommonsEntry{std::move(entry_name), std::move(name), std::move(path)});
    }

    std::stable_sort(scan.entries.begin(), scan.entries.end(),
                     [](const CommonsEntry& a, const CommonsEntry& b) { return a.name < b.name; });
    sort_by_text(scan.warnings);
    return scan;
}

}  // namespace core
