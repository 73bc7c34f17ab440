// TOML values: what stands on the right of `key =`. A value read from a file
// keeps the exact text it was written with and renders it unchanged; a value
// built by code is laid out in the library's default form. Values are
// immutable once built: to change one, replace it whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace toml {

class Value;

enum class DatetimeKind { offset_datetime, local_datetime, local_date, local_time };

// A date, a time or both, as its TOML text form: "T" between date and time,
// an upper-case "Z", seconds always present ("07:32" reads as "07:32:00"),
// fraction and offset as written. For example "1979-05-27T07:32:00-07:00".
struct Datetime {
    DatetimeKind kind = DatetimeKind::local_date;
    std::string text;
};

// An array value ([1, 2]); its elements in order.
class Array {
public:
    Array() = default;
    explicit Array(std::vector<Value> items);

    std::size_t size() const;
    bool empty() const;
    const Value& operator[](std::size_t i) const;
    std::vector<Value>::const_iterator begin() const;
    std::vector<Value>::const_iterator end() const;
    void push_back(Value value);

private:
    std::vector<Value> items_;
};

// An inline table value ({ a = 1, b.c = 2 }); keys unquoted, in written order.
// Dotted keys inside it appear as nested inline tables.
class InlineTable {
public:
    using Member = std::pair<std::string, Value>;

    std::size_t size() const;
    bool empty() const;
    std::vector<Member>::const_iterator begin() const;
    std::vector<Member>::const_iterator end() const;
    // The member under `key`, or nullptr.
    const Value* get(std::string_view key) const;
    // Appends a member; the caller keeps keys unique.
    void push_back(std::string key, Value value);

private:
    std::vector<Member> members_;
};

class Value {
public:
    enum class Kind { string, integer, floating, boolean, datetime, array, inline_table };

    static Value string(std::string text);
    static Value integer(std::int64_t number);
    static Value floating(double number);  // inf and nan included
    static Value boolean(bool flag);
    static Value datetime(Datetime when);
    static Value array(Array items);
    static Value inline_table(InlineTable members);

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool is_string() const { return kind() == Kind::string; }
    bool is_integer() const { return kind() == Kind::integer; }
    bool is_float() const { return kind() == Kind::floating; }
    bool is_bool() const { return kind() == Kind::boolean; }
    bool is_datetime() const { return kind() == Kind::datetime; }
    bool is_array() const { return kind() == Kind::array; }
    bool is_inline_table() const { return kind() == Kind::inline_table; }

    // Each accessor requires the matching kind.
    const std::string& as_string() const { return std::get<std::string>(data_); }
    std::int64_t as_integer() const { return std::get<std::int64_t>(data_); }
    double as_float() const { return std::get<double>(data_); }
    bool as_bool() const { return std::get<bool>(data_); }
    const Datetime& as_datetime() const { return std::get<Datetime>(data_); }
    const Array& as_array() const { return std::get<Array>(data_); }
    const InlineTable& as_inline_table() const { return std::get<InlineTable>(data_); }

    // The text this value is rendered as: the text it was read with, or the
    // default layout for a value built by code.
    std::string text() const;

private:
    friend class Parser;
    friend class Renderer;
    friend std::string format_value(const Value& value, bool multiline);
    using Data = std::variant<std::string, std::int64_t, double, bool, Datetime, Array, InlineTable>;
    explicit Value(Data data) : data_(std::move(data)) {}

    Data data_;
    std::string raw_;  // the text as read; empty for a value built by code
};

inline std::size_t Array::size() const { return items_.size(); }
inline bool Array::empty() const { return items_.empty(); }
inline const Value& Array::operator[](std::size_t i) const { return items_[i]; }
inline std::vector<Value>::const_iterator Array::begin() const { return items_.begin(); }
inline std::vector<Value>::const_iterator Array::end() const { return items_.end(); }

inline std::size_t InlineTable::size() const { return members_.size(); }
inline bool InlineTable::empty() const { return members_.empty(); }
inline std::vector<InlineTable::Member>::const_iterator InlineTable::begin() const { return members_.begin(); }
inline std::vector<InlineTable::Member>::const_iterator InlineTable::end() const { return members_.end(); }

}  // namespace toml
