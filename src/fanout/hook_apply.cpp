#include "fanout/hook_apply.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/agent_files.h"
#include "core/fsutil.h"
#include "util/group.h"

namespace fanout {

namespace {

// A group of one event as the file's items edit it: its entries as they
// were, those taken out, and those that joined at its end.
struct GroupEdit {
    json::Value* group = nullptr;       // nullptr: a group the edit adds
    std::optional<std::string> matcher;  // an added group's "matcher", when its item has one
    std::string_view match;             // the matcher entries are matched under
    std::size_t kept = 0;               // its entries not taken out
    std::vector<bool> taken;            // per entry: the entries as they were, then those that joined
    std::vector<const json::Value*> joined;
    bool dropped = false;  // emptied by taking entries out

    std::size_t original() const { return taken.size() - joined.size(); }
};

// The groups of an event holding one matcher, in list order; the ones
// before `first` are dropped.
struct MatcherGroups {
    std::vector<std::size_t> groups;
    std::size_t first = 0;
};

struct EventEdit {
    std::string_view name;
    json::Value* groups = nullptr;  // nullptr: the event is new to the settings
    std::vector<GroupEdit> edits;
    std::unordered_map<std::string_view, MatcherGroups> by_matcher;
};

struct EntrySlot {
    std::size_t event;
    std::size_t group;
    std::size_t entry;
};

// Adds each item's entry to its event, as one pass per item would: earlier
// copies of the command under the item's matcher go, a group they empty
// goes too (a group that was empty already stays), and the entry joins the
// first group left with that matcher or a new group at the end. The command
// under another matcher is not this hook's. The entries are found through
// an index of the events' entries and the list is built once at the end,
// so the work grows with the file and the items, not their product.
class HookEdit {
public:
    HookEdit(json::Value& hooks, const std::filesystem::path& path) : hooks_(hooks), path_(path) {}

    util::Status<> add(const HookItem& item) {
        auto event = event_edit(item);
        if (!event) return event.error();
        EventEdit& edit = events_[*event];
        const std::string_view matcher = item.matcher ? std::string_view(*item.matcher) : "";
        if (const auto found = slots_.find(HookKey{edit.name, matcher, item.command}); found != slots_.end()) {
            for (const EntrySlot& slot : found->second) take(events_[slot.event].edits[slot.group], slot.entry);
            found->second.clear();
        }
        MatcherGroups& groups = edit.by_matcher[matcher];
        while (groups.first < groups.groups.size() && edit.edits[groups.groups[groups.first]].dropped) {
            ++groups.first;
        }
        if (groups.first == groups.groups.size()) {
            groups.groups.push_back(edit.edits.size());
            GroupEdit added;
            added.matcher = item.matcher;
            added.match = matcher;
            edit.edits.push_back(std::move(added));
        }
        const std::size_t index = groups.groups[groups.first];
        GroupEdit& group = edit.edits[index];
        group.joined.push_back(&*item.entry);
        group.taken.push_back(false);
        ++group.kept;
        slots_[HookKey{edit.name, group.match, item.command}].push_back({*event, index, group.taken.size() - 1});
        return {};
    }

    // Writes the edited lists into the hooks object: the events it had keep
    // their places, new ones follow in the order the items first named them.
    void finish() && {
        for (EventEdit& edit : events_) {
            if (edit.groups) *edit.groups = build(edit);
        }
        for (EventEdit& edit : events_) {
            if (!edit.groups) hooks_[std::string(edit.name)] = build(edit);
        }
    }

private:
    util::Result<std::size_t> event_edit(const HookItem& item) {
        const std::string_view name = *item.agent_event;
        if (const auto known = event_index_.find(name); known != event_index_.end()) return known->second;
        EventEdit edit;
        edit.name = name;
        if (const auto found = hooks_.find(std::string(name)); found != hooks_.end()) {
            if (!found->is_array()) {
                return util::error(path_.string() + ": `" + std::string(item.key) + "." + std::string(name) +
                                   "` is not a list");
            }
            edit.groups = &*found;
        }
        event_index_.emplace(edit.name, events_.size());
        events_.push_back(std::move(edit));
        if (events_.back().groups) index_event(events_.size() - 1);
        return events_.size() - 1;
    }

