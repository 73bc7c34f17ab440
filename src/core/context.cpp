#include "core/context.h"

#include "platform/platform.h"
#include "util/utf8.h"

namespace core {

EnvMap::EnvMap(const EnvPairs& pairs) {
    for (const auto& [name, value] : pairs) {
        if (!util::is_utf8(name)) continue;  // no name the program reads
        if (util::is_utf8(value)) {
            vars_.insert_or_assign(name, value);
            non_text_.erase(name);
        } else {
            vars_.erase(name);
            non_text_.insert(name);
        }
    }
}

bool EnvMap::holds_non_text(std::string_view name) const { return non_text_.find(name) != non_text_.end(); }

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

std::string non_text_variable_error(std::string_view name) {
    return "the environment variable " + std::string(name) + " is not valid UTF-8";
}

util::Result<RunContext> resolve_context(EnvMap env) {
    // A variable read here that holds bytes which are not text is refused:
    // passed over, it would send the run to another home or Commons.
    std::optional<std::string_view> home_var;
    for (auto name : {"MIRTHLODE_TARGET_ROOT", "HOME", "USERPROFILE"}) {
        if (env.holds_non_text(name)) return util::error(non_text_variable_error(name));
        if ((home_var = env.get(name))) break;
    }
    for (auto name : {"MIRTHLODE_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
        if (env.holds_non_text(name)) return util::error(non_text_variable_error(name));
    }
    if (!home_var || home_var->empty()) return util::error(std::string(home_error_text));

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
