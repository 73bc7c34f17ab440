// Rewriting the [mcp.<server>] part of mirthlode.toml. The file is edited as
// a TOML document: its other tables, comments, order, layout, a leading
// byte-order mark and "\r\n" line ends stay, and a file whose text would not
// change is not written. The caller holds the process lock.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "toml/item.h"
#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// The server's settings as a save found them, before its edit.
struct McpSettingsBefore {
    bool had_table = false;             // mcp.<server> was there
    std::optional<toml::Value> agents;  // its `agents` value, as written
    bool implicit = false;              // it had no header line of its own
};

// What a save does to the server's `agents` list.
struct AgentsEdit {
    enum class Kind {
        keep,     // a list already there stays
        replace,  // the list becomes exactly `names`, in order
        restore,  // the list goes back to `before.agents`; without one it goes,
                  // and a server table that `before` did not have goes with it
                  // when nothing else is left in it
    };
    Kind kind = Kind::keep;
    std::vector<std::string> names;
    McpSettingsBefore before;
};

// Edits mcp.<server>: its `agents` list as `agents` says, and, when `tweak`
// is given, the Tweak of `agent` replaced whole by it. Returns what was there
// before the edit.
util::Result<McpSettingsBefore> write_mcp_settings(const fs::path& config_dir, const std::string& server,
                                                   const AgentsEdit& agents, const toml::Table* tweak,
                                                   const std::string& agent);

// Takes mcp.<server>, with everything under it, out of the file.
util::Status<> remove_mcp_settings(const fs::path& config_dir, const std::string& server);

}  // namespace core
