#include "mcp/json_object.h"

#include <utility>

namespace mcp {

namespace {

// The vector under an ordered object: appending to it skips the key search.
using Members = json::Value::object_t::Container;

}  // namespace

MemberIndex index_members(const json::Value& object) {
    MemberIndex index;
    if (!object.is_object()) return index;
    const Members& members = object.get_ref<const json::Value::object_t&>();
    index.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) index.emplace(members[i].first, i);
    return index;
}

void set_member(json::Value& object, MemberIndex& index, const std::string& key, json::Value value) {
    Members& members = object.get_ref<json::Value::object_t&>();
    auto found = index.find(key);
    if (found != index.end()) {
        members[found->second].second = std::move(value);
        return;
    }
    index.emplace(key, members.size());
    members.emplace_back(key, std::move(value));
}

const json::Value* IndexedObject::find(const std::string& key) const {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &members()[found->second].second;
}

}  // namespace mcp
