#include <string>
#include <unordered_map>
#include <utility>

#include "core/agent_files.h"
#include "mcp/merge.h"
#include "mcp/toml_convert.h"
#include "toml/toml.h"
#include "util/text.h"
#include "util/utf8.h"

namespace mcp {

namespace {

using core::left_untouched;
using util::byte_order_mark;

struct NamedEntry {
    std::string name;
    const json::Value* entry;
};

// One entry per name, at the name's first position, holding its last entry.
std::vector<NamedEntry> collect_entries(const std::vector<const McpItem*>& items) {
    std::vector<NamedEntry> entries;
    std::unordered_map<std::string, std::size_t> at;
    for (const McpItem* item : items) {
        if (!item->expected) continue;
        auto [found, added] = at.emplace(item->server, entries.size());
        if (added) {
            entries.push_back({item->server, &*item->expected});
        } else {
            entries[found->second].entry = &*item->expected;
        }
    }
    return entries;
}

}  // namespace

namespace {

// Merges the entries into `document` and renders it; `bom` is put back in
// front, and every line end becomes CRLF when `crlf`.
util::Result<std::string> merge_into_document(const fs::path& path, toml::Document document, std::string_view bom,
                                              bool crlf, std::string_view servers_key,
                                              const std::vector<const McpItem*>& items) {
    const std::vector<NamedEntry> entries = collect_entries(items);
    const std::string key(servers_key);
    toml::Item* item = document.root().get(key);
    // A new servers table writes no header: each entry stands under its own.
    if (!item) item = &document.root().set(key, toml::Item(toml::Table::new_implicit()));
    toml::Table* servers = item->as_table();
    if (!servers) return left_untouched(path, "`" + key + "` is not a table");

    for (const auto& [name, entry] : entries) {
        if (!entry->is_object()) return left_untouched(path, "server `" + name + "` is not an object");
        auto table = tweak_to_toml(*entry);
        if (!table) return left_untouched(path, table.error().message);
        // An entry keeps the form it is written in (a table, dotted keys, an
        // inline table), its place and its comments.
        servers->set_keeping_form(name, std::move(*table));
    }

    std::string rendered = document.render();
    if (crlf) rendered = util::with_crlf_line_ends(rendered);
    rendered.insert(0, bom);
    return rendered;
}

}  // namespace

util::Result<std::string> merge_into_toml(const fs::path& path, std::string_view text,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items) {
    const bool had_bom = text.substr(0, byte_order_mark.size()) == byte_order_mark;
    const bool had_crlf = text.find("\r\n") != std::string_view::npos;
    if (had_bom) text.remove_prefix(byte_order_mark.size());

    toml::Document document;
    if (!util::is_blank(text)) {
        auto parsed = toml::parse(text);
        if (!parsed) return left_untouched(path, core::invalid_toml_text(text, parsed.error().offset));
        document = std::move(*parsed);
    }
    return merge_into_document(path, std::move(document), had_bom ? byte_order_mark : std::string_view(), had_crlf,
                               servers_key, items);
}

util::Result<std::string> merge_into_toml(const fs::path& path, std::string_view text, toml::Document parsed,
                                          std::string_view servers_key, const std::vector<const McpItem*>& items) {
    const bool had_bom = text.substr(0, byte_order_mark.size()) == byte_order_mark;
    // A blank file is merged into an empty document, as above.
    if (util::is_blank(had_bom ? text.substr(byte_order_mark.size()) : text)) {
        return merge_into_toml(path, text, servers_key, items);
    }
    // The parsed document keeps its byte-order mark and renders it first.
    const bool had_crlf = text.find("\r\n") != std::string_view::npos;
    return merge_into_document(path, std::move(parsed), std::string_view(), had_crlf, servers_key, items);
}

}  // namespace mcp
