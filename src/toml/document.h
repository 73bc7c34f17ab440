// A TOML 1.1 document that keeps its text: parse() then render() gives the
// input back byte for byte (byte-order mark, comments, blank lines, key
// spelling, line ends). Edits go through root(); new content is laid out as
// `key = value` lines, a blank line before each new header, new tables after
// the last table of their parent, and the document's own line end ("\r\n"
// when the text read used it).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "toml/item.h"
#include "util/result.h"

namespace toml {

// Deepest nesting of tables, arrays and inline tables a document may have.
inline constexpr std::size_t max_depth = 128;

struct ParseError {
    std::size_t offset = 0;  // byte offset of the first error in the text given
    std::string message;
};

class Document {
public:
    Document() = default;  // an empty document

    Table& root() { return root_; }
    const Table& root() const { return root_; }

    std::string render() const;

private:
    friend class Parser;
    friend class Renderer;

    Table root_;
    std::string bom_;       // a leading byte-order mark, kept as read
    std::string trailer_;   // comments and blank lines after the last line
    std::string newline_ = "\n";  // line end for new lines
};

// Reads a whole document. Every rule of TOML 1.1 is enforced, including
// UTF-8 validity; a leading byte-order mark is accepted and kept.
util::Result<Document, ParseError> parse(std::string_view text);

}  // namespace toml
