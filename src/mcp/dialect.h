// One Commons server turned into the entry an agent's dialect expects.
#pragma once

#include <string_view>

#include "core/agents.h"
#include "core/config.h"
#include "core/context.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

using core::McpDialect;

enum class McpTransport { stdio, http, sse };

// "type" when it names a transport exactly; else stdio unless the server has
// a "url" and no "command".
McpTransport server_transport(const json::Value& server);

// Copies `key` (its value, null included) from the server when it has it.
void copy_key_if_present(const json::Value& server, std::string_view key, json::Value& entry);

// Copies every key but the six standard ones, in the server's order.
void copy_other_keys(const json::Value& server, json::Value& entry);

// Removes null members from objects, recursively; lists are not entered.
void drop_null_entries(json::Value& value);

// The entry for one agent: the dialect's keys, then the server's other keys,
// then the Tweak, when not null, merged over them (shallow, its keys win).
// With `expand`,
// "${env:VAR}" references in the server and the Tweak are resolved first.
util::Result<json::Value> translate_server(std::string_view server_name, const json::Value& server,
                                           McpDialect dialect, const core::EnvMap& env,
                                           const core::Tweak* tweak, bool expand);

}  // namespace mcp
