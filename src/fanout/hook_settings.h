// The hook lists in an agent's JSON settings: {"hooks": {event: [group]}},
// a group being {"matcher": text, "hooks": [entry]}. Everything else in the
// file belongs to the agent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace fanout {

// Where an entry stands in the hook lists: its event as the settings name
// it, its group's matcher and its command. The views point into the
// settings (or a Commons hook) and live as long as they do.
struct HookKey {
    std::string_view event;
    std::string_view matcher;
    std::string_view command;
    bool operator==(const HookKey&) const = default;
};

struct HookKeyHash {
    std::size_t operator()(const HookKey& key) const noexcept;
};

// An entry's command when the entry is an object with a text "command",
// else nullptr.
const std::string* entry_command(const json::Value& entry);

// A group's matcher: its "matcher" text, else the empty text.
std::string_view group_matcher(const json::Value& group);
// True for an object whose "hooks" is a list.
bool holds_hook_list(const json::Value& group);

// The value under "hooks" when `root` is an object that has it, else nullptr.
const json::Value* get_hooks_key(const json::Value& root);
json::Value* get_hooks_key(json::Value& root);

}  // namespace fanout
