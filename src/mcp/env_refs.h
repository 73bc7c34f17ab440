// "${env:VAR}" references in server values, resolved from the run's
// environment snapshot.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/context.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

// Replaces every "${env:VAR}" in the texts of `value` (object keys excepted)
// by the variable's value. An unset or empty variable is an error naming the
// server and the variable; an unterminated reference stays as written.
util::Result<json::Value> expand_env_references(std::string_view server_name, const json::Value& value,
                                                const core::EnvMap& env);

// True when "${env:" appears anywhere in the value, object keys included.
bool uses_env_references(const json::Value& value);

// True when a text of `value` (object keys excepted) holds a reference that
// expansion replaces: "${env:" with a "}" after it.
bool holds_env_reference(const json::Value& value);

// The first such reference, "${env:" to its "}", in document order.
std::optional<std::string> first_env_reference(const json::Value& value);

}  // namespace mcp
