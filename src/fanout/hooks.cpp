#include "fanout/hooks.h"

#include <unordered_map>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "platform/platform.h"
#include "platform/tasks.h"
#include "util/text.h"

namespace fanout {

namespace {

// Where the first entry of an event, matcher and command stands, and
// whether a Commons hook of the agent has that event, matcher and command.
struct IndexedEntry {
    const json::Value* first;
    bool accounted = false;
};

// The hook lists' entries by event, matcher and command, each key with the
// first entry a scan of the events' groups in order meets; and every entry
// with a text command, in that order. The same command under another
// matcher is another hook.
class EntryIndex {
public:
    using Node = std::pair<const HookKey, IndexedEntry>;

    EntryIndex(const json::Value& hooks, std::size_t entries) {
        index_.reserve(entries);
        order_.reserve(entries);
        for_each_entry(hooks, [&](const HookKey& key, const json::Value& entry) {
            order_.push_back(&*index_.try_emplace(key, IndexedEntry{&entry}).first);
        });
    }

    IndexedEntry* find(const HookKey& key) {
        const auto found = index_.find(key);
        return found == index_.end() ? nullptr : &found->second;
    }

    const std::vector<Node*>& in_order() const { return order_; }

    // Calls each(key, entry) for every entry with a text command, in order.
    template <class Each>
    static void for_each_entry(const json::Value& hooks, Each each) {
        for (const auto& [event, groups] : hooks.get_ref<const json::Value::object_t&>()) {
            if (!groups.is_array()) continue;
            for (const json::Value& group : groups) {
                if (!holds_hook_list(group)) continue;
                const std::string_view matcher = group_matcher(group);
                for (const json::Value& entry : group.at("hooks")) {
                    if (const std::string* command = entry_command(entry)) each(HookKey{event, matcher, *command}, entry);
                }
            }
        }
    }

private:
    std::unordered_map<HookKey, IndexedEntry, HookKeyHash> index_;
    std::vector<Node*> order_;
};

// True when the entry is what the hook writes: json::equal(entry,
// hook_entry_json(hook)), without building that entry for every hook.
bool is_hook_entry(const json::Value& entry, const CommonsHook& hook) {
    if (!entry.is_object() || entry.size() != (hook.timeout ? 3u : 2u)) return false;
    const auto type = entry.find("type");
    if (type == entry.end() || !type->is_string() || type->get_ref<const std::string&>() != "command") return false;
    const std::string* command = entry_command(entry);
    if (!command || *command != hook.command) return false;
    if (!hook.timeout) return true;
    const auto timeout = entry.find("timeout");
    return timeout != entry.end() && json::equal(*timeout, json::Value(*hook.timeout));
}

// An agent's hook settings as read before the Commons hooks are compared
// with them.
struct AgentSettings {
    fs::path path;
    core::AgentFileReads::Shared read;
    const json::Value* hooks = nullptr;  // nullptr: `error` says why they cannot be used
    std::string error;
    std::size_t entries = 0;  // entries with a text command
};

AgentSettings read_settings(const core::Target& target, const fs::path& home, core::AgentFileReads* reads) {
    static const json::Value none = json::Value::object();
    AgentSettings settings;
    settings.path = home / target.spec->hooks_file;
    settings.read = reads ? reads->read(settings.path, false)
                          : std::make_shared<util::Result<core::AgentFileRead>>(
                                core::read_agent_file(settings.path, false));
    if (!*settings.read) {
        settings.error = settings.read->error().message;
        return settings;
    }
    const std::string key(target.spec->hooks_key);
    const json::Value& root = (*settings.read)->document;
    const json::Value* found = root.is_object() && root.contains(key) ? &root.at(key) : &none;
    if (!found->is_object()) {
        settings.error = core::left_untouched(settings.path, "`" + key + "` is not an object").message;
        return settings;
    }
    settings.hooks = found;
    EntryIndex::for_each_entry(*found, [&](const HookKey&, const json::Value&) { ++settings.entries; });
    return settings;
}

// An item per Commons hook, then one per entry with a text command that no
// Commons hook of the same event, command and matcher accounts for.
// `entries` holds the entry each Commons hook writes, made for the first
// agent that needs it.
void plan_agent(const core::Target& target, const AgentSettings& settings, const std::vector<CommonsHook>& commons,
                bool keep_managed, std::vector<std::shared_ptr<const json::Value>>& entries,
                std::vector<HookItem>& items) {
    EntryIndex index(*settings.hooks, settings.entries);
    for (std::size_t i = 0; i < commons.size(); ++i) {
        const CommonsHook& hook = commons[i];
        const auto event = agent_event_name(target.name, hook.event);
        if (!event) {
            items.push_back({target.name, hook.event, hook.command, HookState::unsupported});
            continue;
        }
        const std::string_view matcher = hook.matcher ? std::string_view(*hook.matcher) : "";
        IndexedEntry* found = index.find(HookKey{*event, matcher, hook.command});
        HookState state = HookState::missing;
        if (found) {
            found->accounted = true;
            state = is_hook_entry(*found->first, hook) ? HookState::managed : HookState::drifted;
        }
        if (state == HookState::managed && !keep_managed) continue;
        items.push_back({target.name, hook.event, hook.command, state});
        if (!is_actionable(state)) continue;
        HookItem& item = items.back();
        item.settings_path = settings.path;
        item.matcher = hook.matcher;
        if (!entries[i]) entries[i] = std::make_shared<const json::Value>(hook_entry_json(hook));
        item.entry = entries[i];
        item.key = target.spec->hooks_key;
        item.agent_event = *event;
        item.read = std::shared_ptr<const core::AgentFileRead>(settings.read, &settings.read->value());
    }
    for (const EntryIndex::Node* node : index.in_order()) {
        if (node->second.accounted) continue;
        items.push_back({target.name, std::string(node->first.event), foreign_command_label(node->first.command),
                         HookState::foreign});
    }
}

}  // namespace

json::Value hook_entry_json(const CommonsHook& hook) {
    json::Value entry = json::Value::object();
    entry["type"] = "command";
    entry["command"] = hook.command;
    if (hook.timeout) entry["timeout"] = *hook.timeout;
    return entry;
}

std::string_view hook_state_word(HookState state) {
    switch (state) {
        case HookState::managed: return "managed";
        case HookState::missing: return "missing";
        case HookState::drifted: return "drifted";
        case HookState::unsupported: return "unsupported";
        case HookState::foreign: return "foreign";
    }
    return "";
}

bool is_actionable(HookState state) {
    return state == HookState::missing || state == HookState::drifted;
}

std::string hook_note(const HookItem& item) {
    switch (item.state) {
        case HookState::managed: return "";
        case HookState::missing: return "not in this agent's hooks yet";
        case HookState::drifted: return "differs from the Commons — will be restored";
        case HookState::unsupported: return item.agent + " has no " + item.event + " hook";
        case HookState::foreign: return "not in the Commons — left alone";
    }
    return "";
}

HookPlan plan_hooks(const fs::path& home, const std::vector<core::Target>& targets, const fs::path& hooks_dir,
                    bool keep_managed, core::AgentFileReads* reads) {
    HookPlan plan;
    if (!platform::is_directory(hooks_dir)) return plan;
    std::vector<const core::Target*> agents;
    for (const core::Target& target : targets) {
        if (target.spec && !target.spec->hooks_file.empty()) agents.push_back(&target);
    }
    // The Commons hooks and each agent's settings are read side by side.
    std::vector<CommonsHook> commons;
    std::vector<AgentSettings> settings(agents.size());
    platform::run_parallel(agents.size() + 1, [&](std::size_t i) {
        if (i == agents.size()) {
            commons = load_commons_hooks(hooks_dir, plan.errors);
            drop_repeated_hooks(commons, hooks_dir, plan.warnings);
        } else {
            settings[i] = read_settings(*agents[i], home, reads);
        }
    });
    // Then compared one agent after another, the items made in their place
    // in the plan: a machine with thousands of hooks has tens of thousands
    // of items, and each copy of them costs about as much as making them.
    std::size_t count = 0;
    for (const AgentSettings& read : settings) count += read.hooks ? commons.size() + read.entries : 0;
    plan.items.reserve(count);
    std::vector<std::shared_ptr<const json::Value>> entries(commons.size());
    for (std::size_t i = 0; i < agents.size(); ++i) {
        if (settings[i].hooks) {
            plan_agent(*agents[i], settings[i], commons, keep_managed, entries, plan.items);
        } else {
            plan.settings_errors.push_back(std::move(settings[i].error));
        }
    }
    return plan;
}

std::string foreign_command_label(std::string_view command) {
    const std::string_view text = util::trim_start(command);
    if (!text.empty() && (text.front() == '"' || text.front() == '\'')) {
        const auto close = text.find(text.front(), 1);
        if (close != std::string_view::npos) return std::string(text.substr(1, close - 1)) + " …";
    }
    const std::size_t end = util::find_white_space(text);
    const std::string word(text.substr(0, end));
    return util::trim_start(text.substr(end)).empty() ? word : word + " …";
}

std::string shown_command(std::string_view command) {
    if (util::char_count(command) <= 40) return std::string(command);
    return std::string(util::first_chars(command, 39)) + "…";
}

std::string hook_line(const HookItem& item) {
    return util::row_start(hook_state_word(item.state), 12) + item.event + " " +
           shown_command(item.command) + " → " + item.agent + " — " + hook_note(item);
}

}  // namespace fanout
