// The Commons server list: <Commons>/mcp.json, {"mcpServers": {name: server}}.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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
// order; a server set under a new name is appended at the end. A loaded list
// also keeps the file's other top-level members, for the save.
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

    // The file's top-level object with `mcpServers` emptied in its place;
    // {"mcpServers": {}} for a list that was not loaded from a file.
    const json::Value& frame() const { return frame_; }
    void set_frame(json::Value frame) { frame_ = std::move(frame); }

private:
    std::vector<McpServerEntry> entries_;
    std::unordered_map<std::string, std::size_t> index_;  // name -> position
    json::Value frame_ = json::Value{{"mcpServers", json::Value::object()}};
};

// The list as the commands see it: a missing mcp.json, or one that is not a
// regular file, is an empty list.
util::Result<McpServers> load_commons_servers(const fs::path& path);

// Reads and validates mcp.json; the servers come sorted by name.
util::Result<McpServers> parse_commons_servers(const fs::path& path);

// Writes the list, pretty with a two-space indent and a final "\n": the
// frame's other members stay in their places and only `mcpServers` changes.
util::Status<> save_commons_servers(const fs::path& path, const McpServers& servers);

}  // namespace mcp
