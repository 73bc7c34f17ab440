#include "fanout/hook_settings.h"

#include <string>
#include <utility>

namespace fanout {

namespace {

// False for an object whose "command" equals `command`.
bool keeps_hook_entry(const json::Value& entry, const json::Value& command) {
    if (!entry.is_object()) return true;
    const auto found = entry.find("command");
    return found == entry.end() || !json::equal(*found, command);
}

}  // namespace

std::string_view group_matcher(const json::Value& group) {
    const auto matcher = group.find("matcher");
    if (matcher == group.end() || !matcher->is_string()) return {};
    return matcher->get_ref<const std::string&>();
}

bool holds_hook_list(const json::Value& group) {
    if (!group.is_object()) return false;
    const auto hooks = group.find("hooks");
    return hooks != group.end() && hooks->is_array();
}

std::vector<json::Value> hooks_values(const json::Value& groups) {
    std::vector<json::Value> entries;
    if (!groups.is_array()) return entries;
    for (const json::Value& group : groups) {
        if (!holds_hook_list(group)) continue;
        for (const json::Value& entry : group.at("hooks")) entries.push_back(entry);
    }
    return entries;
}

const json::Value* get_hooks_key(const json::Value& root) {
    if (!root.is_object()) return nullptr;
    const auto found = root.find("hooks");
    return found == root.end() ? nullptr : &*found;
}

json::Value* get_hooks_key(json::Value& root) {
    return const_cast<json::Value*>(get_hooks_key(static_cast<const json::Value&>(root)));
}

void prune_hook_entries(json::Value& entries, const json::Value& command) {
    if (!entries.is_array()) return;
    json::Value kept = json::Value::array();
    for (json::Value& entry : entries) {
        if (keeps_hook_entry(entry, command)) kept.push_back(std::move(entry));
    }
    entries = std::move(kept);
}

namespace {

// Prunes the command from every group `chosen` picks, and drops the groups
// this empties; a group that was empty already stays.
template <class Chosen>
void remove_from_groups(json::Value& groups, const json::Value& command, Chosen chosen) {
    if (!groups.is_array()) return;
    json::Value kept = json::Value::array();
    for (json::Value& group : groups) {
        if (holds_hook_list(group) && chosen(group) && !group.at("hooks").empty()) {
            prune_hook_entries(group["hooks"], command);
            if (group.at("hooks").empty()) continue;
        }
        kept.push_back(std::move(group));
    }
    groups = std::move(kept);
}

}  // namespace

void remove_hook_command(json::Value& groups, const json::Value& command, std::string_view matcher) {
    remove_from_groups(groups, command, [matcher](const json::Value& group) { return group_matcher(group) == matcher; });
}

void remove_hook_command(json::Value& groups, const json::Value& command) {
    remove_from_groups(groups, command, [](const json::Value&) { return true; });
}

}  // namespace fanout
