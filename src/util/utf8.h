// UTF-8 text: where it stops being valid, decoding, encoding, white space,
// and a lossy copy with U+FFFD in place of broken sequences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace util {

// The bytes starting at text[i]: a well-formed sequence, or else the longest
// start of one that could still have been (at least one byte) - the unit a
// single U+FFFD stands for. Overlong forms, surrogates and code points above
// U+10FFFF are not well-formed.
struct Utf8Sequence {
    std::size_t length;
    bool valid;
};

inline Utf8Sequence utf8_sequence_at(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) return {1, true};
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size()) return {k, false};
        const auto next = static_cast<unsigned char>(text[i + k]);
        if (next < lo || next > hi) return {k, false};
        lo = 0x80;
        hi = 0xBF;
    }
    return {length, true};
}

// The length of the well-formed sequence starting at text[i], or 0 when the
// bytes there are not well-formed UTF-8.
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const Utf8Sequence sequence = utf8_sequence_at(text, i);
    return sequence.valid ? sequence.length : 0;
}

// The offset of the first byte that is not part of well-formed UTF-8, or
// nothing when the whole text is valid.
inline std::optional<std::size_t> first_invalid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) return i;
        i += n;
    }
    return std::nullopt;
}

inline bool is_utf8(std::string_view text) { return !first_invalid_utf8(text); }

// The text with each broken sequence replaced by one U+FFFD.
inline std::string lossy_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = utf8_sequence_at(text, i);
        if (sequence.valid) {
            out.append(text.substr(i, sequence.length));
        } else {
            out.append("\xEF\xBF\xBD");
        }
        i += sequence.length;
    }
    return out;
}

// One decoded character and the number of bytes it takes. A byte that does
// not start a well-formed sequence decodes as U+FFFD of length 1.
struct Utf8Char {
    char32_t value;
    std::size_t length;
};

inline Utf8Char decode_utf8(std::string_view text, std::size_t pos) {
    const std::size_t length = utf8_sequence_length(text, pos);
    if (length == 0) return {0xFFFD, 1};
    const auto lead = static_cast<unsigned char>(text[pos]);
    char32_t value = length == 1   ? lead
                     : length == 2 ? (lead & 0x1F)
                     : length == 3 ? (lead & 0x0F)
                                   : (lead & 0x07);
    for (std::size_t i = 1; i < length; ++i) {
        value = (value << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    return {value, length};
}

// Appends the UTF-8 form of a Unicode scalar value.
inline void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The Unicode White_Space property. A byte-order mark is not white space.
constexpr bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// True when valid UTF-8 text is empty or holds only Unicode white space.
inline bool is_blank(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        if (!is_white_space(c.value)) return false;  // U+FFFD for a broken sequence
        i += c.length;
    }
    return true;
}

}  // namespace util
