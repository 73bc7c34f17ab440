// JSON as real agent files need it, on top of nlohmann's ordered_json: a
// parser that refuses a byte-order mark, invalid UTF-8 and deep nesting and
// stays linear in the number of keys, short error texts with a position,
// value equality that tells integers from floats, and a pretty printer whose
// floats read back exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "util/result.h"

namespace json {

using Value = nlohmann::ordered_json;

struct ParseError {
    std::string message;  // short: the description, never the offending text
    std::size_t line = 1;
    std::size_t column = 1;
};

inline constexpr std::size_t max_depth = 128;

// Parses exactly one JSON value; white space may surround it. Refuses a
// byte-order mark, text that is not UTF-8 and nesting deeper than max_depth.
// A key given twice keeps its first place and takes the later value.
util::Result<Value, ParseError> parse(std::string_view text);

// Pretty text with a two-space indent and no final newline; objects keep
// their key order. Fails on a string that is not UTF-8.
util::Result<std::string> print_pretty(const Value& value);

// The same pretty text, written as the caller walks its own data, for
// documents too large to build as a Value first. Each key is followed by
// exactly one value; containers are closed in the order they were opened.
class PrettyWriter {
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);
    void string(std::string_view text);
    void boolean(bool value);
    void number(std::uint64_t value);
    // The text so far; fails when a key or string was not UTF-8.
    util::Result<std::string> finish() &&;

private:
    void before_value();
    void close(char bracket);

    std::string out_;
    std::vector<bool> filled_;  // per open container: holds an item already
    bool after_key_ = false;
    bool failed_ = false;
};

// Structural equality: objects as maps, an integer never equal to a float,
// signed and unsigned integers by their mathematical value.
bool equal(const Value& a, const Value& b);

}  // namespace json
