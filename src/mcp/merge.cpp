#include "mcp/merge.h"

#include <cstdio>
#include <utility>

#include "core/agent_files.h"
#include "core/fsutil.h"
#include "platform/platform.h"

namespace mcp {

namespace {

constexpr unsigned readable_by_group_or_others = 0044;

bool writes_resolved_values(const std::vector<const McpItem*>& items) {
    for (const McpItem* item : items) {
        if (item->expected && item->resolved) return true;
    }
    return false;
}

// The file's new text, from its current content. With `own` (the same read
// as `read`, held by nothing else) the parsed document is taken over.
util::Result<std::string> merged_text(const fs::path& path, std::string_view servers_key, bool toml,
                                      const std::vector<const McpItem*>& items, const core::AgentFileRead* read,
                                      core::AgentFileRead* own = nullptr) {
    if (read && read->toml == toml && core::unchanged_since(path, *read)) {
        if (toml && read->parsed) {
            if (own) return merge_into_toml(path, read->text, std::move(*own->parsed), servers_key, items);
            return merge_into_toml(path, read->text, *read->parsed, servers_key, items);
        }
        if (toml) return merge_into_toml(path, read->text, servers_key, items);
        if (own) return merge_into_json(path, std::move(own->document), servers_key, items);
        return merge_into_json(path, read->document, servers_key, items);
    }
    if (toml) {
        auto text = core::read_toml_document(path);
        if (!text) return text.error();
        return merge_into_toml(path, *text, servers_key, items);
    }
    auto document = core::read_json_file(path);
    if (!document) return document.error();
    return merge_into_json(path, std::move(*document), servers_key, items);
}

// Writes `bytes` into place, edited further first when asked: the further
// edit's outcome is then the write's. Gives the file written.
util::Result<fs::path> write_edited(const fs::path& path, std::string bytes, Further* further,
                                    core::WriteOptions options = {}) {
    if (further && further->edit) {
        auto edited = further->edit(bytes);
        further->outcome = edited ? util::Status<>() : util::Status<>(edited.error());
        if (edited) bytes = std::move(*edited);
    }
    auto written = core::write_atomic(path, bytes, options);
    if (!written) {
        util::Error failed = util::error("cannot write " + path.string() + ": " + written.error().message());
        if (further && further->outcome && *further->outcome) further->outcome = failed;
        return failed;
    }
    return std::move(*written);
}

// Writes the merged text, `bytes`, into place, edited further when asked.
util::Result<MergeOutcome> write_merged(const fs::path& path, const std::vector<const McpItem*>& items,
                                        util::Result<std::string> bytes, Further* further = nullptr) {
    if (!bytes) return bytes.error();
    // A file made here to hold resolved secrets is readable by its owner only.
    const bool secrets = writes_resolved_values(items);
    auto written = write_edited(path, std::move(*bytes), further, {.new_file_mode = secrets ? 0600u : 0666u});
    if (!written) return written.error();
    MergeOutcome outcome{*written, std::nullopt};
    if (secrets) {
        auto meta = platform::metadata(*written);
        if (meta && (meta->mode & readable_by_group_or_others)) outcome.mode = meta->mode;
    }
    return outcome;
}

}  // namespace

RemovalAndMerge write_removal_and_merge(const fs::path& path, std::string_view servers_key, bool toml,
                                        const std::string& removed, const std::vector<const McpItem*>* merging,
                                        Further* further) {
    auto write_removal = [&](Further* then) -> util::Status<> {
        if (auto written = write_edited(path, removed, then); !written) return written.error();
        return {};
    };
    if (!merging) return {write_removal(further), std::nullopt};
    auto text = [&]() -> util::Result<std::string> {
        if (toml) return merge_into_toml(path, removed, servers_key, *merging);
        auto document = core::parse_json_document(path, removed);
        if (!document) return document.error();
        return merge_into_json(path, std::move(*document), servers_key, *merging);
    }();
    // A merge that fails is written without the further edit, which then
    // meets the file as it would on its own.
    if (!text) return {write_removal(nullptr), util::Result<MergeOutcome>(text.error())};
    auto merged = write_merged(path, *merging, std::move(*text), further);
    if (!merged) return {merged.error(), util::Result<MergeOutcome>(merged.error())};
    return {{}, std::move(merged)};
}

util::Result<MergeOutcome> merge_servers_into_agent_file(const fs::path& path, std::string_view servers_key,
                                                         bool toml, const std::vector<const McpItem*>& items,
                                                         const core::AgentFileRead* read, Further* further) {
    return write_merged(path, items, merged_text(path, servers_key, toml, items, read), further);
}

util::Result<MergeOutcome> merge_servers_into_agent_file(const fs::path& path, std::string_view servers_key,
                                                         bool toml, const std::vector<const McpItem*>& items,
                                                         std::shared_ptr<const core::AgentFileRead> read) {
    // Reads are made as changeable objects and only handed out as constant
    // ones: the last holder may change its own.
    core::AgentFileRead* own = read.use_count() == 1 ? const_cast<core::AgentFileRead*>(read.get()) : nullptr;
    return write_merged(path, items, merged_text(path, servers_key, toml, items, read.get(), own));
}

std::string secrets_mode_warning(const fs::path& file, std::uint32_t mode) {
    char octal[16];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    return file.string() + " has mode " + octal + " — it now holds resolved secrets and can be read by others";
}

}  // namespace mcp
