// An agent's server entry, spelled in its dialect, read back into the
// standard shape of the Commons.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/agents.h"
#include "json/json.h"
#include "util/result.h"

namespace mcp {

struct ReadBackServer {
    json::Value server;               // the standard keys, in standard order
    json::Value tweak;                // what has no place there, in the entry's order
    std::vector<std::string> notes;   // for the user, in the order made
};

// Maps the dialect's keys back to the standard ones; every other key of the
// entry becomes a Tweak key (null ones are dropped, with a note). Fails only
// for an entry that is not an object.
util::Result<ReadBackServer> read_back_server(std::string_view server_name, const json::Value& entry,
                                              core::McpDialect dialect);

}  // namespace mcp
