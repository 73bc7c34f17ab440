#include "core/config.h"

#include <cmath>
#include <system_error>

#include "core/agent_files.h"
#include "core/text_file.h"
#include "toml/document.h"

namespace core {

namespace {

using util::error;

std::string table_path_error(const std::filesystem::path& path, const std::string& problem) {
    return path.string() + ": " + problem;
}

util::Status<> load_targets(const std::filesystem::path& path, const toml::Table& targets, Config& config) {
    for (const toml::Entry& entry : targets) {
        const toml::Value* value = entry.item().as_value();
        if (!value || !value->is_bool())
            return error(table_path_error(path, "targets." + entry.key() + " must be true or false"));
        if (!value->as_bool()) config.disabled.push_back(entry.key());
    }
    return {};
}

const std::string* string_at(const toml::Table& table, std::string_view key) {
    const toml::Item* item = table.get(key);
    const toml::Value* value = item ? item->as_value() : nullptr;
    return value && value->is_string() ? &value->as_string() : nullptr;
}

util::Status<> load_custom(const std::filesystem::path& path, const toml::Table& custom, Config& config) {
    for (const toml::Entry& entry : custom) {
        const toml::Table* table = entry.item().as_table();
        if (!table) return error(table_path_error(path, "custom." + entry.key() + " must be a table"));
        const std::string* root = string_at(*table, "root");
        if (!root) return error(table_path_error(path, "custom." + entry.key() + " needs a `root`"));
        CustomAgent agent{entry.key(), *root, {}};
        for (Family family : all_families) {
            if (const std::string* dir = string_at(*table, family_name(family))) agent.surfaces[family] = *dir;
        }
        if (const std::string* dir = string_at(*table, "subagents")) agent.surfaces[Family::agents] = *dir;
        config.custom.push_back(std::move(agent));
    }
    return {};
}

util::Status<> load_server(const std::filesystem::path& path, const std::string& server, const toml::Table& table,
                           McpServerSettings& settings) {
    for (const toml::Entry& entry : table) {
        const std::string& key = entry.key();
        if (key == "agents") {
            const toml::Value* value = entry.item().as_value();
            if (!value || !value->is_array())
                return error(table_path_error(path, "mcp." + server + ".agents must be a list of agent names"));
            std::vector<std::string> agents;
            for (const toml::Value& name : value->as_array()) {
                if (!name.is_string())
                    return error(table_path_error(path, "mcp." + server + ".agents must hold agent names"));
                agents.push_back(name.as_string());
            }
            settings.agents = std::move(agents);
        } else if (key == "tweaks") {
            const toml::Table* tweaks = entry.item().as_table();
            if (!tweaks)
                return error(table_path_error(path, "mcp." + server + ".tweaks must be a table of agents"));
            for (const toml::Entry& tweak : *tweaks) {
                if (!tweak.item().is_table())
                    return error(table_path_error(path, "mcp." + server + ".tweaks." + tweak.key() + " must be a table"));
                settings.tweaks[tweak.key()] = toml_item_to_json(tweak.item());
            }
        } else {
            return error(table_path_error(
                path, "mcp." + server + "." + key + " is not a setting — expected `agents` or `tweaks`"));
        }
    }
    return {};
}

util::Status<> load_mcp(const std::filesystem::path& path, const toml::Item& item, Config& config) {
    const toml::Table* servers = item.as_table();
    if (!servers) return error(table_path_error(path, "`mcp` must be a table of servers written as [mcp.<name>]"));
    for (const toml::Entry& entry : *servers) {
        const toml::Table* table = entry.item().as_table();
        if (!table) return error(table_path_error(path, "mcp." + entry.key() + " must be a table"));
        McpServerSettings settings;
        if (auto status = load_server(path, entry.key(), *table, settings); !status) return status;
        config.mcp[entry.key()] = std::move(settings);
    }
    return {};
}

json::Value table_to_json(const toml::Table& table) {
    json::ObjectBuilder object;
    for (const toml::Entry& entry : table) object.set(entry.key(), toml_item_to_json(entry.item()));
    return std::move(object).finish();
}

}  // namespace

util::Result<Config> load_config(const std::filesystem::path& config_dir) {
    std::filesystem::path path = config_dir / "mirthlode.toml";
    auto read = read_utf8_file(path);
    if (!read) {
        if (read.error() == std::errc::no_such_file_or_directory) return Config{};
        return cannot_read(path, read.error());
    }
    const std::string& text = *read;
    auto document = toml::parse(text);
    if (!document)
        return error(path.string() + " is not valid TOML (" + invalid_toml_text(text, document.error().offset) + ")");

    Config config;
    const toml::Table& root = document->root();
    if (const toml::Item* targets = root.get("targets"); targets && targets->is_table()) {
        if (auto status = load_targets(path, *targets->as_table(), config); !status) return status.error();
    }
    if (const toml::Item* custom = root.get("custom"); custom && custom->is_table()) {
        if (auto status = load_custom(path, *custom->as_table(), config); !status) return status.error();
    }
    if (const toml::Item* mcp = root.get("mcp")) {
        if (auto status = load_mcp(path, *mcp, config); !status) return status.error();
    }
    return config;
}

json::Value toml_item_to_json(const toml::Item& item) {
    if (const toml::Value* value = item.as_value()) return toml_value_to_json(*value);
    if (const toml::Table* table = item.as_table()) return table_to_json(*table);
    json::Value array = json::Value::array();
    for (const toml::Table& table : *item.as_array_of_tables()) array.push_back(table_to_json(table));
    return array;
}

json::Value toml_value_to_json(const toml::Value& value) {
    switch (value.kind()) {
    case toml::Value::Kind::string: return value.as_string();
    case toml::Value::Kind::integer: return value.as_integer();
    case toml::Value::Kind::floating: {
        double number = value.as_float();
        return std::isfinite(number) ? json::Value(number) : json::Value(nullptr);
    }
    case toml::Value::Kind::boolean: return value.as_bool();
    case toml::Value::Kind::datetime: return value.as_datetime().text;
    case toml::Value::Kind::array: {
        json::Value array = json::Value::array();
        for (const toml::Value& element : value.as_array()) array.push_back(toml_value_to_json(element));
        return array;
    }
    case toml::Value::Kind::inline_table: {
        json::ObjectBuilder object;
        for (const auto& [key, member] : value.as_inline_table()) object.set(key, toml_value_to_json(member));
        return std::move(object).finish();
    }
    }
    return nullptr;
}

namespace {

// Objects up to this size are compared key by key with a search for each;
// bigger ones are converted and compared as JSON.
constexpr std::size_t searched_members = 16;

// The member `key` of a JSON object; the first when it is there twice, as
// json::equal finds it.
const json::Value* member(const json::Value::object_t& object, std::string_view key) {
    for (const auto& [name, value] : object) {
        if (name == key) return &value;
    }
    return nullptr;
}

bool table_equals(const toml::Table& table, const json::Value& json) {
    if (table.size() > searched_members) return json::equal(table_to_json(table), json);
    if (!json.is_object()) return false;
    const auto& object = json.get_ref<const json::Value::object_t&>();
    // A table holds each key once.
    if (object.size() != table.size()) return false;
    for (const toml::Entry& entry : table) {
        const json::Value* found = member(object, entry.key());
        if (!found || !toml_item_equals(entry.item(), *found)) return false;
    }
    return true;
}

// True when no key of the inline table is there twice.
bool distinct_keys(const toml::InlineTable& table) {
    for (auto a = table.begin(); a != table.end(); ++a) {
        for (auto b = table.begin(); b != a; ++b) {
            if (a->first == b->first) return false;
        }
    }
    return true;
}

bool value_equals(const toml::Value& value, const json::Value& json) {
    switch (value.kind()) {
    case toml::Value::Kind::integer: {
        // As JSON a signed integer: equal to an integer of the same value,
        // unsigned or kept as the text "-0" included.
        const std::int64_t number = value.as_integer();
        if (json.is_number_unsigned()) {
            return number >= 0 && static_cast<std::uint64_t>(number) == json.get<std::uint64_t>();
        }
        if (json.is_number_integer()) return number == json.get<std::int64_t>();
        return number == 0 && json::number_text_of(json) == "-0";
    }
    case toml::Value::Kind::string: return json.is_string() && json.get_ref<const std::string&>() == value.as_string();
    case toml::Value::Kind::floating: {
        const double number = value.as_float();
        if (!std::isfinite(number)) return json.is_null();
        return json.is_number_float() && json.get<double>() == number;
    }
    case toml::Value::Kind::boolean: return json.is_boolean() && json.get<bool>() == value.as_bool();
    case toml::Value::Kind::datetime:
        return json.is_string() && json.get_ref<const std::string&>() == value.as_datetime().text;
    case toml::Value::Kind::array: {
        const toml::Array& array = value.as_array();
        if (!json.is_array() || json.size() != array.size()) return false;
        const auto& elements = json.get_ref<const json::Value::array_t&>();
        for (std::size_t i = 0; i < array.size(); ++i) {
            if (!value_equals(array[i], elements[i])) return false;
        }
        return true;
    }
    case toml::Value::Kind::inline_table: {
        const toml::InlineTable& table = value.as_inline_table();
        // A key given twice keeps its last value: that is left to the conversion.
        if (table.size() > searched_members || !distinct_keys(table)) {
            return json::equal(toml_value_to_json(value), json);
        }
        if (!json.is_object()) return false;
        const auto& object = json.get_ref<const json::Value::object_t&>();
        if (object.size() != table.size()) return false;
        for (const auto& [key, member_value] : table) {
            const json::Value* found = member(object, key);
            if (!found || !value_equals(member_value, *found)) return false;
        }
        return true;
    }
    }
    return false;
}

}  // namespace

bool toml_item_equals(const toml::Item& item, const json::Value& value) {
    if (const toml::Value* scalar = item.as_value()) return value_equals(*scalar, value);
    if (const toml::Table* table = item.as_table()) return table_equals(*table, value);
    const toml::ArrayOfTables& tables = *item.as_array_of_tables();
    if (!value.is_array() || value.size() != tables.size()) return false;
    const auto& elements = value.get_ref<const json::Value::array_t&>();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (!table_equals(tables[i], elements[i])) return false;
    }
    return true;
}

}  // namespace core
