#include "mcp/read_back.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "util/text.h"

namespace mcp {

namespace {

using core::McpDialect;

// The entry's keys as they are read: a key read is consumed, whether it is
// kept or dropped, and never reaches the Tweak.
class EntryReader {
public:
    explicit EntryReader(const json::Value& entry) : entry_(entry) {}

    const json::Value* take(std::string_view key) {
        auto it = entry_.find(key);
        if (it == entry_.end()) return nullptr;
        consumed_.insert(std::string(key));
        return &*it;
    }
    bool has(std::string_view key) const { return entry_.contains(key); }
    bool consumed(const std::string& key) const { return consumed_.count(key) > 0; }

private:
    const json::Value& entry_;
    std::unordered_set<std::string> consumed_;
};

// The entry's `from` stored in the server as `to`, when the entry has it.
void copy_as(EntryReader& entry, std::string_view from, json::Value& server, std::string_view to) {
    if (const json::Value* value = entry.take(from)) server[std::string(to)] = *value;
}

void copy_each(EntryReader& entry, std::initializer_list<std::string_view> keys, json::Value& server) {
    for (auto key : keys) copy_as(entry, key, server, key);
}

std::string transport_note(std::string_view server_name, std::string_view what) {
    return "`" + std::string(server_name) + "`: " + std::string(what) +
           ", so http and sse cannot be told apart — no `type` was recorded";
}

// OpenCode starts a local server from one list: the program, then its arguments.
void read_opencode_command(EntryReader& entry, json::Value& server) {
    const json::Value* command = entry.take("command");
    if (!command) return;
    if (!command->is_array()) {
        server["command"] = *command;
        return;
    }
    if (command->empty()) return;
    server["command"] = command->front();
    if (command->size() == 1) return;
    json::Value args = json::Value::array();
    for (auto it = command->begin() + 1; it != command->end(); ++it) args.push_back(*it);
    server["args"] = std::move(args);
}

// The standard keys of the server, in standard order; the dialect's notes.
void read_dialect(std::string_view name, EntryReader& entry, McpDialect dialect, ReadBackServer& out) {
    json::Value& server = out.server;
    switch (dialect) {
    case McpDialect::Standard:
        copy_each(entry, {"type", "command", "args", "env", "url", "headers"}, server);
        break;
    case McpDialect::Codex:
        if (entry.has("url")) {
            copy_as(entry, "url", server, "url");
            copy_as(entry, "http_headers", server, "headers");
            out.notes.push_back(transport_note(name, "Codex has one remote transport"));
        } else {
            copy_each(entry, {"command", "args", "env"}, server);
        }
        break;
    case McpDialect::OpenCode: {
        const json::Value* type = entry.take("type");
        const bool remote = type && type->is_string() ? *type == "remote" : entry.has("url");
        if (remote) {
            copy_each(entry, {"url", "headers"}, server);
            out.notes.push_back(transport_note(name, "OpenCode has one remote transport"));
        } else {
            read_opencode_command(entry, server);
            copy_as(entry, "environment", server, "env");
        }
        break;
    }
    case McpDialect::Gemini:
        if (const json::Value* url = entry.take("httpUrl")) {
            server["type"] = "http";
            server["url"] = *url;
        } else if (const json::Value* sse_url = entry.take("url")) {
            server["type"] = "sse";
            server["url"] = *sse_url;
        }
        copy_each(entry, {"command", "args", "env", "headers"}, server);
        break;
    case McpDialect::Windsurf:
        if (const json::Value* url = entry.take("serverUrl")) {
            server["url"] = *url;
            out.notes.push_back(transport_note(name, "Windsurf records no transport"));
        }
        copy_each(entry, {"command", "args", "env", "headers"}, server);
        break;
    }
}

}  // namespace

util::Result<ReadBackServer> read_back_server(std::string_view server_name, const json::Value& entry,
                                              McpDialect dialect) {
    const std::string name(server_name);
    if (!entry.is_object()) return util::error("server `" + name + "` is not an object");

    ReadBackServer out{json::Value::object(), json::Value::object(), {}};
    EntryReader reader(entry);
    read_dialect(server_name, reader, dialect, out);

    std::vector<std::string> dropped;
    for (const auto& [key, value] : entry.items()) {
        if (reader.consumed(key)) continue;
        if (value.is_null()) {
            dropped.push_back(key);
        } else {
            out.tweak[key] = value;
        }
    }
    if (!dropped.empty()) out.notes.push_back("`" + name + "`: " + util::join(dropped) + " had no value and was not kept");
    if (!out.tweak.empty()) {
        std::vector<std::string> keys;
        for (const auto& [key, value] : out.tweak.items()) keys.push_back(key);
        std::sort(keys.begin(), keys.end());
        out.notes.push_back("`" + name + "`: " + util::join(keys) +
                            " has no place in the standard shape and was kept as a Tweak for this agent alone");
    }
    return out;
}

}  // namespace mcp
