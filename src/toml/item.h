// The tree of a TOML document: tables hold entries (a key and an item) in
// document order; an item is a value, a table or an array of tables.
//
// Kinds of table, which callers tell apart with Table::kind():
//   header   - has a header line of its own: [a.b] (the root table counts too)
//   dotted   - made by dotted keys (a.b = 1 makes the dotted table a)
//   implicit - has no header line: made only by a deeper header ([a.b] makes
//              the implicit table a), or marked implicit by code. An implicit
//              table with no key/value pairs prints no header; one that
//              holds key/value pairs prints its header all the same.
// An inline table is a value (Value::Kind::inline_table), not a Table.
//
// Entries are held by pointer: a reference to an Entry, its Item or a Table
// under it stays valid while other entries are added or removed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "toml/value.h"

namespace toml {

class Entry;
class Item;

enum class TableKind { header, dotted, implicit };

class Table {
public:
    // A new table with a header line of its own.
    Table();
    // A new table without a header line (see `implicit` above).
    static Table new_implicit();

    Table(const Table& other);
    Table(Table&& other) noexcept;
    Table& operator=(const Table& other);
    Table& operator=(Table&& other) noexcept;
    ~Table();

    TableKind kind() const { return kind_; }
    bool is_implicit() const { return kind_ == TableKind::implicit; }
    // true: no header line while it holds no key/value pairs. false: the
    // header line is written (a dotted table then moves under a header).
    // Marking a read table implicit keeps the comments above its header.
    void set_implicit(bool implicit);

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Look-up of one key (never a dotted path); nullptr when absent.
    Item* get(std::string_view key);
    const Item* get(std::string_view key) const;
    Entry* find(std::string_view key);
    const Entry* find(std::string_view key) const;

    // Iteration in document order.
    template <class E, class It>
    class Iterator {
    public:
        explicit Iterator(It it) : it_(it) {}
        E& operator*() const { return **it_; }
        E* operator->() const { return it_->get(); }
        Iterator& operator++() { ++it_; return *this; }
        bool operator==(const Iterator& other) const { return it_ == other.it_; }
        bool operator!=(const Iterator& other) const { return it_ != other.it_; }
    private:
        It it_;
    };
    using Entries = std::vector<std::unique_ptr<Entry>>;
    using iterator = Iterator<Entry, Entries::iterator>;
    using const_iterator = Iterator<const Entry, Entries::const_iterator>;
    iterator begin() { return iterator(entries_.begin()); }
    iterator end() { return iterator(entries_.end()); }
    const_iterator begin() const { return const_iterator(entries_.begin()); }
    const_iterator end() const { return const_iterator(entries_.end()); }

    // Stores `item` under `key`. An existing entry is replaced in place: the
    // key keeps its spelling, position and comments, and a value keeps the
    // comment that followed it on its line. A new key is appended. Replacing
    // a table does not carry its header decoration: see carry_decor_from.
    Item& set(std::string key, Item item);
    // Removes the entry and everything under it; false when absent.
    bool remove(std::string_view key);
    // The same, except that comments standing apart from the entry stay.
    // Above each line that starts a piece of it (each header under it; its
    // key line, or each of its dotted keys, when written in the section
    // around it), comments with a blank line between them and that line
    // stay in their place with those blank lines; comments right above the
    // line go with it. When the entry began the document and nothing of it
    // stays, the blank lines that followed it go too.
    bool remove_keeping_comments(std::string_view key);
    // remove_keeping_comments for every key that `goes` says yes to, in one
    // pass over the table; returns how many were removed.
    std::size_t remove_keeping_comments(const std::function<bool(std::string_view)>& goes);

    // Takes over the comments and blank lines before `old`'s header, its
    // header line as written with what follows on that line, and its place
    // in the document. Used when this table replaces `old` under the same key.
    void carry_decor_from(const Table& old);

    // Stores `table` under `key` in the form the entry already there is
    // written in, keeping its place and the comments around it: a table with
    // a header takes over that header's place and comments (carry_decor_from);
    // dotted keys stay dotted keys (replace_dotted), or one `key = {}` line
    // where they stood when `table` is empty; a value (an inline table, say)
    // becomes an inline table on its line. A new key is appended as a table.
    Item& set_keeping_form(std::string key, Table table);

    // For a dotted table (its keys written `a.b = 1` under its parent): takes
    // the keys and values of `replacement` and keeps the lines as written. A
    // key still there keeps its line, spelling and comments with the new
    // value; a key no longer there loses its line, and the comments above it
    // pass to the next line of the table; a new key is written after the
    // table's last line. A table in `replacement` merges into a dotted table
    // under the same key, else it is written as an inline table.
    void replace_dotted(const Table& replacement);

private:
    friend class Parser;
    friend class Renderer;
    // Rebuilds the index of a big table from its entries.
    void reindex();
    // Adds the last entry to the index of a big table.
    void index_last();
    // Appends an entry under a key the table does not hold yet.
    Entry& append(std::string key, Item item);
    // A header or key/value line taken out: where it stood and the comments
    // and blank lines that stood above it.
    struct Removed {
        std::uint64_t position;
        std::string decor;
        bool line = false;  // a key/value line, written in its section; else a header
    };
    // Records in removed() the place of every header and of every line
    // standing outside the sections under `entry` (`lines_here`: its lines
    // are written in a section that stays).
    void record_places(const Entry& entry, bool lines_here);
    void record_places(const Table& table, bool lines_here);
    void replace_lines(const Table& replacement, std::uint64_t after, std::vector<Removed>& removed);

