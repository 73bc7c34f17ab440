// Grouping items by a key, the groups in the order their keys first appear.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

namespace util {

// The items that pass `keep`, grouped by `key` (a member pointer or a
// function of the item). The groups point into `items`.
template <class Item, class Keep, class Key>
std::vector<std::vector<const Item*>> group_in_order(const std::vector<Item>& items, Keep keep, Key key) {
    std::vector<std::vector<const Item*>> groups;
    for (const Item& item : items) {
        if (!std::invoke(keep, item)) continue;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const std::vector<const Item*>& g) {
            return std::invoke(key, *g.front()) == std::invoke(key, item);
        });
        if (group == groups.end()) {
            groups.push_back({&item});
        } else {
            group->push_back(&item);
        }
    }
    return groups;
}

}  // namespace util
