// Writing the missing and drifted hooks into agents' settings files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "fanout/hooks.h"
#include "util/result.h"

namespace fanout {

// The actionable items that go to one settings file, in plan order.
struct HookFileGroup {
    std::filesystem::path path;
    std::vector<const HookItem*> items;
};

// One group per settings file, in the plan order of their first items. The
// groups point into `items`, which must outlive them.
std::vector<HookFileGroup> group_actionable_hooks(const std::vector<HookItem>& items);
std::vector<HookFileGroup> group_actionable_hooks(std::vector<HookItem>&& items) = delete;

// Writes every hook of the group with one atomic write, or nothing at all:
// each earlier copy of a hook's command under its matcher leaves the event,
// and the entry joins the first group with that matcher. The error is the
// finished text to report.
util::Status<> apply_hook_group(const HookFileGroup& group);
// The text apply_hook_group would write were the file's text `text` (the
// text another edit of the same file is about to write), nothing written.
util::Result<std::string> hooks_written_into(const HookFileGroup& group, const std::string& text);

}  // namespace fanout
