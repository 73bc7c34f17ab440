#include "mcp/diff.h"

#include <algorithm>

#include "mcp/dialect.h"
#include "mcp/json_object.h"

namespace mcp {

namespace {

const json::Value& as_object(const json::Value* value) {
    static const json::Value empty = json::Value::object();
    return value && value->is_object() ? *value : empty;
}

}  // namespace

std::vector<std::string> diff_server_entries(const json::Value* actual, const json::Value& expected) {
    const json::Value& have = as_object(actual);
    const json::Value& want = as_object(&expected);
    MemberIndex have_index = index_members(have);
    MemberIndex want_index = index_members(want);
    const json::Value::object_t::Container& have_members = have.get_ref<const json::Value::object_t&>();

    std::vector<std::string> keys;
    for (const auto& [key, value] : want.items()) {
        auto found = have_index.find(key);
        if (found == have_index.end() || !json::equal(have_members[found->second].second, value)) {
            keys.push_back(key);
        }
    }
    for (const auto& [key, value] : have.items()) {
        if (!want_index.count(key)) keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

util::Result<std::vector<std::string>> translate_and_diff(std::string_view server_name, const json::Value& server,
                                                          core::McpDialect dialect, const json::Value* agent_entry,
                                                          const core::EnvMap& env, const core::Tweak* tweak) {
    auto expected = translate_server(server_name, server, dialect, env, tweak, false);
    if (!expected) return expected.error();
    return diff_server_entries(agent_entry, *expected);
}

}  // namespace mcp
