// Taking the Commons hooks back out of an agent's hook settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fanout/commons_hooks.h"
#include "json/json.h"

namespace fanout {

struct RemovedHook {
    std::string event;  // the Commons name
    std::string command;
};

// Removes from `hooks` (the settings' hooks object) every entry holding the
// command of a Commons hook under that hook's event as `agent` names it,
// whatever its matcher or timeout. A group this leaves empty goes, and so
// does an event it leaves without groups; a group or an event list that was
// empty already stays, as does everything else, in its order. Returns
// each (event, command) taken out, in the order of `commons`.
std::vector<RemovedHook> remove_commons_hooks(json::Value& hooks, const std::vector<CommonsHook>& commons,
                                              std::string_view agent);

}  // namespace fanout
