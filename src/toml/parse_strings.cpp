// Strings: basic, literal and their multi-line forms, with escapes.
#include "toml/parser.h"

#include "util/utf8.h"

namespace toml {

std::string Parser::quoted_string(char quote, bool multiline) {
    const bool escapes = quote == '"';  // a literal string takes every byte as it stands
    p_ += multiline ? 3 : 1;
    std::string out;
    if (multiline && at_newline()) p_ += peek() == '\r' ? 2 : 1;
    while (true) {
        if (eof()) fail("unterminated string");
        char c = peek();
        if (c == quote) {
            if (!multiline) {
                ++p_;
                return out;
            }
            std::size_t run = 0;
            while (peek(run) == quote) ++run;
            if (run >= 3) {
                if (run > 5) fail(p_ + 5, "too many quotes at the end of a string");
                out.append(run - 3, quote);
                p_ += run;
                return out;
            }
            out.append(run, quote);
            p_ += run;
        } else if (escapes && c == '\\') {
            escape(out, multiline);
        } else if (multiline && at_newline()) {
            p_ += c == '\r' ? 2 : 1;
            out += '\n';
        } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f) {
            // A run of printable ASCII is taken whole.
            const std::size_t start = p_;
            do {
                ++p_;
                c = peek();
            } while (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f && c != quote &&
                     !(escapes && c == '\\'));
            out.append(s_.substr(start, p_ - start));
        } else if (c == '\t' || static_cast<unsigned char>(c) > 0x7f) {
            utf8_char(&out);
        } else {
            fail(c == '\n' || c == '\r' ? "line end in a single-line string" : "control character in a string");
        }
    }
}

void Parser::escape(std::string& out, bool multiline) {
    std::size_t start = p_;
    ++p_;  // '\'
    char c = peek();
    auto hex = [&](std::size_t count) {
        std::uint32_t code = 0;
        for (std::size_t i = 0; i < count; ++i) {
            char d = peek(i);
            if (!is_hex(d)) fail(p_ + i, "invalid escape: expected a hexadecimal digit");
            code = code * 16 + static_cast<std::uint32_t>(is_digit(d) ? d - '0' : (d | 0x20) - 'a' + 10);
        }
        p_ += count;
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) fail(start, "escape is not a Unicode scalar value");
        util::append_utf8(out, code);
    };
    switch (c) {
    case 'b': out += '\b'; ++p_; return;
    case 't': out += '\t'; ++p_; return;
    case 'n': out += '\n'; ++p_; return;
    case 'f': out += '\f'; ++p_; return;
    case 'r': out += '\r'; ++p_; return;
    case 'e': out += '\x1b'; ++p_; return;
    case '"': out += '"'; ++p_; return;
    case '\\': out += '\\'; ++p_; return;
    case 'x': ++p_; hex(2); return;
    case 'u': ++p_; hex(4); return;
    case 'U': ++p_; hex(8); return;
    default: break;
    }
    if (multiline && (c == ' ' || c == '\t' || at_newline())) {
        // A backslash at the end of a line drops the line end and the blanks after it.
        skip_blanks();
        if (!at_newline()) fail(start, "invalid escape");
        while (true) {
            skip_blanks();
            if (!at_newline()) return;
            p_ += peek() == '\r' ? 2 : 1;
        }
    }
    fail(start, "invalid escape");
}

}  // namespace toml
