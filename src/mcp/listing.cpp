#include "mcp/listing.h"

#include <unordered_map>

namespace mcp {

bool server_disabled(const McpServer& server) {
    auto it = server.find("disabled");
    return it != server.end() && it->is_boolean() && it->get<bool>();
}

ServerListing list_servers(const McpPlan& plan, const McpServers& commons) {
    ServerListing listing;
    std::unordered_map<std::string, std::size_t> at;
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

json::Value listing_json(const ServerListing& listing) {
    json::Value servers = json::Value::array();
    for (const ListedServer& server : listing.servers) {
        json::Value targets = json::Value::array();
        for (const ListedTarget& target : server.targets) {
            json::Value row = json::Value::object();
            row["agent"] = target.agent;
            row["state"] = std::string(state_word(target.state));
            row["actionable"] = is_actionable(target.state);
            targets.push_back(std::move(row));
        }
        json::Value object = json::Value::object();
        object["name"] = server.name;
        object["managed"] = server.managed;
        object["targets"] = std::move(targets);
        if (server.disabled) object["disabled"] = true;
        servers.push_back(std::move(object));
    }
    json::Value document = json::Value::object();
    document["servers"] = std::move(servers);
    return document;
}

}  // namespace mcp
