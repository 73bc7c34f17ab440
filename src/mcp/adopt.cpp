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

std::optional<std::vector<std::string>> PendingAllowlists::add(const std::string& server, const std::string& agent) {
    std::vector<std::string>& agents = servers_[server];
    if (std::find(agents.begin(), agents.end(), agent) == agents.end()) agents.push_back(agent);
    return allowlist(server);
}

std::optional<std::vector<std::string>> PendingAllowlists::allowlist(const std::string& server) const {
    auto found = servers_.find(server);
    if (found == servers_.end() || found->second.size() >= mcp_agents_) return std::nullopt;
    return found->second;
}

util::Result<std::optional<toml::Table>> tweak_table(const std::string& server, const std::string& agent,
                                                     const json::Value& tweak) {
    if (!tweak.is_object() || tweak.empty()) return std::optional<toml::Table>();
    auto converted = tweak_to_toml(tweak);
    if (!converted) return util::error("mcp." + server + ".tweaks." + agent + ": " + converted.error().message);
    return std::optional<toml::Table>(std::move(*converted));
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
