// Which keys of an agent's entry differ from the entry it should hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"
#include "core/context.h"
#include "core/json.h"
#include "mcp/dialect.h"
#include "util/result.h"

namespace mcp {

// Keys missing from `actual`, holding another value there, or present only
// there; sorted byte-wise, each once. A non-object counts as empty.
std::vector<std::string> diff_server_entries(const std::optional<json::Value>& actual,
                                             const json::Value& expected);

// The keys by which `agent_entry` differs from the server translated into the
// dialect without resolving "${env:VAR}".
util::Result<std::vector<std::string>> translate_and_diff(std::string_view server_name,
                                                          const json::Value& server, McpDialect dialect,
                                                          const std::optional<json::Value>& agent_entry,
                                                          const core::EnvMap& env,
                                                          const core::Tweak* tweak);

}  // namespace mcp
