// The Commons server list: <Commons>/mcp.json, {"mcpServers": {name: server}}.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "json/json.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

// One server in the standard shape, its keys in the order the file has them.
using McpServer = json::Value;

struct McpServerEntry {
    std::string name;
    McpServer server;
};

// The servers by name, in list order: a loaded list is in byte-wise name
// order; a server set under a new name is appended at the end.
class McpServers {
public:
    using const_iterator = std::vector<McpServerEntry>::const_iterator;

    const McpServer* find(std::string_view name) const;
    McpServer* find(std::string_view name);
    // Replaces the server of that name in place, or appends it.
    void set(std::string name, McpServer server);
    // False when no server has that name.
    bool erase(std::string_view name);

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

private:
    std::vector<McpServerEntry> entries_;
    std::unordered_map<std::string, std::size_t> index_;  // name -> position
};

// The list as the commands see it: a missing mcp.json, or one that is not a
// regular file, is an empty list.
util::Result<McpServers> load_commons_servers(const fs::path& path);

// Reads and validates mcp.json; the servers come sorted by name.
util::Result<McpServers> parse_commons_servers(const fs::path& path);

// Writes the list, pretty with a two-space indent and a final "\n".
util::Status<> save_commons_servers(const fs::path& path, const McpServers& servers);

}  // namespace mcp
