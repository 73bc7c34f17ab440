// Parsing through nlohmann's SAX interface into our own builder, and value
// equality.
#include "json/json.h"

#include <exception>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "util/text.h"
#include "util/text_position.h"
#include "util/utf8.h"

namespace json {

namespace {

ParseError error_at(std::string message, std::string_view text, std::size_t offset) {
    auto position = util::position_of(text, offset);
    return ParseError{std::move(message), position.line, position.column};
}

// nlohmann's text without its tag, its position and the offending token,
// which can be as long as the document.
std::string short_description(const nlohmann::detail::exception& ex, const std::string& token) {
    if (ex.id == 406) return "number overflow";
    std::string text = ex.what();
    if (auto tag_end = text.find("] "); text.rfind("[json.exception.", 0) == 0 && tag_end != std::string::npos)
        text.erase(0, tag_end + 2);
    if (text.rfind("parse error", 0) == 0) {
        if (auto colon = text.find(": "); colon != std::string::npos) text.erase(0, colon + 2);
    }
    std::string quoted = "; last read: '" + token + "'";
    if (auto at = text.find(quoted); at != std::string::npos) text.erase(at, quoted.size());
    return text;
}

// Offset of the `count`-th opening bracket outside strings, in text the parser
// has already accepted up to that bracket.
std::size_t nth_opening_bracket(std::string_view text, std::size_t count) {
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if ((c == '{' || c == '[') && --count == 0) {
            return i;
        }
    }
    return text.size();
}

// The text of an integer: digits after an optional minus sign.
bool integer_text(std::string_view text) {
    if (text.starts_with('-')) text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether a number's digits before its exponent are all zeros.
bool zero_digits(std::string_view text) {
    return text.substr(0, text.find_first_of("eE")).find_first_of("123456789") == std::string_view::npos;
}

// Builds the value bottom-up, each object with an ObjectBuilder.
class Builder {
public:
    using number_integer_t = Value::number_integer_t;
    using number_unsigned_t = Value::number_unsigned_t;
    using number_float_t = Value::number_float_t;
    using string_t = Value::string_t;
    using binary_t = Value::binary_t;

    std::optional<Value> result;
    std::optional<std::size_t> too_deep_at_open;  // ordinal of the refused bracket
    std::optional<std::pair<std::size_t, std::string>> failure;  // byte position, description

    bool null() { return add(Value(nullptr)); }
    bool boolean(bool v) { return add(Value(v)); }
    // Only a number written with a minus sign comes here, so a zero is "-0".
    bool number_integer(number_integer_t v) { return add(v == 0 ? number_text("-0") : Value(v)); }
    bool number_unsigned(number_unsigned_t v) { return add(Value(v)); }
    // Integers beyond 64 bits come here too, read as the nearest double.
    bool number_float(number_float_t v, const string_t& text) {
        return add(integer_text(text) || (v == 0 && !zero_digits(text)) ? number_text(text) : Value(v));
    }
    bool string(string_t& v) { return add(Value(std::move(v))); }
    bool binary(binary_t& v) { return add(Value::binary(std::move(v))); }

    bool start_object(std::size_t) { return open(true); }
    bool key(string_t& k) {
        frames_.back().key = std::move(k);
        return true;
    }
    bool end_object() {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        return add(std::move(frame.members).finish());
    }
    bool start_array(std::size_t) { return open(false); }
    bool end_array() {
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        Value array = Value::array();
        array.get_ref<Value::array_t&>() = std::move(frame.items);
        return add(std::move(array));
    }

    bool parse_error(std::size_t position, const std::string& last_token, const nlohmann::detail::exception& ex) {
        failure = {position, short_description(ex, last_token)};
        return false;
    }

private:
    struct Frame {
        bool is_object = false;
        std::string key;
        ObjectBuilder members;
        std::vector<Value> items;
    };

    bool open(bool is_object) {
        ++opened_;
        if (frames_.size() == max_depth) {
            too_deep_at_open = opened_;
            return false;
        }
        frames_.emplace_back();
        frames_.back().is_object = is_object;
        return true;
    }

    bool add(Value v) {
        if (frames_.empty()) {
            result = std::move(v);
            return true;
        }
        Frame& frame = frames_.back();
        if (!frame.is_object) {
            frame.items.push_back(std::move(v));
            return true;
        }
        frame.members.set(std::move(frame.key), std::move(v));
        return true;
    }

    std::vector<Frame> frames_;
    std::size_t opened_ = 0;
};

}  // namespace

void ObjectBuilder::set(std::string key, Value value) {
    // Most objects have a handful of members, searched faster one by one
    // than through an index that copies every key; a larger one gets the
    // index once it grows past that.
    constexpr std::size_t searched = 16;
    if (index_.empty() && members_.size() < searched) {
        for (auto& member : members_) {
            if (member.first == key) {
                member.second = std::move(value);
                return;
            }
        }
        members_.emplace_back(std::move(key), std::move(value));
        return;
    }
    if (index_.empty()) {
        for (std::size_t i = 0; i < members_.size(); ++i) index_.emplace(members_[i].first, i);
    }
    auto [it, inserted] = index_.try_emplace(key, members_.size());
    if (inserted) members_.emplace_back(std::move(key), std::move(value));
    else members_[it->second].second = std::move(value);
}

Value ObjectBuilder::finish() && {
    Value object = Value::object();
    auto& map = object.get_ref<Value::object_t&>();
    map.reserve(members_.size());
    for (auto& [k, v] : members_) map.Container::emplace_back(std::move(k), std::move(v));
    return object;
}

util::Result<Value, ParseError> parse(std::string_view text) {
    if (text.rfind(util::byte_order_mark, 0) == 0) return ParseError{"unexpected byte-order mark", 1, 1};
    if (auto bad = util::first_invalid_utf8(text)) return error_at("invalid UTF-8", text, *bad);
    Builder builder;
    try {
        Value::sax_parse(text.begin(), text.end(), &builder);
    } catch (const std::exception& e) {
        return ParseError{e.what(), 1, 1};
    }
    if (builder.too_deep_at_open) {
        std::string message = "nesting deeper than " + std::to_string(max_depth) + " levels";
        return error_at(std::move(message), text, nth_opening_bracket(text, *builder.too_deep_at_open));
    }
    if (builder.failure) {
        // nlohmann reports how many bytes it had read, the offending one included.
        auto [position, message] = std::move(*builder.failure);
        return error_at(std::move(message), text, position == 0 ? 0 : position - 1);
    }
    if (!builder.result) return ParseError{"no value", 1, 1};
    return std::move(*builder.result);
}

namespace {

bool equal_objects(const Value::object_t& a, const Value::object_t& b) {
    if (a.size() != b.size()) return false;
    std::unordered_map<std::string_view, const Value*> index;
    index.reserve(b.size());
    for (const auto& [k, v] : b) index.emplace(k, &v);
    for (const auto& [k, v] : a) {
        auto it = index.find(k);
        if (it == index.end() || !equal(v, *it->second)) return false;
    }
    return true;
}

bool is_negative_zero(const Value& v) { return number_text_of(v) == "-0"; }

bool is_integer(const Value& v) { return v.is_number_integer() || is_negative_zero(v); }

std::int64_t zero_or(const Value& v) { return is_negative_zero(v) ? 0 : v.get<std::int64_t>(); }

bool equal_integers(const Value& a, const Value& b) {
    if (a.is_number_unsigned() == b.is_number_unsigned())
        return a.is_number_unsigned() ? a.get<std::uint64_t>() == b.get<std::uint64_t>() : zero_or(a) == zero_or(b);
    const Value& s = a.is_number_unsigned() ? b : a;
    const Value& u = a.is_number_unsigned() ? a : b;
    auto signed_value = zero_or(s);
    return signed_value >= 0 && static_cast<std::uint64_t>(signed_value) == u.get<std::uint64_t>();
}

}  // namespace

bool equal(const Value& a, const Value& b) {
    if (is_integer(a) && is_integer(b)) return equal_integers(a, b);
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case nlohmann::json::value_t::object:
        return equal_objects(a.get_ref<const Value::object_t&>(), b.get_ref<const Value::object_t&>());
    case nlohmann::json::value_t::array: {
        const auto& x = a.get_ref<const Value::array_t&>();
        const auto& y = b.get_ref<const Value::array_t&>();
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (!equal(x[i], y[i])) return false;
        return true;
    }
    case nlohmann::json::value_t::number_float:
        return a.get<double>() == b.get<double>();
    case nlohmann::json::value_t::string:
        return a.get_ref<const std::string&>() == b.get_ref<const std::string&>();
    case nlohmann::json::value_t::boolean:
        return a.get<bool>() == b.get<bool>();
    case nlohmann::json::value_t::binary:
        return a.get_binary() == b.get_binary();
    default:
        return true;  // null, or two discarded values
    }
}

}  // namespace json
