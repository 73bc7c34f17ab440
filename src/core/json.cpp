// Placeholder until the JSON module lands.
#include "core/json.h"

namespace json {

util::Result<Value, ParseError> parse(std::string_view text) {
    try {
        return Value::parse(text);
    } catch (const std::exception& e) {
        return ParseError{e.what(), 1, 1};
    }
}

util::Result<std::string> print_pretty(const Value& value) {
    try {
        return value.dump(2);
    } catch (const std::exception& e) {
        return util::error(e.what());
    }
}

bool equal(const Value& a, const Value& b) { return a == b; }

}  // namespace json
