#include <utility>

#include "core/agent_files.h"
#include "mcp/json_object.h"
#include "mcp/merge.h"

namespace mcp {

util::Result<std::string> merge_into_json(const fs::path& path, json::Value document,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items) {
    if (document.is_null()) document = json::Value::object();
    if (!document.is_object()) {
        return util::error(path.string() + " does not hold a JSON object — left untouched");
    }
    const std::string key(servers_key);
    MemberIndex top = index_members(document);
    json::Value servers = json::Value::object();
    if (auto found = top.find(key); found != top.end()) {
        auto& members = document.get_ref<json::Value::object_t&>();
        json::Value& current = static_cast<json::Value::object_t::Container&>(members)[found->second].second;
        if (!current.is_object()) {
            return core::left_untouched(path, "`" + key + "` is not an object");
        }
        servers = std::move(current);
    }
    MemberIndex index = index_members(servers);
    for (const McpItem* item : items) {
        if (item->expected) set_member(servers, index, item->server, *item->expected);
    }
    set_member(document, top, key, std::move(servers));

    auto text = json::print_pretty(document);
    if (!text) return util::error(core::serialise_error(path, text.error().message));
    return std::move(*text);
}

}  // namespace mcp
