// Building JSON objects in linear time. Ordered objects look every key up
// member by member, so code handling many servers indexes an object once.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>

#include "json/json.h"

namespace mcp {

using MemberIndex = std::unordered_map<std::string, std::size_t>;

// Positions of an object's members by key; empty for any other value.
MemberIndex index_members(const json::Value& object);

// Sets `key` in an object whose positions `index` holds: an existing member
// gets the value in place, a new one is appended (and indexed).
void set_member(json::Value& object, MemberIndex& index, const std::string& key, json::Value value);

// An object whose members are found by key without a search.
class IndexedObject {
public:
    explicit IndexedObject(json::Value object) : object_(std::move(object)), index_(index_members(object_)) {}

    // The member's value; nullptr when there is none.
    const json::Value* find(const std::string& key) const;
    // The members in the object's order.
    const json::Value::object_t::Container& members() const {
        return object_.get_ref<const json::Value::object_t&>();
    }

private:
    json::Value object_;
    MemberIndex index_;
};

}  // namespace mcp
