// The run context: the environment snapshot and the directories of the run.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

// The environment, read once at start. Look-ups are exact, byte for byte;
// of two entries with the same name the later one counts. An entry whose
// name or value is not UTF-8 text is left out; `get` does not find it, and
// `holds_non_text` tells such a value from an absent variable.
class EnvMap {
public:
    EnvMap() = default;
    explicit EnvMap(const EnvPairs& pairs);

    std::optional<std::string_view> get(std::string_view name) const;
    // True when the variable is set to a value that is not UTF-8 text.
    bool holds_non_text(std::string_view name) const;

private:
    std::map<std::string, std::string, std::less<>> vars_;
    std::set<std::string, std::less<>> non_text_;
};

struct RunContext {
    fs::path home;
    fs::path commons;
    fs::path config_dir;
    fs::path state_dir;
    fs::path legacy_dir;
    EnvMap env;
};

inline constexpr std::string_view home_error_text =
    "cannot determine home directory: set HOME (USERPROFILE on Windows) or MIRTHLODE_TARGET_ROOT";

// `<base>/mirthlode`, the base being the variable when it holds an absolute
// path, else `<home>/<suffix>`.
fs::path resolve_xdg_dir(const EnvMap& env, std::string_view var, const fs::path& home,
                         std::string_view suffix);

// "the environment variable {name} is not valid UTF-8"
std::string non_text_variable_error(std::string_view name);

// The whole context, or the start-up error: no home directory can be
// determined (home_error_text), or a variable it reads is not UTF-8 text.
util::Result<RunContext> resolve_context(EnvMap env);

}  // namespace core
