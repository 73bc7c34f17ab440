#include "fanout/hook_settings.h"

#include <functional>
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

std::size_t HookKeyHash::operator()(const HookKey& key) const noexcept {
    const std::hash<std::string_view> hash;
    std::size_t seed = hash(key.event);
    for (const std::string_view part : {key.matcher, key.command}) {
        seed ^= hash(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}

const std::string* entry_command(const json::Value& entry) {
    if (!entry.is_object()) return nullptr;
    const auto found = entry.find("command");
    return found != entry.end() && found->is_string() ? &found->get_ref<const std::string&>() : nullptr;
}

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

void drop_empty_hook_groups(json::Value& groups) {
    if (!groups.is_array()) return;
    json::Value kept = json::Value::array();
    for (json::Value& group : groups) {
        const bool emptied = holds_hook_list(group) && group.at("hooks").empty();
        if (!emptied) kept.push_back(std::move(group));
    }
    groups = std::move(kept);
}

void remove_hook_command(json::Value& groups, const json::Value& command, std::string_view matcher) {
    if (!groups.is_array()) return;
    json::Value kept = json::Value::array();
    for (json::Value& group : groups) {
        if (holds_hook_list(group) && group_matcher(group) == matcher && !group.at("hooks").empty()) {
            prune_hook_entries(group["hooks"], command);
            if (group.at("hooks").empty()) continue;
        }
        kept.push_back(std::move(group));
    }
    groups = std::move(kept);
}

}  // namespace fanout
