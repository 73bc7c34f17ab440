// Rewriting the [mcp.<server>] part of mirthlode.toml. The file is edited as
// a TOML document: its other tables, comments, order, layout, a leading
// byte-order mark and "\r\n" line ends stay, and a file whose text would not
// change is not written. The caller holds the process lock.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "toml/item.h"
#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// What one server's part of the file is to hold.
struct McpSettingsEdit {
    std::string server;
    // When given, the `agents` list becomes exactly these names, in order;
    // otherwise a list already there stays.
    std::optional<std::vector<std::string>> agents;
    // Per agent, its Tweak, replacing the one there whole.
    std::vector<std::pair<std::string, toml::Table>> tweaks;
};

// A server whose part of the file could not be edited, and why.
struct McpSettingsRefusal {
    std::string server;
    std::string message;
};

// What write_mcp_settings did: the servers it refused, and the file as it
// was before, for putting it back.
struct McpSettingsWrite {
    std::vector<McpSettingsRefusal> refused;
    fs::path path;  // the file written, a link's target when mirthlode.toml is a link
    bool written = false;
    std::optional<std::string> previous;  // the old text; absent: there was no file
};

// Makes every edit, in order, and writes the file once. A server whose part
// cannot take its edit is refused and left as it was; the others are made.
// An error (the file cannot be read, parsed or written) leaves it untouched.
util::Result<McpSettingsWrite> write_mcp_settings(const fs::path& config_dir,
                                                  const std::vector<McpSettingsEdit>& edits);

// Puts the file back as it was before `write` (removes it when there was
// none): for a run whose later save failed, so that settings it wrote for
// servers it could not add do not outlive it.
util::Status<> undo_mcp_settings(const McpSettingsWrite& write);

// Takes mcp.<server>, with everything under it, out of the file.
util::Status<> remove_mcp_settings(const fs::path& config_dir, const std::string& server);

}  // namespace core
