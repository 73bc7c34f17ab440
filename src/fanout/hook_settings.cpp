#include "fanout/hook_settings.h"

#include <functional>
#include <string>
#include <utility>

namespace fanout {

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

const json::Value* get_hooks_key(const json::Value& root) {
    if (!root.is_object()) return nullptr;
    const auto found = root.find("hooks");
    return found == root.end() ? nullptr : &*found;
}

json::Value* get_hooks_key(json::Value& root) {
    return const_cast<json::Value*>(get_hooks_key(static_cast<const json::Value&>(root)));
}

}  // namespace fanout
