#include "mcp/env_refs.h"

#include <optional>
#include <string>

namespace mcp {

namespace {

constexpr std::string_view opener = "${env:";

util::Error unset_error(std::string_view server_name, std::string_view var) {
    return util::error("mcp server `" + std::string(server_name) + "`: ${env:" + std::string(var) +
                       "} is not set in the environment");
}

// Expanded values are appended once and never scanned again.
util::Result<std::string> expand_text(std::string_view server_name, std::string_view text,
                                      const core::EnvMap& env) {
    std::string result;
    result.reserve(text.size());
    std::string_view rest = text;
    while (true) {
        std::size_t start = rest.find(opener);
        if (start == std::string_view::npos) break;
        result.append(rest.substr(0, start));
        std::size_t close = rest.find('}', start + opener.size());
        if (close == std::string_view::npos) {
            rest = rest.substr(start);
            break;
        }
        std::string_view var = rest.substr(start + opener.size(), close - start - opener.size());
        std::optional<std::string_view> value = env.get(var);
        if (env.holds_non_text(var)) {
            return util::error("mcp server `" + std::string(server_name) + "`: ${env:" + std::string(var) +
                               "} is not valid UTF-8");
        }
        if (!value || value->empty()) return unset_error(server_name, var);
        result.append(*value);
        rest = rest.substr(close + 1);
    }
    result.append(rest);
    return result;
}

// Expands `value` in place, depth first; the first error stops the walk.
util::Status<> expand_in_place(std::string_view server_name, json::Value& value, const core::EnvMap& env) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text.find(opener) == std::string::npos) return {};
        auto expanded = expand_text(server_name, text, env);
        if (!expanded) return expanded.error();
        value = std::move(*expanded);
        return {};
    }
    if (value.is_array() || value.is_object()) {
        for (auto& element : value) {
            if (auto status = expand_in_place(server_name, element, env); !status) return status;
        }
    }
    return {};
}

}  // namespace

util::Result<json::Value> expand_env_references(std::string_view server_name, const json::Value& value,
                                                const core::EnvMap& env) {
    json::Value copy = value;
    if (auto status = expand_in_place(server_name, copy, env); !status) return status.error();
    return copy;
}

bool uses_env_references(const json::Value& value) {
    if (value.is_string()) return value.get_ref<const std::string&>().find(opener) != std::string::npos;
    if (value.is_array()) {
        for (const auto& element : value) {
            if (uses_env_references(element)) return true;
        }
    }
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            if (key.find(opener) != std::string::npos || uses_env_references(member)) return true;
        }
    }
    return false;
}

std::optional<std::string> first_env_reference(const json::Value& value) {
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        const std::size_t start = text.find(opener);
        if (start == std::string::npos) return std::nullopt;
        const std::size_t close = text.find('}', start + opener.size());
        if (close == std::string::npos) return std::nullopt;
        return text.substr(start, close + 1 - start);
    }
    if (value.is_array() || value.is_object()) {
        for (const auto& element : value) {
            if (auto found = first_env_reference(element)) return found;
        }
    }
    return std::nullopt;
}

bool holds_env_reference(const json::Value& value) { return first_env_reference(value).has_value(); }

}  // namespace mcp
