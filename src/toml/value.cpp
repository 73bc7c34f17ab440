#include "toml/value.h"

#include "toml/format.h"

namespace toml {

Array::Array(std::vector<Value> items) : items_(std::move(items)) {}

void Array::push_back(Value value) { items_.push_back(std::move(value)); }

const Value* InlineTable::get(std::string_view key) const {
    for (const auto& [name, value] : members_)
        if (name == key) return &value;
    return nullptr;
}

void InlineTable::push_back(std::string key, Value value) { members_.emplace_back(std::move(key), std::move(value)); }

Value Value::string(std::string text) { return Value(Data(std::in_place_index<0>, std::move(text))); }
Value Value::integer(std::int64_t number) { return Value(Data(std::in_place_index<1>, number)); }
Value Value::floating(double number) { return Value(Data(std::in_place_index<2>, number)); }
Value Value::boolean(bool flag) { return Value(Data(std::in_place_index<3>, flag)); }
Value Value::datetime(Datetime when) { return Value(Data(std::in_place_index<4>, std::move(when))); }
Value Value::array(Array items) { return Value(Data(std::in_place_index<5>, std::move(items))); }
Value Value::inline_table(InlineTable members) { return Value(Data(std::in_place_index<6>, std::move(members))); }

std::string Value::text() const { return format_value(*this); }

}  // namespace toml
