#include "fanout/hooks.h"

#include <algorithm>
#include <utility>

#include "core/agent_files.h"
#include "core/agents.h"
#include "platform/platform.h"
#include "util/text.h"

namespace fanout {

namespace {

// The first entry with the command among the event's groups that have the
// matcher. The same command under another matcher is another hook.
const json::Value* find_entry(const json::Value& hooks, std::string_view event, std::string_view command,
                              std::string_view matcher) {
    const auto groups = hooks.find(std::string(event));
    if (groups == hooks.end() || !groups->is_array()) return nullptr;
    for (const json::Value& group : *groups) {
        if (!holds_hook_list(group) || group_matcher(group) != matcher) continue;
        for (const json::Value& entry : group.at("hooks")) {
            if (!entry.is_object()) continue;
            const auto found = entry.find("command");
            if (found != entry.end() && found->is_string() &&
                found->get_ref<const std::string&>() == command) {
                return &entry;
            }
        }
    }
    return nullptr;
}

HookState hook_state(const json::Value& hooks, const CommonsHook& hook, std::string_view event,
                     const json::Value& wanted) {
    const json::Value* found = find_entry(hooks, event, hook.command, hook.matcher.value_or(""));
    if (!found) return HookState::missing;
    return json::equal(*found, wanted) ? HookState::managed : HookState::drifted;
}

// Every entry with a text command that no Commons hook of the same event,
// command and matcher accounts for.
void plan_foreign(const core::Target& target, const fs::path& settings_path, std::string_view key,
                  const json::Value& hooks, const std::vector<CommonsHook>& commons,
                  std::vector<HookItem>& items) {
    for (const auto& member : hooks.items()) {
        const std::string& event = member.key();
        const json::Value& groups = member.value();
        if (!groups.is_array()) continue;
        for (const json::Value& group : groups) {
            if (!holds_hook_list(group)) continue;
            const std::string_view matcher = group_matcher(group);
            for (const json::Value& entry : group.at("hooks")) {
                if (!entry.is_object()) continue;
                const auto command = entry.find("command");
                if (command == entry.end() || !command->is_string()) continue;
                const std::string& text = command->get_ref<const std::string&>();
                const bool accounted =
                    std::any_of(commons.begin(), commons.end(), [&](const CommonsHook& hook) {
                        return agent_event_name(target.name, hook.event) == event && hook.command == text &&
                               hook.matcher.value_or("") == matcher;
                    });
                if (accounted) continue;
                items.push_back({target.name, event, foreign_command_label(text), settings_path,
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
    json::Value hooks = json::Value::object();
    if (const json::Value* found = root->is_object() && root->contains(key) ? &root->at(key) : nullptr) {
        if (!found->is_object()) {
            plan.settings_errors.push_back(
                core::left_untouched(settings_path, "`" + key + "` is not an object").message);
            return;
        }
        hooks = *found;
    }
    for (const CommonsHook& hook : commons) {
        const auto event = agent_event_name(target.name, hook.event);
        if (!event) {
            plan.items.push_back({target.name, hook.event, hook.command, settings_path, std::nullopt,
                                  std::nullopt, key, std::nullopt, HookState::unsupported});
            continue;
        }
        json::Value entry = hook_entry_json(hook);
        const HookState state = hook_state(hooks, hook, *event, entry);
        plan.items.push_back({target.name, hook.event, hook.command, settings_path, hook.matcher,
                              std::move(entry), key, std::string(*event), state});
        if (is_actionable(state)) {
            plan.items.back().read = std::shared_ptr<const core::AgentFileRead>(read, &read->value());
        }
    }
    plan_foreign(target, settings_path, key, hooks, commons, plan.items);
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
