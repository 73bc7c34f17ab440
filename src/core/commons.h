// Listing one family directory of the Commons.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/family.h"

namespace core {

namespace fs = std::filesystem;

struct CommonsEntry {
    std::string name;       // a command's or subagent's without its ".md" suffixes
    std::string file_name;  // the name on disk
    fs::path path;
};

// An entry that cannot be synced, or a family directory that cannot be read.
struct CommonsWarning {
    enum class Kind { dot_prefixed, not_a, missing_target, unreadable, not_text };
    Kind kind;
    Family family;
    std::string name;      // the name on disk (not_text: escaped, \xff for a stray byte)
    std::string expected;  // not_a: "directory" or "markdown file"
    fs::path path;         // unreadable: the family directory
    std::string error;     // unreadable: the system's text
};

std::string display_commons_warning(const CommonsWarning& w);

// Why the scan does not take an entry as one of `family`.
enum class Unfit { dot_prefixed, not_text, not_a_directory, a_directory, not_markdown };
// By its on-disk name alone.
std::optional<Unfit> unfit_name(const std::string& raw_name);
// By its kind: whether it is a directory, links followed.
std::optional<Unfit> unfit_kind(Family family, std::string_view name, bool is_dir);
// What the family takes, and why the entry is not that: "skills entries are
// directories — this is a file" and the like.
std::string unfit_text(Unfit unfit, Family family);
// What the family takes: "skills entries are directories", "commands entries
// are single .md files".
std::string family_takes(Family family);

struct CommonsScan {
    std::vector<CommonsEntry> entries;      // by name, byte order, stable
    std::vector<CommonsWarning> warnings;   // by text, byte order, stable
};

// Never fails: problems become warnings; a missing directory is an empty scan.
CommonsScan scan_commons_family(const fs::path& commons, Family family);

}  // namespace core
