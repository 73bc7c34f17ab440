// Every MCP server known to the machine, with its state in each agent: the
// Commons servers in name order, then the servers only agents hold.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "mcp/plan.h"
#include "mcp/servers.h"

namespace mcp {

// True when the server's "disabled" is the boolean true.
bool server_disabled(const McpServer& server);

// The texts are the plan's and the Commons list's, valid while they are.
struct ListedTarget {
    std::string_view agent;
    McpState state;
};

struct ListedServer {
    std::string_view name;
    bool managed = false;   // a Commons server
    bool disabled = false;  // a Commons server marked disabled
    std::vector<ListedTarget> targets;  // in plan order
};

struct ServerListing {
    std::vector<ListedServer> servers;
    std::size_t actionable = 0;  // targets that sync would change
};

ServerListing list_servers(const McpPlan& plan, const McpServers& commons);

// {"servers": [{"name", "managed", "targets": [{"agent", "state", "actionable"}], "disabled"?}]},
// pretty-printed as it is walked and handed to `sink` in parts.
void write_listing_json(const ServerListing& listing, const std::function<void(std::string_view)>& sink);

}  // namespace mcp
