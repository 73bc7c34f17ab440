#include "fanout/hook_remove.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "fanout/hook_settings.h"

namespace fanout {

namespace {

// Removes from every group's entries those whose command is in `commands`.
// Takes every entry of these commands out of the groups, and the groups
// this leaves empty; groups that were empty already stay.
void prune_commands(json::Value& groups, const std::unordered_set<std::string_view>& commands) {
    json::Value kept_groups = json::Value::array();
    for (json::Value& group : groups) {
        if (holds_hook_list(group) && !group.at("hooks").empty()) {
            json::Value& entries = group["hooks"];
            json::Value kept = json::Value::array();
            for (json::Value& entry : entries) {
                const std::string* command = entry_command(entry);
                if (!command || !commands.contains(*command)) kept.push_back(std::move(entry));
            }
            entries = std::move(kept);
            if (entries.empty()) continue;
        }
        kept_groups.push_back(std::move(group));
    }
    groups = std::move(kept_groups);
}

}  // namespace

std::vector<RemovedHook> remove_commons_hooks(json::Value& hooks, const std::vector<CommonsHook>& commons,
                                              std::string_view agent) {
    std::vector<RemovedHook> removed;
    if (!hooks.is_object()) return removed;
    // The event and command of every entry the lists hold, the matcher left
    // empty: a Commons hook takes its command out under every matcher, and
    // the first hook with that event and command does it for the rest.
    std::unordered_set<HookKey, HookKeyHash> held;
    for (const auto& [event, groups] : hooks.get_ref<const json::Value::object_t&>()) {
        if (!groups.is_array()) continue;
        for (const json::Value& group : groups) {
            if (!holds_hook_list(group)) continue;
            for (const json::Value& entry : group.at("hooks")) {
                if (const std::string* command = entry_command(entry)) held.insert(HookKey{event, {}, *command});
            }
        }
    }
    // The commands to take out of each event, the events in the order the
    // Commons hooks first name them.
    std::vector<std::pair<std::string_view, std::unordered_set<std::string_view>>> taken;
    std::unordered_map<std::string_view, std::size_t> taken_at;
    for (const CommonsHook& hook : commons) {
        const auto event = agent_event_name(agent, hook.event);
        if (!event || held.erase(HookKey{*event, {}, hook.command}) == 0) continue;
        const auto [at, added] = taken_at.try_emplace(*event, taken.size());
        if (added) taken.emplace_back(*event, std::unordered_set<std::string_view>{});
        taken[at->second].second.insert(hook.command);
        removed.push_back({hook.event, hook.command});
    }
    for (const auto& [event, commands] : taken) {
        const std::string name(event);
        json::Value& groups = hooks[name];
        prune_commands(groups, commands);
        // Held an entry of a Commons hook, so emptied by this removal alone.
        if (groups.empty()) hooks.erase(name);
    }
    return removed;
}

}  // namespace fanout
