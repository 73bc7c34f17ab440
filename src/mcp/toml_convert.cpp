#include "mcp/toml_convert.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "util/utf8.h"

namespace mcp {

util::Result<toml::Table> tweak_to_toml(const json::Value& object) {
    toml::Table table;
    if (!object.is_object()) return table;
    for (const auto& [key, member] : object.items()) {
        if (member.is_null()) continue;
        if (member.is_object()) {
            auto nested = tweak_to_toml(member);
            if (!nested) return nested.error();
            table.set(key, toml::Item(std::move(*nested)));
            continue;
        }
        auto value = json_to_toml_value(member);
        if (!value) return util::error("`" + key + "` has a value TOML cannot hold");
        table.set(key, toml::Item(std::move(*value)));
    }
    return table;
}

std::optional<toml::Value> json_to_toml_value(const json::Value& value) {
    switch (value.type()) {
    case json::Value::value_t::boolean:
        return toml::Value::boolean(value.get<bool>());
    case json::Value::value_t::number_integer:
        return toml::Value::integer(value.get<std::int64_t>());
    case json::Value::value_t::number_unsigned: {
        auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return toml::Value::integer(static_cast<std::int64_t>(number));
    }
    case json::Value::value_t::number_float:
        return toml::Value::floating(value.get<double>());
    case json::Value::value_t::string: {
        // A value resolved from the environment may hold any bytes.
        const auto& text = value.get_ref<const std::string&>();
        if (!util::is_utf8(text)) return std::nullopt;
        return toml::Value::string(text);
    }
    case json::Value::value_t::array: {
        std::vector<toml::Value> items;
        items.reserve(value.size());
        for (const auto& element : value) {
            auto item = json_to_toml_value(element);
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
        }
        return toml::Value::array(toml::Array(std::move(items)));
    }
    default:
        // Of the numbers kept as text only the integer -0 fits 64 bits.
        if (json::number_text_of(value) == "-0") return toml::Value::integer(0);
        return std::nullopt;
    }
}

}  // namespace mcp
