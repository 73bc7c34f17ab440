// The default layout of keys and values built by code.
#pragma once

#include <string>
#include <string_view>

#include "toml/value.h"

namespace toml {

// Bare when it holds only letters, digits, "-" and "_"; else quoted.
std::string format_key(std::string_view key);
// The first form that fits: "basic", 'literal', multi-line, escaped basic.
// `multiline` is false where raw line ends must not be written.
std::string format_string(std::string_view text, bool multiline = true);
// Shortest digits that read back exactly, never an exponent, ".0" when whole.
std::string format_float(double number);
// A value in its default layout (nested values too).
std::string format_value(const Value& value, bool multiline = true);

}  // namespace toml
