// Replacing the content of a table written as dotted keys, or as an inline
// table, without moving it or losing the comments around it.
#include <algorithm>
#include <utility>
#include <vector>

#include "toml/item.h"

namespace toml {

namespace {

// The key/value lines of a dotted table and of the dotted tables under it.
void lines_of(Table& table, std::vector<Entry*>& lines);

}  // namespace

Value inline_table_of(const Table& table) {
    InlineTable members;
    for (const Entry& entry : table) {
        if (const Value* value = entry.item().as_value()) members.push_back(entry.key(), *value);
        else if (const Table* child = entry.item().as_table()) members.push_back(entry.key(), inline_table_of(*child));
    }
    return Value::inline_table(std::move(members));
}

void Table::replace_lines(const Table& replacement, std::uint64_t after, std::vector<Removed>& removed) {
    auto drop = [&](std::string_view key) {
        Entry* entry = find(key);
        if (!entry) return;
        if (entry->item().is_value()) {
            removed.push_back({entry->position_, std::string(entry->decor())});
        } else if (Table* child = entry->item().as_table(); child && child->kind_ == TableKind::dotted) {
            std::vector<Entry*> lines;
            lines_of(*child, lines);
            for (Entry* line : lines) removed.push_back({line->position_, std::string(line->decor())});
        }
        remove(key);
    };
    auto add_line = [&](const std::string& key, Value value) {
        set(key, Item(std::move(value)));
        find(key)->position_ = after;
    };

    std::vector<std::string> gone;
    for (const auto& entry : entries_) {
        if (!replacement.find(entry->key())) gone.push_back(entry->key());
    }
    for (const std::string& key : gone) drop(key);

    for (const Entry& wanted : replacement) {
        const std::string& key = wanted.key();
        Entry* entry = find(key);
        Table* own = entry ? entry->item().as_table() : nullptr;
        if (const Value* value = wanted.item().as_value()) {
            if (entry && entry->item().is_value()) {
                set(key, Item(*value));
            } else {
                drop(key);
                add_line(key, *value);
            }
        } else if (const Table* table = wanted.item().as_table()) {
            if (own && own->kind_ == TableKind::dotted) {
                if (!table->empty()) {
                    own->replace_lines(*table, after, removed);
                } else {
                    // An empty dotted table would write no line at all.
                    drop(key);
                    add_line(key, inline_table_of(*table));
                }
            } else if (own) {
                Table copy = *table;
                copy.carry_decor_from(*own);
                set(key, Item(std::move(copy)));
            } else if (entry) {
                set(key, Item(inline_table_of(*table)));
            } else {
                add_line(key, inline_table_of(*table));
            }
        } else if (!entry) {
            set(key, wanted.item());
        }
    }
}

void Table::replace_dotted(const Table& replacement) {
    std::vector<Entry*> lines;
    lines_of(*this, lines);
    std::uint64_t after = 0;
    for (const Entry* line : lines) after = std::max(after, line->position_);

    std::vector<Removed> removed;
    replace_lines(replacement, after, removed);

    // The comments above a line that went stay above the line that now
    // comes first after its place.
    lines.clear();
    lines_of(*this, lines);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Entry* a, const Entry* b) { return a->position_ < b->position_; });
    std::stable_sort(removed.begin(), removed.end(),
                     [](const Removed& a, const Removed& b) { return a.position > b.position; });
    for (const Removed& line : removed) {
        if (line.decor.empty()) continue;
        auto next = std::find_if(lines.begin(), lines.end(),
                                 [&](const Entry* entry) { return entry->position_ >= line.position; });
        if (next != lines.end()) (*next)->set_decor(line.decor + std::string((*next)->decor()));
    }
}

Item& Table::set_keeping_form(std::string key, Table table) {
    Entry* entry = find(key);
    Table* old = entry ? entry->item().as_table() : nullptr;
    if (old && old->kind_ == TableKind::dotted) {
        if (!table.empty()) {
            old->replace_dotted(table);
            return entry->item();
        }
        // An empty dotted table would write no line at all: one line in the
        // place of the first, with the comments of all of them.
        std::vector<Entry*> lines;
        lines_of(*old, lines);
        std::stable_sort(lines.begin(), lines.end(),
                         [](const Entry* a, const Entry* b) { return a->position_ < b->position_; });
        std::string decor;
        for (const Entry* line : lines) decor += line->decor();
        const std::uint64_t position = lines.empty() ? 0 : lines.front()->position_;
        remove(key);
        Item& item = set(key, Item(inline_table_of(table)));
        Entry* made = find(key);
        made->position_ = position;
        made->set_decor(decor);
        return item;
    }
    if (entry && entry->item().is_value()) return set(std::move(key), Item(inline_table_of(table)));
    if (old) table.carry_decor_from(*old);
    return set(std::move(key), Item(std::move(table)));
}

namespace {

void lines_of(Table& table, std::vector<Entry*>& lines) {
    for (Entry& entry : table) {
        if (entry.item().is_value()) {
            lines.push_back(&entry);
        } else if (Table* child = entry.item().as_table(); child && child->kind() == TableKind::dotted) {
            lines_of(*child, lines);
        }
    }
}

}  // namespace

}  // namespace toml
