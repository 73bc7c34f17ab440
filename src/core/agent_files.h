// The coding agents' own configuration files (JSON, or TOML for codex): read
// whole, read the table under one top-level key, take one entry out of it.
// Every failure is a finished text for the caller to report; a file that
// cannot be read or parsed is never written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "platform/platform.h"
#include "toml/document.h"
#include "util/result.h"

namespace core {

namespace fs = std::filesystem;

// The file's text, byte-order mark and all; a missing file is the empty text.
util::Result<std::string> read_toml_document(const fs::path& path);

// The one JSON value the file holds; a missing or blank file is an empty object.
util::Result<json::Value> read_json_file(const fs::path& path);
// The same for `text`, as if the file at `path` held it.
util::Result<json::Value> parse_json_document(const fs::path& path, const std::string& text);

// The table under the top-level `key`, as an object with its entries in file
// order; empty when the file, the key or (for JSON) a top-level object is missing.
util::Result<json::Value> read_config_table(const fs::path& path, std::string_view key, bool toml);

// An agent's configuration file read once, for planning and then for a
// merge into it: its text, for JSON its parsed document, and its stamp.
struct AgentFileRead {
    bool toml = false;
    std::optional<platform::FileStamp> stamp;  // absent: there was no file
    std::string text;                          // TOML: the text, byte-order mark and all
    std::optional<toml::Document> parsed;      // TOML: the text parsed, when it parses
    json::Value document;                      // JSON: the document (missing or blank: an empty object)
};

// Reads and parses the file as read_config_table does, keeping all of it.
util::Result<AgentFileRead> read_agent_file(const fs::path& path, bool toml);
// The table under the top-level `key` of a file so read, as read_config_table gives it.
util::Result<json::Value> config_table_of(const fs::path& path, const AgentFileRead& read, std::string_view key);

// That table where it stands in the read, nothing copied or converted; valid
// while the read is. Neither member set: the table is empty (no file, no
// key, or for JSON no top-level object). Errors are config_table_of's.
struct ConfigTableView {
    const json::Value* json = nullptr;  // a JSON file's object
    const toml::Table* toml = nullptr;  // a TOML file's table
};
util::Result<ConfigTableView> config_table_view(const fs::path& path, const AgentFileRead& read,
                                                std::string_view key);
// True when the file at `path` is still the one `read` was taken from
// (or there is still none).
bool unchanged_since(const fs::path& path, const AgentFileRead& read);

// The agent files one plan reads: each read and parsed once, however many
// planners ask for it, one after another or side by side.
class AgentFileReads {
public:
    // Made changeable and handed out constant: a merge that ends up its
    // last holder takes its document over.
    using Shared = std::shared_ptr<const util::Result<AgentFileRead>>;
    // read_agent_file's result, shared by every caller that asks for the path.
    Shared read(const fs::path& path, bool toml);
    // Lets go of every file read: each lives on while a caller holds it.
    void forget_all();

private:
    std::mutex mutex_;
    std::map<std::pair<fs::path, bool>, std::shared_future<Shared>> reads_;
};

struct RemoveOutcome {
    bool removed = false;  // false: the entry was not there and nothing was written
    fs::path written;      // the file written, a link's target when `path` is a link
};

// Says whether the entry `name` of a table goes, given its value (for TOML,
// as read_config_table converts it). An empty test lets every entry go.
using EntryTest = std::function<bool(const std::string& name, const json::Value& entry)>;

struct RemovedEntries {
    std::vector<std::string> names;  // the entries removed, in the order asked; none: nothing was written
    fs::path written;                // the file written, a link's target when `path` is a link
};

// Changes a JSON document in place; true when it changed anything.
using DocumentEdit = std::function<bool(json::Value& document)>;

// What removing entries would leave, nothing written: the names removed
// and, when anything changed, the file's new text.
struct RemovalText {
    std::vector<std::string> names;
    std::optional<std::string> text;
};
util::Result<RemovalText> config_without_entries(const fs::path& path, std::string_view key, bool toml,
                                                 const std::vector<std::string>& names, const EntryTest& goes,
                                                 const DocumentEdit& also = {});

// Removes from the table under `key` every entry among `names` that `goes`
// says yes to, in one read of the file and at most one write of it. Names
// the table does not hold, and entries `goes` keeps, stay as they are. With
// no names the file is not read. `also`, for a JSON file only, changes the
// same document in that read and write (with or without names): the file
// is written when either changed it.
util::Result<RemovedEntries> remove_config_entries(const fs::path& path, std::string_view key, bool toml,
                                                   const std::vector<std::string>& names, const EntryTest& goes,
                                                   const DocumentEdit& also = {});

// Removes the entry `name` from the table under `key` and writes the file back.
util::Result<RemoveOutcome> remove_config_entry(const fs::path& path, std::string_view key, bool toml,
                                                std::string_view name);

// "invalid TOML (line {}, column {})" for a parse error at byte `offset` of
// `text`; both numbers count bytes from 1.
std::string invalid_toml_text(std::string_view text, std::size_t offset);

// "{path}: {problem} — left untouched", for a file that will not be written.
util::Error left_untouched(const fs::path& path, const std::string& problem);

// "cannot serialise {path}: {error}", for a document the JSON printer refuses.
std::string serialise_error(const fs::path& path, std::string_view error);

}  // namespace core
