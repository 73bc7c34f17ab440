// The reader behind toml::parse. Internal to the library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toml/document.h"

namespace toml {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline bool is_bare_key_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '-' || c == '_';
}
// A character that may follow a value.
inline bool ends_value(char c) {
    return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#' || c == ',' || c == ']' ||
           c == '}';
}

// Thrown inside the reader only; parse() turns it into a ParseError.
struct ParseFailure {
    std::size_t offset;
    std::string message;
};

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}
    Document run();

private:
    struct KeyPart {
        std::string name;
        std::size_t offset;
    };

    // Lines and statements; each starts after its decor, the comments and
    // blank lines from `decor_start` on.
    void parse_header(std::size_t decor_start);
    void parse_key_value(std::size_t decor_start);
    // Blanks, an optional comment and the line end (or the end of the text).
    void line_end();
    void comment();
    // Reads a dotted key into `parts`.
    void key_path(std::vector<KeyPart>& parts);
    std::string simple_key();
    // "`a.b`" for the first `count` parts, for errors.
    static std::string joined(const std::vector<KeyPart>& parts, std::size_t count);

    // Values (parse_values.cpp, parse_strings.cpp, parse_numbers.cpp).
    Value value(std::size_t depth, bool keep_text);
    Value array(std::size_t depth);
    Value inline_table(std::size_t depth);
    void array_space();
    // A basic ('"', with escapes) or literal ('\'') string, one line or three quotes.
    std::string quoted_string(char quote, bool multiline);
    void escape(std::string& out, bool multiline);
    Value number_or_date();
    Value date_time(std::size_t start);
    Value number(std::size_t start, std::size_t end);

    // Characters.
    bool eof() const { return p_ >= s_.size(); }
    char peek(std::size_t ahead = 0) const { return p_ + ahead < s_.size() ? s_[p_ + ahead] : '\0'; }
    bool at(std::string_view word) const { return s_.substr(p_, word.size()) == word; }
    bool at_newline() const { return peek() == '\n' || (peek() == '\r' && peek(1) == '\n'); }
    void skip_blanks();
    // Appends one UTF-8 character (or fails at it) from inside a string or comment.
    void utf8_char(std::string* out);
    [[noreturn]] void fail(std::size_t offset, std::string message) const;
    [[noreturn]] void fail(std::string message) const { fail(p_, std::move(message)); }

    std::string_view s_;
    std::size_t p_ = 0;
    std::vector<KeyPart> parts_;  // the key of the statement being read, reused line after line
    Document doc_;
    Table* section_ = nullptr;
    std::size_t section_depth_ = 0;
    std::uint64_t next_position_ = 1;
};

}  // namespace toml
