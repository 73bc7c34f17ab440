#include "fanout/hook_remove.h"

#include "fanout/hook_settings.h"

namespace fanout {

namespace {

// True when some group of the event's list holds an entry with this command.
bool holds_command(const json::Value& groups, const json::Value& command) {
    if (!groups.is_array()) return false;
    for (const json::Value& group : groups) {
        if (!holds_hook_list(group)) continue;
        for (const json::Value& entry : group.at("hooks")) {
            if (!entry.is_object()) continue;
            const auto found = entry.find("command");
            if (found != entry.end() && found->is_string() && json::equal(*found, command)) return true;
        }
    }
    return false;
}

}  // namespace

std::vector<RemovedHook> remove_commons_hooks(json::Value& hooks, const std::vector<CommonsHook>& commons,
                                              std::string_view agent) {
    std::vector<RemovedHook> removed;
    if (!hooks.is_object()) return removed;
    for (const CommonsHook& hook : commons) {
        const auto event = agent_event_name(agent, hook.event);
        if (!event) continue;
        const auto found = hooks.find(std::string(*event));
        if (found == hooks.end()) continue;
        json::Value& groups = *found;
        const json::Value command = hook.command;
        if (!holds_command(groups, command)) continue;
        // Only what this removal empties goes: the user's own empty groups
        // and event lists stay.
        remove_hook_command(groups, command);
        if (groups.empty()) hooks.erase(std::string(*event));
        removed.push_back({hook.event, hook.command});
    }
    return removed;
}

}  // namespace fanout
