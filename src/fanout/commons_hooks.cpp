#include "fanout/commons_hooks.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "core/agent_files.h"
#include "core/text_file.h"
#include "platform/platform.h"
#include "toml/toml.h"

namespace fanout {

namespace {

std::string event_names() {
    std::string names;
    for (const HookEvent& event : hook_events) {
        if (!names.empty()) names += ", ";
        names += event.name;
    }
    return names;
}

// The value under `key` when it is a plain value, else nullptr.
const toml::Value* value_at(const toml::Table& table, std::string_view key) {
    const toml::Item* item = table.get(key);
    return item ? item->as_value() : nullptr;
}

util::Result<CommonsHook> read_hook(const toml::Table& table, const std::string& event,
                                    const std::string& path) {
    const toml::Value* type = value_at(table, "type");
    if (type && type->is_string() && type->as_string() != "command") {
        return util::error(path + ": `type = \"" + type->as_string() +
                           "\"` — mirthlode syncs command hooks only");
    }
    const toml::Value* command = value_at(table, "command");
    if (!command || !command->is_string()) {
        return util::error(path + ": every [[hook]] needs a `command`");
    }
    CommonsHook hook{event, command->as_string(), std::nullopt, std::nullopt};
    if (const toml::Value* matcher = value_at(table, "matcher"); matcher && matcher->is_string()) {
        hook.matcher = matcher->as_string();
    }
    if (const toml::Value* timeout = value_at(table, "timeout"); timeout && timeout->is_integer()) {
        hook.timeout = timeout->as_integer();
    }
    return hook;
}

// The file's hooks in table order, or the one text that explains why the
// file gives none.
util::Result<std::vector<CommonsHook>> load_hook_file(const fs::path& path) {
    const std::string shown = path.string();
    const std::string event = platform::lossy_text(path.stem());
    const bool known = std::any_of(hook_events.begin(), hook_events.end(),
                                   [&](const HookEvent& e) { return e.name == event; });
    if (!known) {
        return util::error(shown + ": `" + event + "` is not a hook event — expected one of " +
                           event_names());
    }
    auto text = core::read_text_file(path);
    if (!text) return text.error();
    auto document = toml::parse(*text);
    if (!document) {
        return util::error(shown + " is not valid TOML (" +
                           core::invalid_toml_text(*text, document.error().offset) + ")");
    }
    const toml::Item* item = document->root().get("hook");
    const toml::ArrayOfTables* tables = item ? item->as_array_of_tables() : nullptr;
    if (!tables) return util::error(shown + ": expected one or more [[hook]] entries with a `command`");

    std::vector<CommonsHook> hooks;
    for (const toml::Table& table : *tables) {
        auto hook = read_hook(table, event, shown);
        if (!hook) return hook.error();
        hooks.push_back(std::move(hook).value());
    }
    return hooks;
}

}  // namespace

std::optional<std::string_view> agent_event_name(std::string_view agent, std::string_view event) {
    for (const HookEvent& known : hook_events) {
        if (known.name == event) return agent == "gemini" ? known.gemini : known.name;
    }
    return std::nullopt;
}

util::IoResult<std::vector<fs::path>> list_hook_files(const fs::path& dir) {
    auto names = platform::list_directory(dir);
    if (!names) return names.error();
    std::vector<fs::path> paths;
    for (const std::string& name : *names) {
        if (fs::path(name).extension() == ".toml") paths.push_back(dir / name);
    }
    return paths;
}

std::vector<CommonsHook> load_commons_hooks(const fs::path& dir, std::vector<std::string>& errors) {
    auto paths = list_hook_files(dir);
    if (!paths) {
        errors.push_back("cannot read " + dir.string() + ": " + paths.error().message());
        return {};
    }
    std::sort(paths->begin(), paths->end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    std::vector<CommonsHook> hooks;
    for (const fs::path& path : *paths) {
        auto loaded = load_hook_file(path);
        if (!loaded) {
            errors.push_back(loaded.error().message);
            continue;
        }
        for (CommonsHook& hook : *loaded) hooks.push_back(std::move(hook));
    }
    return hooks;
}

void drop_repeated_hooks(std::vector<CommonsHook>& hooks, const fs::path& dir,
                         std::vector<std::string>& warnings) {
    using Key = std::tuple<std::string_view, std::string_view, std::string_view>;
    std::set<Key> seen;
    std::set<Key> warned;
    std::vector<bool> keep;
    keep.reserve(hooks.size());
    for (const CommonsHook& hook : hooks) {
        const std::string_view matcher = hook.matcher ? std::string_view(*hook.matcher) : "";
        const Key key{hook.event, hook.command, matcher};
        keep.push_back(seen.insert(key).second);
        if (keep.back() || !warned.insert(key).second) continue;
        const std::string under =
            matcher.empty() ? "without a matcher" : "with the matcher `" + std::string(matcher) + "`";
        warnings.push_back((dir / (hook.event + ".toml")).string() + ": more than one [[hook]] runs `" +
                           hook.command + "` " + under + " — only the first is synced");
    }
    if (warned.empty()) return;
    std::vector<CommonsHook> kept;
    for (std::size_t i = 0; i < hooks.size(); ++i) {
        if (keep[i]) kept.push_back(std::move(hooks[i]));
    }
    hooks = std::move(kept);
}

}  // namespace fanout
