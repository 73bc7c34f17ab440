#include "fanout/hooks.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "platform/platform.h"
#include "util/text.h"

namespace fanout {

namespace {

// The hook lists' entries by event, matcher and command: the first entry
// of each, as a scan of the events' groups in order meets them. The same
// command under another matcher is another hook.
using EntryIndex = std::unordered_map<HookKey, const json::Value*, HookKeyHash>;

EntryIndex index_entries(const json::Value& hooks) {
    EntryIndex index;
    for (const auto& [event, groups] : hooks.get_ref<const json::Value::object_t&>()) {
        if (!groups.is_array()) continue;
        for (const json::Value& group : groups) {
            if (!holds_hook_list(group)) continue;
            const std::string_view matcher = group_matcher(group);
            for (const json::Value& entry : group.at("hooks")) {
                if (const std::string* command = entry_command(entry)) {
                    index.try_emplace(HookKey{event, matcher, *command}, &entry);
                }
            }
        }
    }
    return index;
}

HookState hook_state(const EntryIndex& index, const CommonsHook& hook, std::string_view event,
                     const json::Value& wanted) {
    const std::string_view matcher = hook.matcher ? std::string_view(*hook.matcher) : "";
    const auto found = index.find(HookKey{event, matcher, hook.command});
    if (found == index.end()) return HookState::missing;
    return json::equal(*found->second, wanted) ? HookState::managed : HookState::drifted;
}

// Every entry with a text command that no Commons hook of the same event,
// command and matcher accounts for.
void plan_foreign(const core::Target& target, const fs::path& settings_path, std::string_view key,
                  const json::Value& hooks, const std::vector<CommonsHook>& commons,
                  std::vector<HookItem>& items) {
    std::unordered_set<HookKey, HookKeyHash> accounted;
    for (const CommonsHook& hook : commons) {
        const auto event = agent_event_name(target.name, hook.event);
        const std::string_view matcher = hook.matcher ? std::string_view(*hook.matcher) : "";
        if (event) accounted.insert(HookKey{*event, matcher, hook.command});
    }
    for (const auto& [event, groups] : hooks.get_ref<const json::Value::object_t&>()) {
        if (!groups.is_array()) continue;
        for (const json::Value& group : groups) {
            if (!holds_hook_list(group)) continue;
            const std::string_view matcher = group_matcher(group);
            for (const json::Value& entry : group.at("hooks")) {
                const std::string* command = entry_command(entry);
                if (!command || accounted.contains(HookKey{event, matcher, *command})) continue;
                items.push_back({target.name, event, foreign_command_label(*command), settings_path,
                                 std::nullopt, std::nullopt, std::string(key), std::nullopt,
                                 HookState::foreign});
            }
        }
    }
}

void plan_agent(const core::Target& target, const fs::path& home,
                const std::vector<CommonsHook>& commons, HookPlan& plan, core::AgentFileReads* reads) {
    const fs::path settings_path = home / target.spec->hooks_file;
    const std::string key(target.spec->hooks_key);
    const core::AgentFileReads::Shared read =
        reads ? reads->read(settings_path, false)
              : std::make_shared<const util::Result<core::AgentFileRead>>(core::read_agent_file(settings_path, false));
    if (!*read) {
        plan.settings_errors.push_back(read->error().message);
        return;
    }
    const json::Value* root = &(*read)->document;
    const json::Value none = json::Value::object();
    const json::Value* hooks = &none;
    if (const json::Value* found = root->is_object() && root->contains(key) ? &root->at(key) : nullptr) {
        if (!found->is_object()) {
            plan.settings_errors.push_back(
                core::left_untouched(settings_path, "`" + key + "` is not an object").message);
            return;
        }
        hooks = found;
    }
    const EntryIndex index = index_entries(*hooks);
    for (const CommonsHook& hook : commons) {
        const auto event = agent_event_name(target.name, hook.event);
        if (!event) {
            plan.items.push_back({target.name, hook.event, hook.command, settings_path, std::nullopt,
                                  std::nullopt, key, std::nullopt, HookState::unsupported});
            continue;
        }
        json::Value entry = hook_entry_json(hook);
        const HookState state = hook_state(index, hook, *event, entry);
        plan.items.push_back({target.name, hook.event, hook.command, settings_path, hook.matcher,
                              std::move(entry), key, std::string(*event), state});
        if (is_actionable(state)) {
            plan.items.back().read = std::shared_ptr<const core::AgentFileRead>(read, &read->value());
        }
    }
    plan_foreign(target, settings_path, key, *hooks, commons, plan.items);
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
                    core::AgentFileReads* reads) {
    HookPlan plan;
    if (!platform::is_directory(hooks_dir)) return plan;
    std::vector<CommonsHook> commons = load_commons_hooks(hooks_dir, plan.errors);
    drop_repeated_hooks(commons, hooks_dir, plan.warnings);
    for (const core::Target& target : targets) {
        if (target.spec && !target.spec->hooks_file.empty()) plan_agent(target, home, commons, plan, reads);
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
