// Which keys of an agent's entry differ from the entry it should hold.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/agents.h"
#include "core/config.h"
#include "core/context.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

// Keys missing from `actual`, holding another value there, or present only
// there; sorted byte-wise, each once. A non-object counts as empty.
std::vector<std::string> diff_server_entries(const json::Value* actual, const json::Value& expected);

// The keys in which the server, translated into the dialect with the Tweak
// merged over it and "${env:VAR}" left as written, differs from the agent's
// entry: empty when the entry comes back exactly.
util::Result<std::vector<std::string>> translate_and_diff(std::string_view server_name, const json::Value& server,
                                                          core::McpDialect dialect, const json::Value* agent_entry,
                                                          const core::EnvMap& env, const core::Tweak* tweak);

}  // namespace mcp