    void index_event(std::size_t event) {
        EventEdit& edit = events_[event];
        edit.edits.reserve(edit.groups->size());
        for (json::Value& group : *edit.groups) {
            const std::size_t index = edit.edits.size();
            GroupEdit& state = edit.edits.emplace_back();
            state.group = &group;
            if (!holds_hook_list(group)) continue;
            state.match = group_matcher(group);
            const json::Value& entries = group.at("hooks");
            state.taken.assign(entries.size(), false);
            state.kept = entries.size();
            edit.by_matcher[state.match].groups.push_back(index);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (const std::string* command = entry_command(entries[i])) {
                    slots_[HookKey{edit.name, state.match, *command}].push_back({event, index, i});
                }
            }
        }
    }

    static void take(GroupEdit& group, std::size_t entry) {
        if (group.taken[entry]) return;
        group.taken[entry] = true;
        if (--group.kept == 0) group.dropped = true;
    }

    static json::Value build(EventEdit& edit) {
        json::Value groups = json::Value::array();
        for (GroupEdit& state : edit.edits) {
            if (state.dropped) continue;
            if (!state.group) {
                json::Value group = json::Value::object();
                if (state.matcher) group["matcher"] = *state.matcher;
                group["hooks"] = entries_of(state, nullptr);
                groups.push_back(std::move(group));
                continue;
            }
            json::Value& group = *state.group;
            if (state.kept != state.taken.size()) group["hooks"] = entries_of(state, &group["hooks"]);
            else if (!state.joined.empty()) {
                for (const json::Value* joined : state.joined) group["hooks"].push_back(*joined);
            }
            groups.push_back(std::move(group));
        }
        return groups;
    }

    // The entries left of those the group had, then those that joined it.
    static json::Value entries_of(const GroupEdit& state, json::Value* had) {
        json::Value entries = json::Value::array();
        const std::size_t original = state.original();
        for (std::size_t i = 0; i < original; ++i) {
            if (!state.taken[i]) entries.push_back(std::move((*had)[i]));
        }
        for (std::size_t i = 0; i < state.joined.size(); ++i) {
            if (!state.taken[original + i]) entries.push_back(*state.joined[i]);
        }
        return entries;
    }

    json::Value& hooks_;
    const std::filesystem::path& path_;
    std::vector<EventEdit> events_;
    std::unordered_map<std::string_view, std::size_t> event_index_;
    std::unordered_map<HookKey, std::vector<EntrySlot>, HookKeyHash> slots_;
};

}  // namespace

std::vector<HookFileGroup> group_actionable_hooks(const std::vector<HookItem>& items) {
    auto actionable = [](const HookItem& item) { return is_actionable(item.state); };
    std::vector<HookFileGroup> groups;
    for (auto& group : util::group_in_order(items, actionable, &HookItem::settings_path)) {
        fs::path path = group.front()->settings_path;
        groups.push_back({std::move(path), std::move(group)});
    }
    return groups;
}

namespace {

// The settings text with the group's hooks written into `root`, the
// document the file holds.
util::Result<std::string> with_hooks(const HookFileGroup& group, util::Result<json::Value> root) {
    const fs::path& path = group.path;
    if (!root) return root.error();
    if (!root->is_object()) {
        return util::error(path.string() + " does not hold a JSON object — left untouched");
    }
    const std::string key(group.items.front()->key);
    json::Value hooks = root->contains(key) ? std::move(root->at(key)) : json::Value::object();
    if (!hooks.is_object()) {
        return core::left_untouched(path, "`" + key + "` is not an object");
    }
    HookEdit edit(hooks, path);
    for (const HookItem* item : group.items) {
        if (auto added = edit.add(*item); !added) return added.error();
    }
    std::move(edit).finish();
    (*root)[key] = std::move(hooks);
    auto text = json::print_pretty(*root);
    if (!text) return util::error(core::serialise_error(path, text.error().message));
    return std::move(*text);
}

}  // namespace

util::Status<> apply_hook_group(const HookFileGroup& group) {
    const fs::path& path = group.path;
    // The settings as planning read them, unless they changed since (an MCP
    // merge into the same file, say).
    const core::AgentFileRead* read = group.items.front()->read.get();
    auto text = with_hooks(group, read && !read->toml && core::unchanged_since(path, *read)
                                      ? util::Result<json::Value>(read->document)
                                      : core::read_json_file(path));
    if (!text) return text.error();
    if (auto written = core::write_atomic(path, *text); !written) {
        return util::error("cannot write " + path.string() + ": " + written.error().message());
    }
    return {};
}

util::Result<std::string> hooks_written_into(const HookFileGroup& group, const std::string& text) {
    return with_hooks(group, core::parse_json_document(group.path, text));
}

}  // namespace fanout
