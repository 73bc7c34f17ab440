// The run context: the environment snapshot and the directories of the run.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

namespace fs = std::filesystem;

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

// The environment, read once at start. Look-ups are exact, byte for byte;
// of two entries with the same name the later one counts. An entry whose
// name or value is not UTF-8 text is left out.
class EnvMap {
public:
    EnvMap() = default;
    explicit EnvMap(const EnvPairs& pairs);

    std::optional<std::string_view> get(std::string_view name) const;

private:
    std::map<std::string, std::string, std::less<>> vars_;
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

// The whole context, or nothing when no home directory can be determined.
std::optional<RunContext> resolve_context(EnvMap env);

}  // namespace core
