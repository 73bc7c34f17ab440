// Writing planned server entries into one agent's own configuration file,
// keeping everything else in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "mcp/plan.h"
#include "toml/document.h"
#include "util/result.h"

namespace mcp {

namespace fs = std::filesystem;

struct MergeOutcome {
    fs::path written;  // the file written; a link's target when the path is a link
    // The written file's permission bits, given only when group or others may
    // read it and an entry written holds values resolved from "${env:VAR}".
    std::optional<std::uint32_t> mode;
};

// A last edit of the text a merge is about to write (the hooks of the same
// settings file, say): the text to write instead, or why it cannot be made.
// Its outcome is the one a write of its own would meet: when it fails, the
// merge is written alone; when the write fails, it fails too.
using FurtherEdit = std::function<util::Result<std::string>(const std::string& text)>;
struct Further {
    FurtherEdit edit;
    std::optional<util::Status<>> outcome;  // set once the merge got as far as a text
};

// Inserts or replaces, under `servers_key`, the expected entry of every item
// that has one, in list order. A file that cannot be read, parsed or merged
// is not written; the error says why.
// It starts from `read` (the file as planning read and parsed it) when given
// and the file has not changed since; otherwise the file is read again.
util::Result<MergeOutcome> merge_servers_into_agent_file(const fs::path& path, std::string_view servers_key,
                                                         bool toml, const std::vector<const McpItem*>& items,
                                                         const core::AgentFileRead* read = nullptr,
                                                         Further* further = nullptr);
// The same, taking `read` over: when nothing else holds it any more, its
// document is merged into where it stands rather than copied first.
util::Result<MergeOutcome> merge_servers_into_agent_file(const fs::path& path, std::string_view servers_key,
                                                         bool toml, const std::vector<const McpItem*>& items,
                                                         std::shared_ptr<const core::AgentFileRead> read);

// Writes `removed`, the file's text once a removal took entries out of it,
// together with the merge of `merging` when given, in one write: the merge
// is made from `removed` as merge_servers_into_agent_file would make it from
// the file holding it. Each part's outcome is the one it would meet alone:
// a merge that fails leaves the removal written; a failed write fails both.
struct RemovalAndMerge {
    util::Status<> removal;
    std::optional<util::Result<MergeOutcome>> merge;  // with `merging` only
};
RemovalAndMerge write_removal_and_merge(const fs::path& path, std::string_view servers_key, bool toml,
                                        const std::string& removed, const std::vector<const McpItem*>* merging,
                                        Further* further = nullptr);

// The new text of a JSON agent file holding `document`.
util::Result<std::string> merge_into_json(const fs::path& path, json::Value document,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items);

// The new text of a TOML agent file whose current text is `text`.
util::Result<std::string> merge_into_toml(const fs::path& path, std::string_view text,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items);
// The same, with `text` already parsed, byte-order mark and all, into `parsed`.
util::Result<std::string> merge_into_toml(const fs::path& path, std::string_view text, toml::Document parsed,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items);

// "{file} has mode 0644 — it now holds resolved secrets and can be read by others"
std::string secrets_mode_warning(const fs::path& file, std::uint32_t mode);

}  // namespace mcp
