#include "toml/item.h"

#include <bit>
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
    : extra_(other.extra_ ? std::make_unique<Extra>(*other.extra_) : nullptr),
      position_(other.position_),
      header_text_(other.header_text_),
      header_at_(other.header_at_),
      header_end_(other.header_end_),
      header_parts_(other.header_parts_),
      kind_(other.kind_) {
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

Table::Extra& Table::extra() {
    if (!extra_) extra_ = std::make_unique<Extra>();
    return *extra_;
}

std::span<const std::uint32_t> Table::index() const {
    return extra_ ? std::span<const std::uint32_t>(extra_->index) : std::span<const std::uint32_t>();
}

std::span<const Table::Removed> Table::removed() const {
    return extra_ ? std::span<const Removed>(extra_->removed) : std::span<const Removed>();
}

Entry* Table::find(std::string_view key) {
    const std::span<const std::uint32_t> index = this->index();
    if (index.empty()) {
        for (auto& entry : entries_)
            if (entry->key() == key) return entry.get();
        return nullptr;
    }
    const std::size_t mask = index.size() - 1;
    for (std::size_t slot = std::hash<std::string_view>{}(key) & mask; index[slot] != 0; slot = (slot + 1) & mask) {
        Entry* entry = entries_[index[slot] - 1].get();
        if (entry->key() == key) return entry;
    }
    return nullptr;
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
    return append(std::move(key), std::move(item)).item();
}

Entry& Table::append(std::string key, Item item) {
    // Most tables hold a few keys: room for them at once.
    if (entries_.empty()) entries_.reserve(4);
    entries_.push_back(std::make_unique<Entry>(std::move(key), std::move(item)));
    index_last();
    return *entries_.back();
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
        if (lines_here && entry.position_) {
            extra().removed.push_back({entry.position_, std::string(entry.decor()), true});
        }
    } else if (const Table* table = entry.item().as_table()) {
        record_places(*table, lines_here);
    } else if (const ArrayOfTables* tables = entry.item().as_array_of_tables()) {
        for (const Table& element : *tables) record_places(element, false);
    }
}

void Table::record_places(const Table& table, bool lines_here) {
    if (table.position_) extra().removed.push_back({table.position_, std::string(table.decor())});
    // The lines of a dotted table stand in the section around it; those of
    // any other table in its own section, taken out with it.
    const bool dotted = table.kind_ == TableKind::dotted;
    for (const Entry& entry : table) record_places(entry, dotted && lines_here);
}

void Table::reindex() {
    if (entries_.size() <= linear_limit) {
        if (extra_) extra_->index.clear();
        return;
    }
    std::vector<std::uint32_t>& index = extra().index;
    // At most half full, so that a look-up meets a free slot soon.
    index.assign(std::bit_ceil(2 * entries_.size()), 0);
    const std::size_t mask = index.size() - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t slot = std::hash<std::string_view>{}(entries_[i]->key()) & mask;
        while (index[slot] != 0) slot = (slot + 1) & mask;
        index[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

void Table::index_last() {
    if (entries_.size() <= linear_limit) return;
    if (2 * entries_.size() > index().size()) {
        reindex();
        return;
    }
    std::vector<std::uint32_t>& index = extra_->index;
    const std::size_t mask = index.size() - 1;
    std::size_t slot = std::hash<std::string_view>{}(entries_.back()->key()) & mask;
    while (index[slot] != 0) slot = (slot + 1) & mask;
    index[slot] = static_cast<std::uint32_t>(entries_.size());
}

void Table::carry_decor_from(const Table& old) {
    position_ = old.position_;
    header_text_ = old.header_text_;
    header_at_ = old.header_at_;
    header_end_ = old.header_end_;
    header_parts_ = old.header_parts_;
}

void Entry::set_decor(std::string_view decor) {
    const std::size_t old = key_at_;
    text_.replace(0, old, decor);
    key_at_ = decor.size();
    equals_at_ = equals_at_ - old + key_at_;
    suffix_at_ = suffix_at_ - old + key_at_;
}

}  // namespace toml
