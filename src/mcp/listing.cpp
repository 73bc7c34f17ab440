#include "mcp/listing.h"

#include <unordered_map>

namespace mcp {

bool server_disabled(const McpServer& server) {
    auto it = server.find("disabled");
    return it != server.end() && it->is_boolean() && it->get<bool>();
}

ServerListing list_servers(const McpPlan& plan, const McpServers& commons) {
    ServerListing listing;
    std::unordered_map<std::string_view, std::size_t> at;
    for (const auto& [name, server] : commons) {
        at.emplace(name, listing.servers.size());
        listing.servers.push_back({name, true, server_disabled(server), {}});
    }
    for (const McpItem& item : plan.items) {
        auto [found, added] = at.emplace(item.server, listing.servers.size());
        if (added) listing.servers.push_back({item.server, false, false, {}});
        listing.servers[found->second].targets.push_back({item.agent, item.state});
        if (is_actionable(item.state)) ++listing.actionable;
    }
    return listing;
}

void write_listing_json(const ServerListing& listing, const std::function<void(std::string_view)>& sink) {
    json::PrettyWriter out(sink);
    out.begin_object();
    out.key("servers");
    out.begin_array();
    for (const ListedServer& server : listing.servers) {
        out.begin_object();
        out.key("name");
        out.string(server.name);
        out.key("managed");
        out.boolean(server.managed);
        out.key("targets");
        out.begin_array();
        for (const ListedTarget& target : server.targets) {
            out.begin_object();
            out.key("agent");
            out.string(target.agent);
            out.key("state");
            out.string(state_word(target.state));
            out.key("actionable");
            out.boolean(is_actionable(target.state));
            out.end_object();
        }
        out.end_array();
        if (server.disabled) {
            out.key("disabled");
            out.boolean(true);
        }
        out.end_object();
    }
    out.end_array();
    out.end_object();
    (void)std::move(out).finish();
}

}  // namespace mcp
