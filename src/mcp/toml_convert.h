// JSON values written into TOML files: objects become tables, the rest values.
#pragma once

#include <optional>

#include "json/json.h"
#include "toml/toml.h"
#include "util/result.h"

namespace mcp {

// An object as a table with its own header line, keys in the object's order:
// null members are left out and nested objects become nested tables. A member
// TOML cannot hold fails with "`{key}` has a value TOML cannot hold".
util::Result<toml::Table> tweak_to_toml(const json::Value& object);

// Booleans, integers that fit 64 signed bits (-0 as 0), floats, UTF-8 strings and
// arrays of such values; nothing for null, objects, other bytes and anything
// holding them.
std::optional<toml::Value> json_to_toml_value(const json::Value& value);

}  // namespace mcp
