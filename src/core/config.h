// mirthlode.toml: disabled agents, custom agents and per-server MCP settings.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/family.h"
#include "json/json.h"
#include "toml/item.h"
#include "util/result.h"

namespace core {

struct CustomAgent {
    std::string name;
    std::string root;
    std::map<Family, std::string> surfaces;  // in family order
};

// A per-agent JSON object merged over a translated server entry.
using Tweak = nlohmann::ordered_json;

struct McpServerSettings {
    std::optional<std::vector<std::string>> agents;  // the allowlist, when given
    std::map<std::string, Tweak> tweaks;             // by agent name, byte order
};

struct Config {
    std::vector<std::string> disabled;                // [targets] names set to false
    std::vector<CustomAgent> custom;                  // in file order
    std::map<std::string, McpServerSettings> mcp;     // by server name, byte order
};

// Reads <config_dir>/mirthlode.toml; a missing file is the empty Config.
util::Result<Config> load_config(const std::filesystem::path& config_dir);

// A TOML item or value as JSON: tables and inline tables become objects in
// document order, arrays of tables arrays of objects, date-times their TOML
// text, and an infinite or NaN float null.
json::Value toml_item_to_json(const toml::Item& item);
json::Value toml_value_to_json(const toml::Value& value);
// json::equal(toml_item_to_json(item), value), without building the JSON.
bool toml_item_equals(const toml::Item& item, const json::Value& value);

}  // namespace core
