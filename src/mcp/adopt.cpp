#include "mcp/adopt.h"

#include <algorithm>
#include <array>
#include <utility>

#include "mcp/toml_convert.h"
#include "util/text.h"

namespace mcp {

std::optional<fs::path> join_optional_under_root(const core::RunContext& ctx, const core::AgentSpec* spec) {
    if (!spec || spec->mcp != core::McpMechanism::key_merge) return std::nullopt;
    return ctx.home / fs::path(spec->mcp_file);
}

core::AgentsEdit PendingAllowlists::add(const std::string& server, const std::string& agent) {
    Pending& pending = servers_[server];
    if (std::find(pending.agents.begin(), pending.agents.end(), agent) == pending.agents.end()) {
        pending.agents.push_back(agent);
    }
    core::AgentsEdit edit;
    if (pending.agents.size() < mcp_agents_) {
        edit.kind = core::AgentsEdit::Kind::replace;
        edit.names = pending.agents;
    } else if (pending.wrote_list && pending.before_run) {
        edit.kind = core::AgentsEdit::Kind::restore;
        edit.before = *pending.before_run;
    }
    return edit;
}

void PendingAllowlists::saved(const std::string& server, const core::AgentsEdit& edit,
                              const core::McpSettingsBefore& before) {
    Pending& pending = servers_[server];
    if (!pending.before_run) pending.before_run = before;
    if (edit.kind == core::AgentsEdit::Kind::replace) pending.wrote_list = true;
    if (edit.kind == core::AgentsEdit::Kind::restore) pending.wrote_list = false;
}

void PendingAllowlists::failed(const std::string& server, std::string_view agent) {
    std::vector<std::string>& agents = servers_[server].agents;
    agents.erase(std::remove(agents.begin(), agents.end(), agent), agents.end());
}

util::Result<core::McpSettingsBefore> save_mcp_config(const fs::path& config_dir, const std::string& server,
                                                      const core::AgentsEdit& agents, const json::Value& tweak,
                                                      const std::string& agent) {
    std::optional<toml::Table> table;
    if (tweak.is_object() && !tweak.empty()) {
        auto converted = tweak_to_toml(tweak);
        if (!converted) return util::error("mcp." + server + ".tweaks." + agent + ": " + converted.error().message);
        table = std::move(*converted);
    }
    return core::write_mcp_settings(config_dir, server, agents, table ? &*table : nullptr, agent);
}

namespace {

std::string ascii_lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool looks_like_credential(std::string_view key) {
    constexpr std::array<std::string_view, 6> words = {"token", "secret", "password", "passwd", "key", "auth"};
    const std::string lower = ascii_lower(key);
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view word) { return lower.find(word) != std::string::npos; });
}

}  // namespace

std::optional<std::string> credential_warning(std::string_view server_name, const json::Value& server) {
    if (!server.is_object()) return std::nullopt;
    std::vector<std::string> named;
    for (std::string_view section : {"env", "headers"}) {
        auto values = server.find(section);
        if (values == server.end() || !values->is_object()) continue;
        for (const auto& [key, value] : values->items()) {
            if (!value.is_string() || value.get_ref<const std::string&>().find("${env:") != std::string::npos) {
                continue;
            }
            if (looks_like_credential(key)) named.push_back(std::string(section) + "." + key);
        }
    }
    if (named.empty()) return std::nullopt;
    std::sort(named.begin(), named.end());
    return "`" + std::string(server_name) + "`: " + util::join(named) +
           " look like credentials and were copied into the Commons as written — replace them with ${env:VAR} "
           "before committing it";
}

}  // namespace mcp
