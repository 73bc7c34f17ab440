// Numbers kept as their text, in a binary value of their own subtype.
#include <cstdint>
#include <vector>

#include "json/json.h"

namespace json {

namespace {
constexpr std::uint64_t number_subtype = 0x4e;  // 'N'
}  // namespace

Value number_text(std::string_view text) {
    return Value::binary(std::vector<std::uint8_t>(text.begin(), text.end()), number_subtype);
}

std::optional<std::string_view> number_text_of(const Value& value) {
    if (!value.is_binary()) return std::nullopt;
    const auto& bytes = value.get_binary();
    if (!bytes.has_subtype() || bytes.subtype() != number_subtype) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace json
