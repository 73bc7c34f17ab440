#include "toml/parser.h"

#include "util/utf8.h"

namespace toml {

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& name : names) out += (out.empty() ? "" : ".") + name;
    return out;
}

}  // namespace

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
    std::string pending;  // blank and comment lines not yet given to a statement
    while (true) {
        std::size_t line_start = p_;
        skip_blanks();
        pending.append(s_.substr(line_start, p_ - line_start));
        if (eof()) break;
        if (peek() == '#' || at_newline()) {
            std::size_t start = p_;
            line_end();
            pending.append(s_.substr(start, p_ - start));
            continue;
        }
        if (peek() == '[') parse_header(std::move(pending));
        else parse_key_value(std::move(pending));
        pending.clear();
    }
    doc_.trailer_ = std::move(pending);
    return std::move(doc_);
}

void Parser::skip_blanks() {
    while (peek() == ' ' || peek() == '\t') ++p_;
}

// Blanks, an optional comment, then a line end or the end of the text.
std::string Parser::line_end() {
    std::size_t start = p_;
    skip_blanks();
    if (peek() == '#') comment();
    if (at_newline()) p_ += peek() == '\r' ? 2 : 1;
    else if (!eof()) fail(peek() == '\r' ? "carriage return without line feed" : "expected the end of the line");
    return std::string(s_.substr(start, p_ - start));
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

std::vector<Parser::KeyPart> Parser::key_path() {
    std::vector<KeyPart> parts;
    while (true) {
        skip_blanks();
        std::size_t start = p_;
        parts.push_back({simple_key(), start});
        if (parts.size() > max_depth) fail(start, "keys nested too deeply");
        skip_blanks();
        if (peek() != '.') return parts;
        ++p_;
    }
}

std::string Parser::simple_key() {
    if (peek() == '"') {
        if (at("\"\"\"")) fail("a key cannot be a multi-line string");
        return quoted_string('"', false);
    }
    if (peek() == '\'') {
        if (at("'''")) fail("a key cannot be a multi-line string");
        return quoted_string('\'', false);
    }
    std::size_t start = p_;
    while (is_bare_key_char(peek())) ++p_;
    if (p_ == start) fail("expected a key");
    return std::string(s_.substr(start, p_ - start));
}

void Parser::parse_header(std::string decor) {
    std::size_t start = p_;
    bool array = at("[[");
    p_ += array ? 2 : 1;
    std::vector<KeyPart> parts = key_path();
    if (peek() != ']') fail("expected `]` to close the table header");
    ++p_;
    if (array) {
        if (peek() != ']') fail("expected `]]` to close the array of tables header");
        ++p_;
    }
    std::string header(s_.substr(start, p_ - start));
    std::string suffix = line_end();

    std::vector<std::string> names;
    Table* table = &doc_.root_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        names.push_back(parts[i].name);
        Item* item = table->get(parts[i].name);
        if (!item) item = &table->set(parts[i].name, Table::new_implicit());
        if (Table* child = item->as_table()) table = child;
        else if (ArrayOfTables* tables = item->as_array_of_tables()) table = &(*tables)[tables->size() - 1];
        else fail(parts[i].offset, "`" + joined(names) + "` is not a table");
    }
    const KeyPart& last = parts.back();
    names.push_back(last.name);
    Item* item = table->get(last.name);
    Table* target = nullptr;
    if (array) {
        if (!item) item = &table->set(last.name, ArrayOfTables());
        ArrayOfTables* tables = item->as_array_of_tables();
        if (!tables) fail(last.offset, "`" + joined(names) + "` is already defined and is not an array of tables");
        tables->push_back(Table());
        target = &(*tables)[tables->size() - 1];
    } else {
        if (!item) item = &table->set(last.name, Table::new_implicit());
        target = item->as_table();
        if (!target || target->kind_ != TableKind::implicit) fail(last.offset, "`" + joined(names) + "` is already defined");
        target->kind_ = TableKind::header;
    }
    target->position_ = next_position_++;
    target->decor_ = std::move(decor);
    target->header_ = std::move(header);
    target->header_parts_ = parts.size();
    target->header_suffix_ = std::move(suffix);
    section_ = target;
    section_depth_ = parts.size();
}

void Parser::parse_key_value(std::string decor) {
    std::size_t start = p_;
    std::vector<KeyPart> parts = key_path();
    std::string key_text(s_.substr(start, p_ - start));
    if (peek() != '=') fail("expected `=` after the key");
    ++p_;
    std::size_t value_start = p_;
    skip_blanks();
    std::string before_value(s_.substr(value_start, p_ - value_start));
    std::size_t depth = section_depth_ + parts.size();
    if (depth > max_depth) fail(start, "keys nested too deeply");
    Value parsed = value(depth, true);
    std::string suffix = line_end();

    Table* table = section_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        Item* item = table->get(parts[i].name);
        if (!item) {
            Table dotted;
            dotted.kind_ = TableKind::dotted;
            item = &table->set(parts[i].name, std::move(dotted));
        }
        Table* child = item->as_table();
        if (!child || child->kind_ != TableKind::dotted)
            fail(parts[i].offset, "`" + parts[i].name + "` is already defined and cannot take dotted keys");
        table = child;
    }
    const KeyPart& last = parts.back();
    if (table->find(last.name)) fail(last.offset, "duplicate key `" + last.name + "`");
    table->set(last.name, std::move(parsed));
    Entry* entry = table->find(last.name);
    entry->position_ = next_position_++;
    entry->decor_ = std::move(decor);
    entry->key_text_ = std::move(key_text);
    entry->key_parts_ = parts.size();
    entry->before_value_ = std::move(before_value);
    entry->suffix_ = std::move(suffix);
}

}  // namespace toml
