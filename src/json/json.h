// JSON as real agent files need it, on top of nlohmann's ordered_json: a
// parser that refuses a byte-order mark, invalid UTF-8 and deep nesting and
// stays linear in the number of keys, short error texts with a position,
// value equality that tells integers from floats, numbers that read back as
// written, and a pretty printer whose floats read back exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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
    // The text is kept whole for finish().
    PrettyWriter() = default;
    // The text is handed to `sink` piece by piece as it grows, and the rest
    // at finish(), which then gives "". What has gone out cannot be taken
    // back, so a key or string that is not UTF-8 is written with U+FFFD in
    // place of its broken bytes, and finish() never fails.
    explicit PrettyWriter(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}

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
    void text(std::string_view text);
    // Hands a large enough piece to the sink.
    void spill();

    std::function<void(std::string_view)> sink_;
    std::string out_;
    std::vector<bool> filled_;  // per open container: holds an item already
    bool after_key_ = false;
    bool failed_ = false;
};

// A number that neither a 64-bit integer nor a double holds as written: an
// integer beyond 64 bits, the integer -0, a float that is not zero but too
// small for a double. It is kept as its text, prints as read, and to
// nlohmann it is no number but a binary value, so nothing reads it as one.
Value number_text(std::string_view text);
// The text of such a number; nothing for every other value.
std::optional<std::string_view> number_text_of(const Value& value);

// An object built member by member in time linear in its members (an
// ordered object alone searches its keys one by one): a repeated key keeps
// its first place and takes the later value.
class ObjectBuilder {
public:
    void set(std::string key, Value value);
    Value finish() &&;

private:
    std::vector<std::pair<std::string, Value>> members_;
    std::unordered_map<std::string, std::size_t> index_;
};

// Structural equality: objects as maps, an integer never equal to a float,
// signed and unsigned integers by their mathematical value; a number kept as
// text equals the same text, and -0 equals 0.
bool equal(const Value& a, const Value& b);

}  // namespace json
