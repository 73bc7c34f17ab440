// Building JSON objects in linear time. Ordered objects look every key up
// member by member, so code handling many servers indexes an object once.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "json/json.h"

namespace mcp {

using MemberIndex = std::unordered_map<std::string, std::size_t>;

// Positions of an object's members by key; empty for any other value.
MemberIndex index_members(const json::Value& object);

// Sets `key` in an object whose positions `index` holds: an existing member
// gets the value in place, a new one is appended (and indexed).
void set_member(json::Value& object, MemberIndex& index, const std::string& key, json::Value value);

}  // namespace mcp
