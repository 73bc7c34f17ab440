#include "mcp/dialect.h"

#include <array>
#include <string>
#include <utility>

#include "mcp/env_refs.h"

namespace mcp {

namespace {

constexpr std::array<std::string_view, 6> standard_keys = {"type", "command", "args", "env", "url", "headers"};

bool is_standard_key(std::string_view key) {
    for (auto standard : standard_keys) {
        if (key == standard) return true;
    }
    return false;
}

const json::Value* member(const json::Value& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// The server's `from` written under the dialect's own name `to`.
void copy_key_as(const json::Value& server, std::string_view from, json::Value& entry, std::string_view to) {
    if (const json::Value* value = member(server, from)) entry[std::string(to)] = *value;
}

void copy_stdio_keys(const json::Value& server, json::Value& entry) {
    copy_key_if_present(server, "command", entry);
    copy_key_if_present(server, "args", entry);
    copy_key_if_present(server, "env", entry);
}

// OpenCode starts a local server from one list: the program, then its arguments.
json::Value opencode_command(const json::Value& server) {
    json::Value command = json::Value::array();
    if (const json::Value* program = member(server, "command"); program && program->is_string()) {
        command.push_back(*program);
    }
    if (const json::Value* args = member(server, "args"); args && args->is_array()) {
        for (const auto& arg : *args) command.push_back(arg);
    }
    return command;
}

void fill_opencode(const json::Value& server, bool remote, json::Value& entry) {
    if (remote) {
        entry["type"] = "remote";
        copy_key_if_present(server, "url", entry);
        copy_key_if_present(server, "headers", entry);
        return;
    }
    entry["type"] = "local";
    json::Value command = opencode_command(server);
    if (!command.empty()) entry["command"] = std::move(command);
    copy_key_as(server, "env", entry, "environment");
}

// The entry of every dialect but Standard, before the Tweak.
json::Value build_entry(const json::Value& server, McpDialect dialect) {
    json::Value entry = json::Value::object();
    McpTransport transport = server_transport(server);
    bool remote = transport != McpTransport::stdio;
    switch (dialect) {
    case McpDialect::Standard:
        break;
    case McpDialect::Codex:
        if (remote) {
            copy_key_if_present(server, "url", entry);
            copy_key_as(server, "headers", entry, "http_headers");
        } else {
            copy_stdio_keys(server, entry);
        }
        break;
    case McpDialect::OpenCode:
        fill_opencode(server, remote, entry);
        break;
    case McpDialect::Gemini:
        if (remote) {
            copy_key_as(server, "url", entry, transport == McpTransport::http ? "httpUrl" : "url");
            copy_key_if_present(server, "headers", entry);
        } else {
            copy_stdio_keys(server, entry);
        }
        break;
    case McpDialect::Windsurf:
        if (remote) {
            copy_key_as(server, "url", entry, "serverUrl");
            copy_key_if_present(server, "headers", entry);
        } else {
            copy_stdio_keys(server, entry);
        }
        break;
    }
    copy_other_keys(server, entry);
    return entry;
}

}  // namespace

McpTransport server_transport(const json::Value& server) {
    if (const json::Value* type = member(server, "type"); type && type->is_string()) {
        const auto& text = type->get_ref<const std::string&>();
        if (text == "stdio") return McpTransport::stdio;
        if (text == "http") return McpTransport::http;
        if (text == "sse") return McpTransport::sse;
    }
    if (!member(server, "url") || member(server, "command")) return McpTransport::stdio;
    return McpTransport::http;
}

void copy_key_if_present(const json::Value& server, std::string_view key, json::Value& entry) {
    copy_key_as(server, key, entry, key);
}

void copy_other_keys(const json::Value& server, json::Value& entry) {
    if (!server.is_object()) return;
    for (const auto& [key, value] : server.items()) {
        if (!is_standard_key(key)) entry[key] = value;
    }
}

void drop_null_entries(json::Value& value) {
    if (!value.is_object()) return;
    json::Value kept = json::Value::object();
    auto& members = kept.get_ref<json::Value::object_t&>();
    for (auto& [key, member] : value.get_ref<json::Value::object_t&>()) {
        if (member.is_null()) continue;
        drop_null_entries(member);
        static_cast<json::Value::object_t::Container&>(members).emplace_back(key, std::move(member));
    }
    value = std::move(kept);
}

util::Result<json::Value> translate_server(std::string_view server_name, const json::Value& server,
                                           McpDialect dialect, const core::EnvMap& env,
                                           const core::Tweak* tweak, bool expand) {
    json::Value copy;
    if (expand) {
        auto expanded = expand_env_references(server_name, server, env);
        if (!expanded) return expanded.error();
        copy = std::move(*expanded);
    } else {
        copy = server;
    }
    if (!copy.is_object()) copy = json::Value::object();
    copy.erase("disabled");

    json::Value entry = dialect == McpDialect::Standard ? std::move(copy) : build_entry(copy, dialect);
    if (dialect == McpDialect::Codex) drop_null_entries(entry);

    if (tweak && tweak->is_object()) {
        json::Value merged;
        if (expand) {
            auto expanded = expand_env_references(server_name, *tweak, env);
            if (!expanded) return expanded.error();
            merged = std::move(*expanded);
        } else {
            merged = *tweak;
        }
        for (auto& [key, value] : merged.items()) entry[key] = std::move(value);
        if (dialect == McpDialect::Codex) drop_null_entries(entry);
    }
    return entry;
}

}  // namespace mcp
