#include "core/config_write.h"

#include <optional>
#include <utility>

#include "core/agent_files.h"
#include "core/config.h"
#include "core/fsutil.h"
#include "platform/platform.h"
#include "toml/document.h"
#include "util/text.h"

namespace core {

namespace {

using util::byte_order_mark;

// mirthlode.toml read for an edit, with what its text must keep.
struct ConfigDocument {
    fs::path path;
    bool existed = false;
    std::string old_text;  // as read, byte-order mark and all
    bool bom = false;
    bool crlf = false;
    toml::Document document;
};

util::Result<ConfigDocument> open_config(const fs::path& config_dir) {
    ConfigDocument config;
    config.path = config_dir / "mirthlode.toml";
    // A link that leads nowhere holds no file: a write makes one where it leads.
    config.existed = static_cast<bool>(platform::metadata(config.path));
    auto text = read_toml_document(config.path);
    if (!text) return text.error();
    config.old_text = std::move(*text);

    std::string_view body = config.old_text;
    config.crlf = body.find("\r\n") != std::string_view::npos;
    config.bom = body.starts_with(byte_order_mark);
    if (config.bom) body.remove_prefix(byte_order_mark.size());
    if (!util::is_blank(body)) {
        auto parsed = toml::parse(body);
        if (!parsed) {
            return util::error(config.path.string() + " is not valid TOML (" +
                               invalid_toml_text(body, parsed.error().offset) + ") — left untouched");
        }
        config.document = std::move(*parsed);
    }
    return config;
}

// Writes the document back when its text has changed; true when written.
// The file written (a link's target when the path is a link); nothing when
// the text did not change.
util::Result<std::optional<fs::path>> save_config(const fs::path& config_dir, const ConfigDocument& config) {
    std::string text = config.document.render();
    if (config.crlf) text = util::with_crlf_line_ends(text);
    if (config.bom && !text.starts_with(byte_order_mark)) text.insert(0, byte_order_mark);
    if (text == config.old_text) return std::optional<fs::path>();
    if (auto made = platform::create_directories(config_dir); !made) {
        return util::error("cannot create " + config_dir.string() + ": " + made.error().message());
    }
    auto written = write_atomic(config.path, text);
    if (!written) return util::error("cannot write " + config.path.string() + ": " + written.error().message());
    return std::optional<fs::path>(std::move(*written));
}

toml::Value array_of_names(const std::vector<std::string>& names) {
    std::vector<toml::Value> items;
    items.reserve(names.size());
    for (const auto& name : names) items.push_back(toml::Value::string(name));
    return toml::Value::array(toml::Array(std::move(items)));
}

// The table under `key`, inserted empty and implicit when absent; nullptr
// when something else stands there.
toml::Table* table_under(toml::Table& parent, const std::string& key) {
    toml::Item* item = parent.get(key);
    if (!item) item = &parent.set(key, toml::Item(toml::Table::new_implicit()));
    return item->as_table();
}

// Why the server's part cannot take the edit; checked before any of it changes.
std::optional<std::string> refusal(const toml::Table& mcp, const McpSettingsEdit& edit) {
    const toml::Item* item = mcp.get(edit.server);
    if (!item) return std::nullopt;
    const toml::Table* table = item->as_table();
    if (!table) return "mcp." + edit.server + " in mirthlode.toml is not a table — left untouched";
    const toml::Item* tweaks = table->get("tweaks");
    if (!edit.tweaks.empty() && tweaks && !tweaks->as_table()) {
        return "mcp." + edit.server + ".tweaks in mirthlode.toml is not a table — left untouched";
    }
    return std::nullopt;
}

// Whether `key` of `table` (absent: nothing) already holds this value; a
// value already there is left as written.
bool holds(const toml::Table* table, std::string_view key, const json::Value& value) {
    const toml::Item* item = table ? table->get(key) : nullptr;
    return item && json::equal(toml_item_to_json(*item), value);
}

json::Value names_json(const std::vector<std::string>& names) {
    json::Value array = json::Value::array();
    for (const auto& name : names) array.push_back(name);
    return array;
}

void store_tweak(toml::Table& server, const toml::Table& tweak, const std::string& agent) {
    toml::Item* item = server.get("tweaks");
    if (!item) item = &server.set("tweaks", toml::Item(toml::Table()));
    toml::Table& tweaks = *item->as_table();
    // Each Tweak stands under its own [mcp.<server>.tweaks.<agent>] header.
    tweaks.set_implicit(true);
    toml::Table table = tweak;
    if (const toml::Item* old = tweaks.get(agent); old && old->as_table()) table.carry_decor_from(*old->as_table());
    tweaks.set(agent, toml::Item(std::move(table)));
}

// The table under `key` of `parent`, when both are there.
const toml::Table* table_at(const toml::Table* parent, std::string_view key) {
    const toml::Item* item = parent ? parent->get(key) : nullptr;
    return item ? item->as_table() : nullptr;
}

void apply(toml::Table& mcp, const McpSettingsEdit& edit) {
    if (edit.agents && !holds(table_at(&mcp, edit.server), "agents", names_json(*edit.agents))) {
        toml::Table& table = *table_under(mcp, edit.server);
        table.set("agents", toml::Item(array_of_names(*edit.agents)));
        table.set_implicit(false);
    }
    for (const auto& [agent, tweak] : edit.tweaks) {
        const toml::Table* tweaks = table_at(table_at(&mcp, edit.server), "tweaks");
        if (holds(tweaks, agent, toml_item_to_json(toml::Item(tweak)))) continue;
        store_tweak(*table_under(mcp, edit.server), tweak, agent);
    }
}

}  // namespace

util::Result<McpSettingsWrite> write_mcp_settings(const fs::path& config_dir,
                                                  const std::vector<McpSettingsEdit>& edits) {
    McpSettingsWrite done;
    if (edits.empty()) return done;
    auto config = open_config(config_dir);
    if (!config) return config.error();
    toml::Table* mcp = table_under(config->document.root(), "mcp");
    if (!mcp) return util::error("`mcp` in mirthlode.toml is not a table — left untouched");
    for (const McpSettingsEdit& edit : edits) {
        if (auto why = refusal(*mcp, edit)) {
            done.refused.push_back({edit.server, std::move(*why)});
            continue;
        }
        apply(*mcp, edit);
    }
    auto saved = save_config(config_dir, *config);
    if (!saved) return saved.error();
    // An undo goes where the write went.
    done.path = saved->value_or(config->path);
    done.written = saved->has_value();
    if (config->existed) done.previous = std::move(config->old_text);
    return done;
}

util::Status<> undo_mcp_settings(const McpSettingsWrite& write) {
    if (!write.written) return {};
    if (!write.previous) {
        if (auto removed = platform::remove_file(write.path); !removed) {
            return util::error("cannot remove " + write.path.string() + ": " + removed.error().message());
        }
        return {};
    }
    if (auto restored = write_atomic(write.path, *write.previous); !restored) {
        return util::error("cannot write " + write.path.string() + ": " + restored.error().message());
    }
    return {};
}

util::Status<> remove_mcp_settings(const fs::path& config_dir, const std::string& server) {
    auto config = open_config(config_dir);
    if (!config) return config.error();
    toml::Item* item = config->document.root().get("mcp");
    toml::Table* mcp = item ? item->as_table() : nullptr;
    if (!mcp || !mcp->remove_keeping_comments(server)) return {};
    if (auto saved = save_config(config_dir, *config); !saved) return saved.error();
    return {};
}

}  // namespace core
