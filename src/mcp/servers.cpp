#include "mcp/servers.h"

#include <algorithm>
#include <utility>

#include "core/fsutil.h"
#include "core/text_file.h"
#include "mcp/json_object.h"
#include "platform/platform.h"

namespace mcp {

namespace {

std::string server_error(const fs::path& path, std::string_view name, std::string_view what) {
    return path.string() + ": server `" + std::string(name) + "`" + std::string(what);
}

}  // namespace

const McpServer* McpServers::find(std::string_view name) const {
    auto it = index_.find(std::string(name));
    return it == index_.end() ? nullptr : &entries_[it->second].server;
}

McpServer* McpServers::find(std::string_view name) {
    return const_cast<McpServer*>(std::as_const(*this).find(name));
}

void McpServers::set(std::string name, McpServer server) {
    if (McpServer* existing = find(name)) {
        *existing = std::move(server);
        return;
    }
    index_.emplace(name, entries_.size());
    entries_.push_back({std::move(name), std::move(server)});
}

bool McpServers::erase(std::string_view name) {
    auto found = index_.find(std::string(name));
    if (found == index_.end()) return false;
    auto it = entries_.begin() + static_cast<std::ptrdiff_t>(found->second);
    index_.erase(found);
    it = entries_.erase(it);
    for (; it != entries_.end(); ++it) index_[it->name] = static_cast<std::size_t>(it - entries_.begin());
    return true;
}

util::Result<McpServers> load_commons_servers(const fs::path& path) {
    auto meta = platform::metadata(path);
    if (!meta || !meta->is_regular()) return McpServers{};
    return parse_commons_servers(path);
}

util::Result<McpServers> parse_commons_servers(const fs::path& path) {
    auto text = core::read_text_file(path);
    if (!text) return text.error();
    auto document = json::parse(*text);
    if (!document) {
        const json::ParseError& e = document.error();
        return util::error(path.string() + " is not valid JSON: " + e.message + " at line " +
                           std::to_string(e.line) + " column " + std::to_string(e.column));
    }
    json::Value& root = *document;
    auto list = root.is_object() ? root.find("mcpServers") : root.end();
    if (!root.is_object() || list == root.end() || !list->is_object()) {
        return util::error(path.string() + " must hold an `mcpServers` object at the top level");
    }
    json::Value listed = std::exchange(*list, json::Value::object());
    std::vector<McpServerEntry> entries;
    entries.reserve(listed.size());
    for (auto& [name, server] : listed.items()) {
        if (!server.is_object()) return util::error(server_error(path, name, " must be an object"));
        auto disabled = server.find("disabled");
        if (disabled != server.end() && !disabled->is_boolean()) {
            return util::error(server_error(path, name, ": `disabled` must be true or false"));
        }
        entries.push_back({name, std::move(server)});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const McpServerEntry& a, const McpServerEntry& b) { return a.name < b.name; });
    McpServers servers;
    for (auto& entry : entries) servers.set(std::move(entry.name), std::move(entry.server));
    servers.set_frame(std::move(root));
    return servers;
}

util::Status<> save_commons_servers(const fs::path& path, const McpServers& servers) {
    json::Value list = json::Value::object();
    MemberIndex index;
    for (const auto& entry : servers) set_member(list, index, entry.name, entry.server);
    json::Value document = servers.frame();
    document["mcpServers"] = std::move(list);
    auto text = json::print_pretty(document);
    if (!text) return util::error("cannot serialise " + path.string() + ": " + text.error().message);
    std::string bytes = std::move(*text);
    bytes += '\n';
    auto written = core::write_atomic(path, bytes);
    if (!written) return util::error("cannot write " + path.string() + ": " + written.error().message());
    return {};
}

}  // namespace mcp
