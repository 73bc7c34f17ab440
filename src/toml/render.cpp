// Renders a document: every section (the root, each header, each element of
// an array of tables) in document order, then its key/value lines in order.
// Read text is written back as read; new text gets the default layout.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "toml/document.h"
#include "toml/format.h"

namespace toml {

class Renderer {
public:
    explicit Renderer(const Document& doc) : doc_(doc) {}
    std::string run();

private:
    struct Section {
        std::uint64_t major;
        int rank;  // 0: just before `major`, 1: at it, 2: after it
        std::uint64_t minor;
        const Table* table;
        std::string header;  // the header line to write when none was read
        bool read_header;    // the header as read still fits
        const Table::Removed* removed = nullptr;  // the place of a header taken out instead
    };
    struct Line {
        std::uint64_t order;
        std::size_t sequence;
        const Entry* entry;  // nullptr for the place of a line taken out
        std::string key;     // the dotted key to write when none was read
        const Table::Removed* removed = nullptr;
    };

    struct Span {
        std::uint64_t first = 0, last = 0;  // header positions read under a table; 0 = none
        void add(std::uint64_t position);
        void add(const Span& other);
    };
    // Works out the span of the table and of every table and array of
    // tables under it, in the order collect() meets them: a table before
    // the tables under it, an array of tables before its elements.
    Span measure(const Table& table);
    void collect(const Table& table, std::vector<std::string>& path, std::uint64_t anchor, bool array_element);
    static bool has_lines(const Table& table);
    void gather(const Table& table, std::vector<std::string>& path, std::vector<Line>& lines) const;
    void write_section(const Section& section);
    void write_line(const Line& line);
    void start_line();
    bool at_start() const { return out_.size() == doc_.bom_.size(); }
    void write_decor(std::string_view decor);
    void write_removed(const Table::Removed& removed);
    void write_value(const Value& value);
    static std::string dotted(const std::vector<std::string>& path);

