// Listing one family directory of the Commons.
#pragma once

#include <filesystem>
#include <string>
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

struct CommonsScan {
    std::vector<CommonsEntry> entries;      // by name, byte order, stable
    std::vector<CommonsWarning> warnings;   // by text, byte order, stable
};

// Never fails: problems become warnings; a missing directory is an empty scan.
CommonsScan scan_commons_family(const fs::path& commons, Family family);

}  // namespace core
