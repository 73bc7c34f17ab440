// The Commons hook files, hooks/<Event>.toml: the events they may name and
// the hooks they hold.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace fanout {

namespace fs = std::filesystem;

struct HookEvent {
    std::string_view name;                    // in the Commons and most agents
    std::optional<std::string_view> gemini;   // none: gemini has no such event
};

inline constexpr std::array<HookEvent, 8> hook_events = {{
    {"SessionStart", "SessionStart"},
    {"Stop", "AfterAgent"},
    {"PreToolUse", "BeforeTool"},
    {"PostToolUse", "AfterTool"},
    {"Notification", "Notification"},
    {"UserPromptSubmit", std::nullopt},
    {"SubagentStop", std::nullopt},
    {"PreCompact", "PreCompress"},
}};

// The event's name in the agent's settings; none when the agent lacks it or
// the name is no event.
std::optional<std::string_view> agent_event_name(std::string_view agent, std::string_view event);

struct CommonsHook {
    std::string event;  // the hook file's stem
    std::string command;
    std::optional<std::string> matcher;
    std::optional<std::int64_t> timeout;
};

// Paths of the directory's entries whose extension is exactly "toml", in
// listing order.
util::IoResult<std::vector<fs::path>> list_hook_files(const fs::path& dir);

// Every hook of every valid file in the directory `dir`, files in name order.
// A file with any problem adds one text to `errors` and gives no hooks.
std::vector<CommonsHook> load_commons_hooks(const fs::path& dir, std::vector<std::string>& errors);

// Keeps the first of the hooks of one event with the same command and
// matcher (an absent matcher is the empty one): an agent's settings hold a
// command once per matcher. Adds one warning per repeated pair to `warnings`.
void drop_repeated_hooks(std::vector<CommonsHook>& hooks, const fs::path& dir,
                         std::vector<std::string>& warnings);

}  // namespace fanout
