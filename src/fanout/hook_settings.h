// The hook lists in an agent's JSON settings: {"hooks": {event: [group]}},
// a group being {"matcher": text, "hooks": [entry]}. Everything else in the
// file belongs to the agent.
#pragma once

#include <string_view>
#include <vector>

#include "json/json.h"

namespace fanout {

// A group's matcher: its "matcher" text, else the empty text.
std::string_view group_matcher(const json::Value& group);
// True for an object whose "hooks" is a list.
bool holds_hook_list(const json::Value& group);
// Copies of the entries of every group that holds a "hooks" list, in order.
std::vector<json::Value> hooks_values(const json::Value& groups);

// The value under "hooks" when `root` is an object that has it, else nullptr.
const json::Value* get_hooks_key(const json::Value& root);
json::Value* get_hooks_key(json::Value& root);

// Removes from one group's entries every copy of the command.
void prune_hook_entries(json::Value& entries, const json::Value& command);

// Removes every copy of the command from the groups of one event whose
// matcher is `matcher` (the entries a Commons hook with that command and
// matcher wrote), and the groups this leaves empty. Entries under other
// matchers and groups that were empty already stay.
void remove_hook_command(json::Value& groups, const json::Value& command, std::string_view matcher);
// The same for the groups of every matcher.
void remove_hook_command(json::Value& groups, const json::Value& command);

}  // namespace fanout
