// The plan that compares the Commons hooks with the hook lists in agents'
// JSON settings, and how sync lists its items.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agent_files.h"
#include "core/agents.h"
#include "json/json.h"
#include "fanout/commons_hooks.h"
#include "fanout/hook_settings.h"

namespace fanout {

namespace fs = std::filesystem;

// {"type": "command", "command": ..., "timeout": ... when set}.
json::Value hook_entry_json(const CommonsHook& hook);

enum class HookState : std::uint8_t { managed, missing, drifted, unsupported, foreign };

std::string_view hook_state_word(HookState state);
// Missing and drifted hooks are written by sync.
bool is_actionable(HookState state);

struct HookItem {
    std::string agent;
    std::string event;    // the Commons name; the settings' key for a foreign entry
    std::string command;  // a foreign entry's label
    HookState state;
    // Missing and drifted items only, for the write: the settings file, the
    // hook's matcher and entry (shared by the items of one hook), the key
    // holding the hooks, the event as the agent names it, and the settings
    // as planning read them (shared by the items of one file). Sync writes
    // nothing for the other items, and a machine may have tens of thousands
    // of them.
    fs::path settings_path = {};
    std::optional<std::string> matcher = std::nullopt;
    std::shared_ptr<const json::Value> entry = nullptr;
    std::string_view key = {};
    std::optional<std::string_view> agent_event = std::nullopt;
    std::shared_ptr<const core::AgentFileRead> read = nullptr;
};

struct HookPlan {
    std::vector<HookItem> items;
    std::vector<std::string> settings_errors;  // per agent; that agent has no items
    std::vector<std::string> errors;           // Commons hook files; these block sync
    std::vector<std::string> warnings;         // Commons hooks that are passed over
};

std::string hook_note(const HookItem& item);

// Reads the Commons hooks under `hooks_dir` and the settings under `home` of
// the hook-taking agents among `targets`; changes nothing. Without
// `keep_managed` the plan holds no item whose state is managed. The
// settings are read through `reads` when given.
HookPlan plan_hooks(const fs::path& home, const std::vector<core::Target>& targets, const fs::path& hooks_dir,
                    bool keep_managed = true, core::AgentFileReads* reads = nullptr);

// What a listing shows of an agent's own command: the quoted program or the
// first word, with " …" when more follows.
std::string foreign_command_label(std::string_view command);

// The command whole up to 40 characters, else its first 39 and "…".
std::string shown_command(std::string_view command);

// "  {state:12} {event} {command} → {agent} — {note}", as sync lists an item.
std::string hook_line(const HookItem& item);

}  // namespace fanout
