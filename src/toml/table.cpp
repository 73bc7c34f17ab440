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
      removed_(other.removed_),
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

bool Table::remove_keeping_comments(std::string_view key) {
    const Entry* entry = find(key);
    if (!entry) return false;
    record_places(*entry, true);
    return remove(key);
}

std::size_t Table::remove_keeping_comments(const std::function<bool(std::string_view)>& goes) {
    const std::size_t before = entries_.size();
    std::erase_if(entries_, [&](const std::unique_ptr<Entry>& entry) {
        if (!goes(entry->key())) return false;
        record_places(*entry, true);
        return true;
    });
    const std::size_t removed = before - entries_.size();
    if (removed > 0) reindex();
    return removed;
}

void Table::record_places(const Entry& entry, bool lines_here) {
    if (entry.item().is_value()) {
        if (lines_here && entry.position_) removed_.push_back({entry.position_, entry.decor_, true});
    } else if (const Table* table = entry.item().as_table()) {
        record_places(*table, lines_here);
    } else if (const ArrayOfTables* tables = entry.item().as_array_of_tables()) {
        for (const Table& element : *tables) record_places(element, false);
    }
}

void Table::record_places(const Table& table, bool lines_here) {
    if (table.position_) removed_.push_back({table.position_, table.decor_});
    // The lines of a dotted table stand in the section around it; those of
    // any other table in its own section, taken out with it.
    const bool dotted = table.kind_ == TableKind::dotted;
    for (const Entry& entry : table) record_places(entry, dotted && lines_here);
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

}  // namespace toml
