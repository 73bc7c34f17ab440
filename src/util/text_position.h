// Where a byte offset falls in a text, as people count it.
#pragma once

#include <cstddef>
#include <string_view>

namespace util {

struct TextPosition {
    std::size_t line = 1;    // 1 plus the number of "\n" before the offset
    std::size_t column = 1;  // bytes from the start of that line, 1-based
};

// An offset past the end counts as the end of the text.
inline TextPosition position_of(std::string_view text, std::size_t offset) {
    if (offset > text.size()) offset = text.size();
    TextPosition position;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++position.line;
            line_start = i + 1;
        }
    }
    position.column = offset - line_start + 1;
    return position;
}

}  // namespace util
