// Checks on UTF-8 text: where it stops being valid, and whether it holds only
// white space.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace util {

// The length of the well-formed sequence starting at text[i], or 0 when the
// bytes there are not well-formed UTF-8 (overlong forms, surrogates and code
// points above U+10FFFF included).
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    auto cont = [&](std::size_t k, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return k < text.size() && byte(k) >= lo && byte(k) <= hi;
    };
    unsigned char b = byte(i);
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
        unsigned char hi = b == 0xED ? 0x9F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
        unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
        return cont(i + 1, lo, hi) && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
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

// True when valid UTF-8 text is empty or holds only Unicode white space.
inline bool is_blank(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t n = utf8_sequence_length(text, i);
        if (n == 0) return false;
        char32_t c = 0;
        auto b0 = static_cast<unsigned char>(text[i]);
        c = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
        for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        bool space = (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
                     (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
                     c == 0x205F || c == 0x3000;
        if (!space) return false;
        i += n;
    }
    return true;
}

}  // namespace util