    const Document& doc_;
    std::string out_;
    std::vector<Section> sections_;
    std::vector<Line> lines_;
    std::vector<Span> table_spans_;  // from measure(), taken by collect() in turn
    std::vector<Span> array_spans_;
    std::size_t next_table_ = 0;
    std::size_t next_array_ = 0;
    std::size_t removed_headers_ = 0;  // places of headers taken out, counted by measure()
    std::size_t size_hint_ = 0;        // the length of the text read, as measure() finds it
    std::uint64_t sequence_ = 0;
    // Where something was taken out, the blank lines between the comments
    // kept there and it; written unless blank lines follow anyway.
    std::string pending_blank_;
    // Something taken out at the top: the blank lines after it go too.
    bool drop_blank_ = false;
};

namespace {

// The length of the blank lines `text` starts with.
std::size_t leading_blank_lines(std::string_view text) {
    std::size_t length = 0;
    while (true) {
        std::size_t end = text.find('\n', length);
        if (end == std::string_view::npos || text.find_first_not_of(" \t\r", length) < end) return length;
        length = end + 1;
    }
}

}  // namespace

std::string Document::render() const { return Renderer(*this).run(); }

std::string Renderer::run() {
    measure(doc_.root_);
    sections_.reserve(table_spans_.size() + removed_headers_);
    std::vector<std::string> path;
    collect(doc_.root_, path, 0, false);
    auto earlier = [](const Section& a, const Section& b) {
        if (a.major != b.major) return a.major < b.major;
        return a.rank != b.rank ? a.rank < b.rank : a.minor < b.minor;
    };
    // Sections read and left in place are in order already.
    if (!std::is_sorted(sections_.begin(), sections_.end(), earlier)) {
        std::stable_sort(sections_.begin(), sections_.end(), earlier);
    }
    out_.reserve(doc_.bom_.size() + size_hint_ + doc_.trailer_.size());
    out_ = doc_.bom_;
    for (const Section& section : sections_) write_section(section);
    if (!doc_.trailer_.empty()) {
        start_line();
        write_decor(doc_.trailer_);
    }
    return std::move(out_);
}

void Renderer::Span::add(std::uint64_t position) {
    if (!position) return;
    if (!first || position < first) first = position;
    if (position > last) last = position;
}

void Renderer::Span::add(const Span& other) {
    add(other.first);
    add(other.last);
}

Renderer::Span Renderer::measure(const Table& table) {
    const std::size_t at = table_spans_.size();
    table_spans_.emplace_back();
    removed_headers_ += table.removed().size();
    size_hint_ += table.header_text_.size();
    Span result;
    result.add(table.position_);
    for (const Entry& entry : table) {
        if (const Value* value = entry.item().as_value()) {
            size_hint_ += entry.text_.size() + value->raw_.size() + 1;
        } else if (const Table* child = entry.item().as_table()) {
            result.add(measure(*child));
        } else if (const ArrayOfTables* tables = entry.item().as_array_of_tables()) {
            const std::size_t array_at = array_spans_.size();
            array_spans_.emplace_back();
            Span elements;
            for (const Table& element : *tables) elements.add(measure(element));
            array_spans_[array_at] = elements;
            result.add(elements);
        }
    }
    table_spans_[at] = result;
    return result;
}

bool Renderer::has_lines(const Table& table) {
    for (const Entry& entry : table) {
        if (entry.item().is_value()) return true;
        const Table* child = entry.item().as_table();
        if (child && child->kind_ == TableKind::dotted && has_lines(*child)) return true;
    }
    return false;
}

// A table without a place of its own goes after the last table read under
// its parent, or right after its parent when nothing under it was read. One
// that has tables read under it (a dotted table given a header) goes just
// before the first of them, so that its dotted keys come before their headers.
void Renderer::collect(const Table& table, std::vector<std::string>& path, std::uint64_t anchor, bool array_element) {
    const Span below = table_spans_[next_table_++];
    // The root's lines come first, whatever was read or taken out below it.
    std::uint64_t major = path.empty() ? 0 : table.position_ ? table.position_ : below.first ? below.first : anchor;
    int rank = path.empty() ? 0 : table.position_ ? 1 : below.first ? 0 : 2;
    std::uint64_t minor = table.position_ ? 0 : ++sequence_;
    bool section = path.empty() || array_element || table.kind_ == TableKind::header ||
                   (table.kind_ == TableKind::implicit && (has_lines(table) || !table.decor().empty()));
    if (section) {
        bool read_header = !table.header().empty() && table.header_parts_ == path.size() &&
                           table.header().starts_with("[[") == array_element;
        std::string header;
        if (!read_header && !path.empty())
            header = (array_element ? "[[" : "[") + dotted(path) + (array_element ? "]]" : "]");
        sections_.push_back({major, rank, minor, &table, std::move(header), read_header});
    }
    for (const Table::Removed& removed : table.removed())
        if (!removed.line) sections_.push_back({removed.position, 1, 0, &table, "", false, &removed});
    std::uint64_t child_anchor = below.last ? below.last : major;
    for (const Entry& entry : table) {
        if (entry.item().is_value()) continue;
        path.push_back(entry.key());
        if (const Table* child = entry.item().as_table()) {
            collect(*child, path, child_anchor, false);
        } else if (const ArrayOfTables* tables = entry.item().as_array_of_tables()) {
            std::uint64_t last_element = array_spans_[next_array_++].last;
            for (const Table& element : *tables) collect(element, path, last_element ? last_element : child_anchor, true);
        }
        path.pop_back();
    }
}

void Renderer::gather(const Table& table, std::vector<std::string>& path, std::vector<Line>& lines) const {
    for (const Table::Removed& removed : table.removed())
        if (removed.line) lines.push_back({removed.position, lines.size(), nullptr, "", &removed});
    for (const Entry& entry : table) {
        if (entry.item().is_value()) {
            std::string key;
            if (entry.key_text().empty() || entry.key_parts_ != path.size() + 1) {
                path.push_back(entry.key());
                key = dotted(path);
                path.pop_back();
            }
            lines.push_back({entry.position_ ? entry.position_ : UINT64_MAX, lines.size(), &entry, std::move(key)});
        } else if (const Table* child = entry.item().as_table(); child && child->kind_ == TableKind::dotted) {
            path.push_back(entry.key());
            gather(*child, path, lines);
            path.pop_back();
        }
    }
}

std::string Renderer::dotted(const std::vector<std::string>& path) {
    std::string out;
    for (const auto& key : path) out += (out.empty() ? "" : ".") + format_key(key);
    return out;
}

void Renderer::start_line() {
    if (!at_start() && out_.back() != '\n') out_ += doc_.newline_;
}

// What stays where a header or a line was taken out: the comment lines
// above it that stand apart from it, and the blank lines between (kept
// back until it is known whether blank lines follow anyway). The comments
// right above it went with it.
void Renderer::write_removed(const Table::Removed& removed) {
    std::string_view decor = removed.decor;
    decor = decor.substr(0, decor.rfind('\n') + 1);  // the indent of its line left out
    auto line_start = [decor](std::size_t end) {
        std::size_t newline = end >= 2 ? decor.rfind('\n', end - 2) : std::string_view::npos;
        return newline == std::string_view::npos ? 0 : newline + 1;
    };
    auto blank = [decor](std::size_t start, std::size_t end) {
        return decor.find_first_not_of(" \t\r\n", start) >= end;
    };
    std::size_t attached = decor.size();
    while (attached > 0 && !blank(line_start(attached), attached)) attached = line_start(attached);
    std::size_t apart = attached;
    while (apart > 0 && blank(line_start(apart), apart)) apart = line_start(apart);
    if (apart == 0) {
        if (at_start()) drop_blank_ = true;
        return;
    }
    start_line();
    write_decor(decor.substr(0, apart));
    pending_blank_ = decor.substr(apart, attached - apart);
}

// Writes comments and blank lines read before a header, a line or the end.
void Renderer::write_decor(std::string_view decor) {
    if (drop_blank_) {
        decor.remove_prefix(leading_blank_lines(decor));
        drop_blank_ = false;
    } else if (!pending_blank_.empty() && leading_blank_lines(decor) == 0) {
        out_ += pending_blank_;
    }
    pending_blank_.clear();
    out_ += decor;
}

void Renderer::write_section(const Section& section) {
    if (section.removed) {
        write_removed(*section.removed);
        return;
    }
    const Table& table = *section.table;
    lines_.clear();
    std::vector<std::string> path;
    gather(table, path, lines_);
    std::vector<Line>& lines = lines_;
    if (&table != &doc_.root_) {
        start_line();
        bool no_lines = std::none_of(lines.begin(), lines.end(), [](const Line& line) { return line.entry; });
        if (table.kind_ == TableKind::implicit && no_lines) {
            // No header line; the comments that stood above it stay.
            std::string_view decor = table.decor();
            decor = decor.substr(0, decor.find_last_not_of(" \t") + 1);
            write_decor(decor);
            auto comment = table.header_suffix().find('#');
            if (comment != std::string_view::npos) {
                start_line();
                out_ += table.header_suffix().substr(comment);
            }
            return;
        }
        if (section.read_header) {
            write_decor(table.decor());
            out_ += table.header();
            out_ += table.header_suffix();
        } else {
            write_decor(table.decor().empty() && !at_start() ? std::string_view(doc_.newline_) : table.decor());
            out_ += section.header;
            out_ += doc_.newline_;
        }
    }
    auto earlier = [](const Line& a, const Line& b) {
        return a.order != b.order ? a.order < b.order : a.sequence < b.sequence;
    };
    if (!std::is_sorted(lines.begin(), lines.end(), earlier)) std::sort(lines.begin(), lines.end(), earlier);
    for (const Line& line : lines) write_line(line);
}

void Renderer::write_line(const Line& line) {
    if (line.removed) {
        write_removed(*line.removed);
        return;
    }
    const Entry& entry = *line.entry;
    start_line();
    const Value& value = *entry.item().as_value();
    write_decor(entry.decor());
    if (line.key.empty()) {
        out_ += entry.key_text();
        out_ += '=';
        out_ += entry.before_value();
        write_value(value);
        out_ += entry.suffix();
    } else {
        out_ += line.key;
        out_ += " = ";
        write_value(value);
        out_ += doc_.newline_;
    }
}

// Raw line ends inside a new multi-line string would mix line ends in a
// "\r\n" document, so there new strings use escapes instead.
void Renderer::write_value(const Value& value) {
    if (!value.raw_.empty()) out_ += value.raw_;
    else out_ += format_value(value, doc_.newline_ == "\n");
}

}  // namespace toml
