#include "toml/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "toml/parser.h"
#include "util/float_digits.h"

namespace toml {

namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool is_bare_key(std::string_view key) {
    return !key.empty() && std::all_of(key.begin(), key.end(), is_bare_key_char);
}

void append_escape(std::string& out, unsigned char c) {
    switch (c) {
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04X", c);
        out += buf;
    }
    }
}

std::string escaped_basic(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\' || is_control(c)) append_escape(out, c);
        else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string multiline_basic(std::string_view text) {
    std::string out = "\"\"\"\n";
    for (unsigned char c : text) {
        if (c == '\n') out += '\n';
        else if (c == '"' || c == '\\' || is_control(c)) append_escape(out, c);
        else out += static_cast<char>(c);
    }
    return out + "\"\"\"";
}

}  // namespace

std::string format_key(std::string_view key) {
    return is_bare_key(key) ? std::string(key) : format_string(key, false);
}

std::string format_string(std::string_view text, bool multiline) {
    bool quote = false, apostrophe = false, backslash = false, control = false, newline = false;
    for (unsigned char c : text) {
        if (c == '"') quote = true;
        else if (c == '\'') apostrophe = true;
        else if (c == '\\') backslash = true;
        else if (c == '\n') newline = true;
        else if (is_control(c)) control = true;
    }
    if (!quote && !backslash && !control && !newline) return "\"" + std::string(text) + "\"";
    if (!apostrophe && !newline && !control) return "'" + std::string(text) + "'";
    if (newline && multiline) return multiline_basic(text);
    return escaped_basic(text);
}

std::string format_float(double number) {
    if (std::isnan(number)) return std::signbit(number) ? "-nan" : "nan";
    if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
    const auto [negative, digits, point] = util::shortest_digits(number);
    std::string out;
    if (point <= 0) {
        out = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0') + ".0";
    } else {
        out = digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    }
    return negative ? "-" + out : out;
}

std::string format_value(const Value& value, bool multiline) {
    if (!value.raw_.empty()) return value.raw_;
    switch (value.kind()) {
    case Value::Kind::string: return format_string(value.as_string(), multiline);
    case Value::Kind::integer: return std::to_string(value.as_integer());
    case Value::Kind::floating: return format_float(value.as_float());
    case Value::Kind::boolean: return value.as_bool() ? "true" : "false";
    case Value::Kind::datetime: return value.as_datetime().text;
    case Value::Kind::array: {
        std::string out = "[";
        bool first = true;
        for (const Value& item : value.as_array()) {
            if (!first) out += ", ";
            first = false;
            out += format_value(item, multiline);
        }
        return out + "]";
    }
    case Value::Kind::inline_table: {
        const InlineTable& table = value.as_inline_table();
        if (table.empty()) return "{}";
        std::string out = "{ ";
        bool first = true;
        for (const auto& [key, member] : table) {
            if (!first) out += ", ";
            first = false;
            out += format_key(key) + " = " + format_value(member, multiline);
        }
        return out + " }";
    }
    }
    return {};
}

}  // namespace toml
