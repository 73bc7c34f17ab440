// Any input: parsing never crashes; an accepted value prints, reads back as an
// equal value, and prints the same text again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/json.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = json::parse(text);
    if (!value) {
        check(value.error().line >= 1 && value.error().column >= 1);
        return 0;
    }
    check(json::equal(*value, *value));
    auto printed = json::print_pretty(*value);
    check(printed.ok());
    auto again = json::parse(*printed);
    check(again.ok());
    check(json::equal(*value, *again));
    auto reprinted = json::print_pretty(*again);
    check(reprinted.ok() && *reprinted == *printed);
    return 0;
}
