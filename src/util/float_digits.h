// The shortest decimal digits that read back as the same float.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <string_view>

namespace util {

// A finite float as 0.digits * 10^point, negated when `negative`: the fewest
// digits that read back as the same float ("0" for zero).
struct FloatDigits {
    bool negative = false;
    std::string digits;
    int point = 0;
};

inline FloatDigits shortest_digits(double number) {
    char buf[64];
    const char* end = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::scientific).ptr;
    std::string_view sci(buf, static_cast<std::size_t>(end - buf));  // like "-1.2345e+02"
    FloatDigits out;
    if (sci.front() == '-') {
        out.negative = true;
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    for (char c : sci.substr(0, e))
        if (c != '.') out.digits += c;
    std::string_view exponent = sci.substr(e + 1);
    if (exponent.front() == '+') exponent.remove_prefix(1);
    int value = 0;
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), value);
    out.point = value + 1;
    return out;
}

}  // namespace util
