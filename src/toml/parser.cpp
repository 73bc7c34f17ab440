#include "toml/parser.h"

#include "util/utf8.h"

namespace toml {

util::Result<Document, ParseError> parse(std::string_view text) {
    try {
        return Parser(text).run();
    } catch (const ParseFailure& failure) {
        return ParseError{failure.offset, failure.message};
    }
}

void Parser::fail(std::size_t offset, std::string message) const {
    throw ParseFailure{offset < s_.size() ? offset : s_.size(), std::move(message)};
}

Document Parser::run() {
    if (at("\xEF\xBB\xBF")) {
        doc_.bom_ = "\xEF\xBB\xBF";
        p_ = 3;
    }
    if (s_.find("\r\n") != std::string_view::npos) doc_.newline_ = "\r\n";
    section_ = &doc_.root_;
    // Blank and comment lines not yet given to a statement: they run from
    // here to the statement that follows them.
    std::size_t decor_start = p_;
    while (true) {
        skip_blanks();
        if (eof()) break;
        if (peek() == '#' || at_newline()) {
            line_end();
            continue;
        }
        if (peek() == '[') parse_header(decor_start);
        else parse_key_value(decor_start);
        decor_start = p_;
    }
    doc_.trailer_ = std::string(s_.substr(decor_start));
    return std::move(doc_);
}

void Parser::skip_blanks() {
    while (peek() == ' ' || peek() == '\t') ++p_;
}

void Parser::line_end() {
    skip_blanks();
    if (peek() == '#') comment();
    if (at_newline()) p_ += peek() == '\r' ? 2 : 1;
    else if (!eof()) fail(peek() == '\r' ? "carriage return without line feed" : "expected the end of the line");
}

void Parser::comment() {
    ++p_;  // '#'
    while (!eof() && !at_newline()) {
        unsigned char c = static_cast<unsigned char>(peek());
        if (c == '\t' || (c >= 0x20 && c < 0x7f)) ++p_;
        else if (c >= 0x80) utf8_char(nullptr);
        else fail("control character in a comment");
    }
}

void Parser::utf8_char(std::string* out) {
    const std::size_t length = util::utf8_sequence_length(s_, p_);
    if (length == 0) fail("invalid UTF-8");
    if (out) out->append(s_.substr(p_, length));
    p_ += length;
}

void Parser::key_path(std::vector<KeyPart>& parts) {
    parts.clear();
    while (true) {
        skip_blanks();
        std::size_t start = p_;
        parts.push_back({simple_key(), start});
        if (parts.size() > max_depth) fail(start, "keys nested too deeply");
        skip_blanks();
        if (peek() != '.') return;
        ++p_;
    }
}

std::string Parser::joined(const std::vector<KeyPart>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += (i == 0 ? "" : ".") + parts[i].name;
    return out;
}

std::string Parser::simple_key() {
    if (peek() == '"') {
        if (at("\"\"\"")) fail("a key cannot be a multi-line string");
        return quoted_string('"', false);
    }
    if (peek() == '\'') {
        if (at("\'\'\'")) fail("a key cannot be a multi-line string");
        return quoted_string('\'', false);
    }
    std::size_t start = p_;
    while (is_bare_key_char(peek())) ++p_;
    if (p_ == start) fail("expected a key");
    return std::string(s_.substr(start, p_ - start));
}

void Parser::parse_header(std::size_t decor_start) {
    std::size_t start = p_;
    bool array = at("[[");
    p_ += array ? 2 : 1;
    std::vector<KeyPart>& parts = parts_;
    key_path(parts);
    if (peek() != ']') fail("expected `]` to close the table header");
    ++p_;
    if (array) {
        if (peek() != ']') fail("expected `]]` to close the array of tables header");
        ++p_;
    }
    const std::size_t header_end = p_;
    line_end();

    Table* table = &doc_.root_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        Item* item = table->get(parts[i].name);
        if (!item) item = &table->append(parts[i].name, Table::new_implicit()).item();
        if (Table* child = item->as_table()) table = child;
        else if (ArrayOfTables* tables = item->as_array_of_tables()) table = &(*tables)[tables->size() - 1];
        else fail(parts[i].offset, "`" + joined(parts, i + 1) + "` is not a table");
    }
    const KeyPart& last = parts.back();
    Item* item = table->get(last.name);
    Table* target = nullptr;
    if (array) {
        if (!item) item = &table->append(last.name, ArrayOfTables()).item();
        ArrayOfTables* tables = item->as_array_of_tables();
        if (!tables) {
            fail(last.offset,
                 "`" + joined(parts, parts.size()) + "` is already defined and is not an array of tables");
        }
        tables->push_back(Table());
        target = &(*tables)[tables->size() - 1];
    } else {
        if (!item) item = &table->append(last.name, Table::new_implicit()).item();
        target = item->as_table();
        if (!target || target->kind_ != TableKind::implicit) {
            fail(last.offset, "`" + joined(parts, parts.size()) + "` is already defined");
        }
        target->kind_ = TableKind::header;
    }
    target->position_ = next_position_++;
    target->header_text_ = std::string(s_.substr(decor_start, p_ - decor_start));
    target->header_at_ = start - decor_start;
    target->header_end_ = header_end - decor_start;
    target->header_parts_ = parts.size();
    section_ = target;
    section_depth_ = parts.size();
}

void Parser::parse_key_value(std::size_t decor_start) {
    std::size_t start = p_;
    std::vector<KeyPart>& parts = parts_;
    key_path(parts);
    const std::size_t key_end = p_;
    if (peek() != '=') fail("expected `=` after the key");
    ++p_;
    std::size_t value_start = p_;
    skip_blanks();
    const std::size_t blanks_end = p_;
    std::size_t depth = section_depth_ + parts.size();
    if (depth > max_depth) fail(start, "keys nested too deeply");
    Value parsed = value(depth, true);
    const std::size_t suffix_start = p_;
    line_end();

    Table* table = section_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        Item* item = table->get(parts[i].name);
        if (!item) {
            Table dotted;
            dotted.kind_ = TableKind::dotted;
            item = &table->append(parts[i].name, std::move(dotted)).item();
        }
        Table* child = item->as_table();
        if (!child || child->kind_ != TableKind::dotted)
            fail(parts[i].offset, "`" + parts[i].name + "` is already defined and cannot take dotted keys");
        table = child;
    }
    const KeyPart& last = parts.back();
    if (table->find(last.name)) fail(last.offset, "duplicate key `" + last.name + "`");
    Entry& entry = table->append(last.name, std::move(parsed));
    entry.position_ = next_position_++;
    // The text around the value, in one string: decor, key, blanks, suffix.
    const std::string_view decor = s_.substr(decor_start, start - decor_start);
    const std::string_view key_text = s_.substr(start, key_end - start);
    const std::string_view before_value = s_.substr(value_start, blanks_end - value_start);
    const std::string_view suffix = s_.substr(suffix_start, p_ - suffix_start);
    std::string& text = entry.text_;
    text.reserve(decor.size() + key_text.size() + before_value.size() + suffix.size());
    text += decor;
    text += key_text;
    text += before_value;
    text += suffix;
    entry.key_at_ = decor.size();
    entry.equals_at_ = entry.key_at_ + key_text.size();
    entry.suffix_at_ = entry.equals_at_ + before_value.size();
    entry.key_parts_ = parts.size();
}

}  // namespace toml