    // The header as read, in one text: the comments, blank lines and indent
    // before it, the header itself ("[a . b]" or "[[a]]"; empty = new), then
    // the blanks, comment and line end after it.
    std::string_view decor() const { return std::string_view(header_text_).substr(0, header_at_); }
    std::string_view header() const {
        return std::string_view(header_text_).substr(header_at_, header_end_ - header_at_);
    }
    std::string_view header_suffix() const { return std::string_view(header_text_).substr(header_end_); }

    // What only some tables have, kept apart so that the many small tables
    // stay small.
    struct Extra {
        // For a big table: open addressing over the entries' keys, each slot
        // the entry's position plus one (0: free).
        std::vector<std::uint32_t> index;
        std::vector<Removed> removed;  // places left by remove_keeping_comments
    };
    Extra& extra();
    std::span<const std::uint32_t> index() const;
    std::span<const Removed> removed() const;

    Entries entries_;
    std::unique_ptr<Extra> extra_;  // none until the table needs it

    std::uint64_t position_ = 0;  // order of the header in the document; 0 = new
    std::string header_text_;     // decor, header and suffix, as above
    std::size_t header_at_ = 0;
    std::size_t header_end_ = 0;
    std::size_t header_parts_ = 0;  // number of keys in the header
    TableKind kind_ = TableKind::header;
};

// An array of tables ([[a]] sections), elements in order.
class ArrayOfTables {
public:
    std::size_t size() const { return tables_.size(); }
    bool empty() const { return tables_.empty(); }
    Table& operator[](std::size_t i) { return tables_[i]; }
    const Table& operator[](std::size_t i) const { return tables_[i]; }
    std::vector<Table>::iterator begin() { return tables_.begin(); }
    std::vector<Table>::iterator end() { return tables_.end(); }
    std::vector<Table>::const_iterator begin() const { return tables_.begin(); }
    std::vector<Table>::const_iterator end() const { return tables_.end(); }
    void push_back(Table table) { tables_.push_back(std::move(table)); }

private:
    std::vector<Table> tables_;
};

class Item {
public:
    enum class Kind { value, table, array_of_tables };

    Item(Value value) : data_(std::move(value)) {}
    Item(Table table) : data_(std::move(table)) {}
    Item(ArrayOfTables tables) : data_(std::move(tables)) {}

    Kind kind() const { return static_cast<Kind>(data_.index()); }
    bool is_value() const { return kind() == Kind::value; }
    bool is_table() const { return kind() == Kind::table; }
    bool is_array_of_tables() const { return kind() == Kind::array_of_tables; }

    // nullptr when the item is of another kind.
    Value* as_value() { return std::get_if<Value>(&data_); }
    const Value* as_value() const { return std::get_if<Value>(&data_); }
    Table* as_table() { return std::get_if<Table>(&data_); }
    const Table* as_table() const { return std::get_if<Table>(&data_); }
    ArrayOfTables* as_array_of_tables() { return std::get_if<ArrayOfTables>(&data_); }
    const ArrayOfTables* as_array_of_tables() const { return std::get_if<ArrayOfTables>(&data_); }

private:
    std::variant<Value, Table, ArrayOfTables> data_;
};

// One key of a table with its item. For a key/value pair it also holds the
// text around it: the lines before it, the key as written, and the blanks,
// comment and line end after the value.
class Entry {
public:
    Entry(std::string key, Item item) : key_(std::move(key)), item_(std::move(item)) {}

    const std::string& key() const { return key_; }  // unquoted
    Item& item() { return item_; }
    const Item& item() const { return item_; }

private:
    friend class Parser;
    friend class Renderer;
    friend class Table;

    // The text read around the value, in one string: the comments, blank
    // lines and indent before the key, the dotted key as written up to "="
    // (empty = new), the blanks between "=" and the value, then the blanks,
    // comment and line end after the value.
    std::string_view decor() const { return std::string_view(text_).substr(0, key_at_); }
    std::string_view key_text() const { return std::string_view(text_).substr(key_at_, equals_at_ - key_at_); }
    std::string_view before_value() const {
        return std::string_view(text_).substr(equals_at_, suffix_at_ - equals_at_);
    }
    std::string_view suffix() const { return std::string_view(text_).substr(suffix_at_); }
    // Replaces the comments and blank lines before the key, keeping the rest.
    void set_decor(std::string_view decor);

    std::string key_;
    Item item_;
    std::uint64_t position_ = 0;  // order of the line in the document; 0 = new
    std::string text_;            // decor, key text, blanks and suffix, as above
    std::size_t key_at_ = 0;
    std::size_t equals_at_ = 0;
    std::size_t suffix_at_ = 0;
    std::size_t key_parts_ = 0;  // number of keys in the key text
};

// The table as an inline table value ({ a = 1, b = { c = 2 } }): tables
// under it become inline tables too; arrays of tables are left out.
Value inline_table_of(const Table& table);

}  // namespace toml
