#include "core/context.h"

#include "platform/platform.h"
#include "util/utf8.h"

namespace core {

EnvMap::EnvMap(const EnvPairs& pairs) {
    for (const auto& [name, value] : pairs) {
        if (util::is_utf8(name) && util::is_utf8(value)) vars_.insert_or_assign(name, value);
    }
}

std::optional<std::string_view> EnvMap::get(std::string_view name) const {
    auto it = vars_.find(name);
    if (it == vars_.end()) return std::nullopt;
    return std::string_view(it->second);
}

fs::path resolve_xdg_dir(const EnvMap& env, std::string_view var, const fs::path& home,
                         std::string_view suffix) {
    auto value = env.get(var);
    fs::path base;
    if (value && !value->empty() && value->front() == '/') {
        base = fs::path(*value);
    } else {
        base = home / fs::path(suffix);
    }
    return base / "mirthlode";
}

std::optional<RunContext> resolve_context(EnvMap env) {
    std::optional<std::string_view> home_var;
    for (auto name : {"MIRTHLODE_TARGET_ROOT", "HOME", "USERPROFILE"}) {
        if ((home_var = env.get(name))) break;
    }
    if (!home_var || home_var->empty()) return std::nullopt;

    RunContext ctx;
    ctx.home = fs::path(*home_var);
    auto commons = env.get("MIRTHLODE_HOME");
    if (commons && !commons->empty()) {
        // Links and the import line name the Commons from elsewhere, so a
        // relative Commons is taken from the directory the run starts in.
        ctx.commons = fs::path(*commons);
        if (ctx.commons.is_relative()) {
            if (auto cwd = platform::current_directory()) ctx.commons = *cwd / ctx.commons;
        }
    } else {
        ctx.commons = ctx.home / ".agents";
    }
    ctx.config_dir = resolve_xdg_dir(env, "XDG_CONFIG_HOME", ctx.home, ".config");
    ctx.state_dir = resolve_xdg_dir(env, "XDG_STATE_HOME", ctx.home, ".local/state");
    ctx.legacy_dir = ctx.home / ".mirthlode";
    ctx.env = std::move(env);
    return ctx;
}

}  // namespace core
