// Values: dispatch on the first character, arrays and inline tables.
#include <charconv>

#include "toml/parser.h"

namespace toml {

namespace {

// True when `raw`, the text a value was read from, is the text the value's
// default layout gives (format_value): a basic string with nothing escaped
// and nothing that needs an escape, an integer in plain decimal, a boolean.
// Such a value need not keep its text.
bool default_layout(const Value& value, std::string_view raw) {
    switch (value.kind()) {
    case Value::Kind::string: {
        const std::string& text = value.as_string();
        // Every escape is longer than what it stands for, so the same length
        // means nothing was escaped.
        if (raw.size() != text.size() + 2 || raw.front() != '"' || raw.back() != '"') return false;
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\\') return false;
        }
        return true;
    }
    case Value::Kind::integer: {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, value.as_integer());
        return raw == std::string_view(digits, static_cast<std::size_t>(written.ptr - digits));
    }
    case Value::Kind::boolean: return true;
    default: return false;
    }
}

}  // namespace

Value Parser::value(std::size_t depth, bool keep_text) {
    if (depth > max_depth) fail("values nested too deeply");
    std::size_t start = p_;
    Value result = Value::boolean(false);
    char c = peek();
    if (c == '"') {
        result = Value::string(quoted_string(c, at("\"\"\"")));
    } else if (c == '\'') {
        result = Value::string(quoted_string(c, at("'''")));
    } else if (c == '[') {
        result = array(depth);
    } else if (c == '{') {
        result = inline_table(depth);
    } else if (at("true") && ends_value(peek(4))) {
        p_ += 4;
        result = Value::boolean(true);
    } else if (at("false") && ends_value(peek(5))) {
        p_ += 5;
    } else if (is_digit(c) || c == '+' || c == '-' || c == 'i' || c == 'n') {
        result = number_or_date();
    } else {
        fail("expected a value");
    }
    bool nested = result.is_array() || result.is_inline_table();
    if (keep_text || !nested) {
        const std::string_view raw = s_.substr(start, p_ - start);
        if (!default_layout(result, raw)) result.raw_ = std::string(raw);
    }
    return result;
}

// Blanks, line ends and comments between array elements.
void Parser::array_space() {
    while (true) {
        skip_blanks();
        if (peek() == '#') comment();
        if (!at_newline()) return;
        p_ += peek() == '\r' ? 2 : 1;
    }
}

Value Parser::array(std::size_t depth) {
    ++p_;  // '['
    Array items;
    while (true) {
        array_space();
        if (peek() == ']') break;
        items.push_back(value(depth + 1, false));
        array_space();
        if (peek() == ',') {
            ++p_;
            continue;
        }
        if (peek() != ']') fail("expected `,` or `]` in the array");
        break;
    }
    ++p_;
    return Value::array(std::move(items));
}

namespace {

Value to_inline(Table& table) {
    InlineTable members;
    for (Entry& entry : table) {
        if (Value* value = entry.item().as_value()) members.push_back(entry.key(), std::move(*value));
        else members.push_back(entry.key(), to_inline(*entry.item().as_table()));
    }
    return Value::inline_table(std::move(members));
}

}  // namespace

Value Parser::inline_table(std::size_t depth) {
    ++p_;  // '{'
    Table table;
    while (true) {
        array_space();
        if (peek() == '}') break;
        std::vector<KeyPart> parts;
        key_path(parts);
        if (peek() != '=') fail("expected `=` after the key");
        ++p_;
        skip_blanks();
        if (depth + parts.size() > max_depth) fail("values nested too deeply");
        Value member = value(depth + parts.size(), false);
        Table* target = &table;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            Item* item = target->get(parts[i].name);
            if (!item) item = &target->set(parts[i].name, Table());
            target = item->as_table();
            if (!target) fail(parts[i].offset, "`" + parts[i].name + "` is already defined and cannot take dotted keys");
        }
        if (target->find(parts.back().name)) fail(parts.back().offset, "duplicate key `" + parts.back().name + "`");
        target->set(parts.back().name, std::move(member));
        array_space();
        if (peek() == ',') {
            ++p_;
            continue;
        }
        if (peek() != '}') fail("expected `,` or `}` in the inline table");
        break;
    }
    ++p_;
    return to_inline(table);
}

}  // namespace toml
