// Text made safe for a terminal line: control characters and bytes that are
// not UTF-8 written as visible escapes.
#pragma once

#include <string>
#include <string_view>

#include "util/utf8.h"

namespace util {

namespace detail {

inline bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

inline void append_hex(std::string& out, unsigned value) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    out += hex;
}

}  // namespace detail

// True when `escaped` would change the text.
inline bool needs_escape(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            ++i;
            continue;
        }
        const Utf8Char c = decode_utf8(text, i);
        if (utf8_sequence_length(text, i) == 0 || detail::is_control(c.value)) return true;
        i += c.length;
    }
    return false;
}

// Tab, line feed and carriage return as \t, \n and \r; every other control
// character (C0, DEL, C1) as \u{1b} and the like; each byte that is not part
// of well-formed UTF-8 as \xff and the like. Everything else stays, the
// backslash included, so escaping twice changes nothing more.
inline std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = utf8_sequence_at(text, i);
        if (!sequence.valid) {
            for (std::size_t k = 0; k < sequence.length; ++k) {
                out += "\\x";
                const auto byte = static_cast<unsigned char>(text[i + k]);
                if (byte < 0x10) out += '0';
                detail::append_hex(out, byte);
            }
            i += sequence.length;
            continue;
        }
        const Utf8Char c = decode_utf8(text, i);
        if (c.value == '\t') {
            out += "\\t";
        } else if (c.value == '\n') {
            out += "\\n";
        } else if (c.value == '\r') {
            out += "\\r";
        } else if (detail::is_control(c.value)) {
            out += "\\u{";
            detail::append_hex(out, static_cast<unsigned>(c.value));
            out += '}';
        } else {
            out.append(text.substr(i, c.length));
        }
        i += c.length;
    }
    return out;
}

}  // namespace util
