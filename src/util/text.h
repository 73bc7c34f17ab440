// UTF-8 text helpers: trimming white space, lines, characters, padding,
// joining.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/utf8.h"

namespace util {

inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The texts in order with `separator` between each two.
inline std::string join(const std::vector<std::string>& texts, std::string_view separator = ", ") {
    std::string out;
    for (const auto& text : texts) {
        if (!out.empty()) out += separator;
        out += text;
    }
    return out;
}

inline std::string_view trim_start(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const Utf8Char c = decode_utf8(text, pos);
        if (!is_white_space(c.value)) break;
        pos += c.length;
    }
    return text.substr(pos);
}

inline std::string_view trim_end(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        const Utf8Char c = decode_utf8(text, start);
        if (start + c.length != end || !is_white_space(c.value)) break;
        end = start;
    }
    return text.substr(0, end);
}

inline std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

// Byte offset of the first white-space character, or the text's size.
inline std::size_t find_white_space(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const Utf8Char c = decode_utf8(text, pos);
        if (is_white_space(c.value)) break;
        pos += c.length;
    }
    return pos;
}

// The text cut after every "\n"; each line loses its "\n" and one "\r" just
// before it. A non-empty rest after the last "\n" is a last line, kept as is.
inline std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, newline - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = newline + 1;
    }
    return lines;
}

// The number of characters (Unicode scalar values).
inline std::size_t char_count(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) pos += decode_utf8(text, pos).length;
    return count;
}

// The first `count` characters.
inline std::string_view first_chars(std::string_view text, std::size_t count) {
    std::size_t pos = 0;
    for (; pos < text.size() && count > 0; --count) pos += decode_utf8(text, pos).length;
    return text.substr(0, pos);
}

// Every "\n" not already preceded by "\r" gets one, so none is doubled.
inline std::string with_crlf_line_ends(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

// The text followed by spaces up to `width` characters; a longer text whole.
inline std::string pad_right(std::string_view text, std::size_t width) {
    std::string padded(text);
    const std::size_t count = char_count(text);
    if (count < width) padded.append(width - count, ' ');
    return padded;
}

// "  {word:width} ": how a listed row starts, its state word padded.
inline std::string row_start(std::string_view word, std::size_t width) {
    return "  " + pad_right(word, width) + " ";
}

}  // namespace util
