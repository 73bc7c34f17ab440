#include "fanout/hook_apply.h"

#include <string>
#include <utility>

#include "core/agent_files.h"
#include "core/fsutil.h"
#include "util/group.h"

namespace fanout {

namespace {

// Adds the item's entry to its event: earlier copies of the command under
// the item's matcher go, the entry joins the first group with that matcher
// or a new group. The command under another matcher is not this hook's.
util::Status<> add_entry(json::Value& hooks, const HookItem& item, const std::filesystem::path& path) {
    const std::string& event = *item.agent_event;
    if (!hooks.contains(event)) hooks[event] = json::Value::array();
    json::Value& groups = hooks[event];
    if (!groups.is_array()) {
        return util::error(path.string() + ": `" + item.key + "." + event + "` is not a list");
    }
    const std::string_view matcher = item.matcher ? std::string_view(*item.matcher) : "";
    remove_hook_command(groups, json::Value(item.command), matcher);
    for (json::Value& group : groups) {
        if (holds_hook_list(group) && group_matcher(group) == matcher) {
            group["hooks"].push_back(*item.entry);
            return {};
        }
    }
    json::Value group = json::Value::object();
    if (item.matcher) group["matcher"] = *item.matcher;
    group["hooks"] = json::Value::array({*item.entry});
    groups.push_back(std::move(group));
    return {};
}

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

util::Status<> apply_hook_group(const HookFileGroup& group) {
    const fs::path& path = group.path;
    // The settings as planning read them, unless they changed since (an MCP
    // merge into the same file, say).
    const core::AgentFileRead* read = group.items.front()->read.get();
    auto root = read && !read->toml && core::unchanged_since(path, *read)
                    ? util::Result<json::Value>(read->document)
                    : core::read_json_file(path);
    if (!root) return root.error();
    if (!root->is_object()) {
        return util::error(path.string() + " does not hold a JSON object — left untouched");
    }
    const std::string& key = group.items.front()->key;
    json::Value hooks = root->contains(key) ? root->at(key) : json::Value::object();
    if (!hooks.is_object()) {
        return core::left_untouched(path, "`" + key + "` is not an object");
    }
    for (const HookItem* item : group.items) {
        if (auto added = add_entry(hooks, *item, path); !added) return added;
    }
    (*root)[key] = std::move(hooks);
    auto text = json::print_pretty(*root);
    if (!text) return util::error(core::serialise_error(path, text.error().message));
    if (auto written = core::write_atomic(path, *text); !written) {
        return util::error("cannot write " + path.string() + ": " + written.error().message());
    }
    return {};
}

}  // namespace fanout
