#include "toml/item.h"

#include <string>

namespace toml {

namespace {
// Tables at most this big are searched one by one; bigger ones keep an index.
constexpr std::size_t linear_limit = 16;
}  // namespace

Table::Table() = default;
Table::Table(Table&& other) noexcept = default;
Table& Table::operator=(Table&& other) noexcept = default;
Table::~Table() = default;

Table::Table(const Table& other)
    : index_(other.index_),
      kept_comments_(other.kept_comments_),
      kind_(other.kind_),
      position_(other.position_),
      decor_(other.decor_),
      header_(other.header_),
      header_parts_(other.header_parts_),
      header_suffix_(other.header_suffix_) {
    entries_.reserve(other.entries_.size());
    for (const auto& entry : other.entries_) entries_.push_back(std::make_unique<Entry>(*entry));
}

Table& Table::operator=(const Table& other) {
    if (this != &other) *this = Table(other);
    return *this;
}

Table Table::new_implicit() {
    Table table;
    table.kind_ = TableKind::implicit;
    return table;
}

void Table::set_implicit(bool implicit) { kind_ = implicit ? TableKind::implicit : TableKind::header; }

Entry* Table::find(std::string_view key) {
    if (entries_.size() <= linear_limit) {
        for (auto& entry : entries_)
            if (entry->key() == key) return entry.get();
        return nullptr;
    }
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : entries_[it->second].get();
}

const Entry* Table::find(std::string_view key) const { return const_cast<Table*>(this)->find(key); }

Item* Table::get(std::string_view key) {
    Entry* entry = find(key);
    return entry ? &entry->item() : nullptr;
}

const Item* Table::get(std::string_view key) const { return const_cast<Table*>(this)->get(key); }

Item& Table::set(std::string key, Item item) {
    if (Entry* entry = find(key)) {
        entry->item() = std::move(item);
        return entry->item();
    }
    entries_.push_back(std::make_unique<Entry>(key, std::move(item)));
    if (entries_.size() > linear_limit) {
        if (index_.empty()) reindex();
        else index_.emplace(std::move(key), entries_.size() - 1);
    }
    return entries_.back()->item();
}

bool Table::remove(std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if ((*it)->key() == key) {
            entries_.erase(it);
            reindex();
            return true;
        }
    }
    return false;
}

void Table::keep_comments_of(const Item& item) {
    if (const Table* table = item.as_table()) {
        Table rest = table->detached_comments();
        if (!rest.decor_.empty()) kept_comments_.push_back(std::move(rest));
    }
}

bool Table::remove_keeping_comments(std::string_view key) {
    const Item* item = get(key);
    if (!item) return false;
    keep_comments_of(*item);
    return remove(key);
}

std::size_t Table::remove_keeping_comments(const std::function<bool(std::string_view)>& goes) {
    const std::size_t before = entries_.size();
    std::erase_if(entries_, [&](const std::unique_ptr<Entry>& entry) {
        if (!goes(entry->key())) return false;
        keep_comments_of(entry->item());
        return true;
    });
    const std::size_t removed = before - entries_.size();
    if (removed > 0) reindex();
    return removed;
}

void Table::reindex() {
    index_.clear();
    if (entries_.size() <= linear_limit) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i]->key(), i);
}

void Table::carry_decor_from(const Table& old) {
    position_ = old.position_;
    decor_ = old.decor_;
    header_ = old.header_;
    header_parts_ = old.header_parts_;
    header_suffix_ = old.header_suffix_;
}

Table Table::detached_comments() const {
    Table rest = new_implicit();
    // The table read first in the tree under this one, itself included.
    const Table* first = nullptr;
    auto visit = [&first](const Table& table, auto& self) -> void {
        if (table.position_ && (!first || table.position_ < first->position_)) first = &table;
        for (const Entry& entry : table) {
            if (const Table* child = entry.item().as_table()) {
                self(*child, self);
            } else if (const ArrayOfTables* tables = entry.item().as_array_of_tables()) {
                for (const Table& element : *tables) self(element, self);
            }
        }
    };
    visit(*this, visit);
    if (!first) return rest;
    const std::string& decor = first->decor_;
    std::size_t kept = 0;  // the decoration before its last blank line
    for (std::size_t start = 0; start < decor.size();) {
        std::size_t end = decor.find('\n', start);
        end = end == std::string::npos ? decor.size() : end + 1;
        if (decor.find_first_not_of(" \t\r\n", start) >= end) kept = start;
        start = end;
    }
    if (decor.substr(0, kept).find('#') == std::string::npos) return rest;
    rest.position_ = first->position_;
    rest.decor_ = decor.substr(0, kept);
    return rest;
}

}  // namespace toml
