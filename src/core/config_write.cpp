#include "core/config_write.h"

#include <utility>

#include "core/agent_files.h"
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
    std::string old_text;  // as read, byte-order mark and all
    bool bom = false;
    bool crlf = false;
    toml::Document document;
};

util::Result<ConfigDocument> open_config(const fs::path& config_dir) {
    ConfigDocument config;
    config.path = config_dir / "mirthlode.toml";
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

// Writes the document back when its text has changed.
util::Status<> save_config(const fs::path& config_dir, const ConfigDocument& config) {
    std::string text = config.document.render();
    if (config.crlf) text = util::with_crlf_line_ends(text);
    if (config.bom && !text.starts_with(byte_order_mark)) text.insert(0, byte_order_mark);
    if (text == config.old_text) return {};
    if (auto made = platform::create_directories(config_dir); !made) {
        return util::error("cannot create " + config_dir.string() + ": " + made.error().message());
    }
    if (auto written = write_atomic(config.path, text); !written) {
        return util::error("cannot write " + config.path.string() + ": " + written.error().message());
    }
    return {};
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

void edit_agents(toml::Table& table, const AgentsEdit& edit) {
    switch (edit.kind) {
    case AgentsEdit::Kind::keep:
        break;
    case AgentsEdit::Kind::replace:
        table.set("agents", toml::Item(array_of_names(edit.names)));
        table.set_implicit(false);
        break;
    case AgentsEdit::Kind::restore:
        if (edit.before.agents) {
            table.set("agents", toml::Item(*edit.before.agents));
        } else {
            table.remove("agents");
            // Back to a table without a header (or decoration) of its own.
            if (!edit.before.had_table) {
                toml::Table bare = toml::Table::new_implicit();
                for (const toml::Entry& entry : table) bare.set(entry.key(), entry.item());
                table = std::move(bare);
            } else if (edit.before.implicit) {
                table.set_implicit(true);
            }
        }
        break;
    }
}

void store_tweak(toml::Table& tweaks, const toml::Table& tweak, const std::string& agent) {
    toml::Table table = tweak;
    if (const toml::Item* old = tweaks.get(agent); old && old->as_table()) table.carry_decor_from(*old->as_table());
    tweaks.set(agent, toml::Item(std::move(table)));
}

}  // namespace

util::Result<McpSettingsBefore> write_mcp_settings(const fs::path& config_dir, const std::string& server,
                                                   const AgentsEdit& agents, const toml::Table* tweak,
                                                   const std::string& agent) {
    auto config = open_config(config_dir);
    if (!config) return config.error();

    toml::Table* mcp = table_under(config->document.root(), "mcp");
    if (!mcp) return util::error("`mcp` in mirthlode.toml is not a table — left untouched");
    McpSettingsBefore before;
    if (const toml::Item* found = mcp->get(server)) {
        before.had_table = true;
        before.implicit = found->as_table() && found->as_table()->is_implicit();
    }
    toml::Table* table = table_under(*mcp, server);
    if (!table) return util::error("mcp." + server + " in mirthlode.toml is not a table — left untouched");
    if (const toml::Item* list = table->get("agents"); list && list->as_value()) before.agents = *list->as_value();

    edit_agents(*table, agents);
    if (tweak) {
        toml::Item* item = table->get("tweaks");
        if (!item) item = &table->set("tweaks", toml::Item(toml::Table()));
        toml::Table* tweaks = item->as_table();
        if (!tweaks) return util::error("mcp." + server + ".tweaks in mirthlode.toml is not a table — left untouched");
        tweaks->set_implicit(true);
        store_tweak(*tweaks, *tweak, agent);
    }
    // A table this run brought in and left empty goes again.
    if (agents.kind == AgentsEdit::Kind::restore && !agents.before.had_table && table->empty()) mcp->remove(server);

    if (auto saved = save_config(config_dir, *config); !saved) return saved.error();
    return before;
}

util::Status<> remove_mcp_settings(const fs::path& config_dir, const std::string& server) {
    auto config = open_config(config_dir);
    if (!config) return config.error();
    toml::Item* item = config->document.root().get("mcp");
    toml::Table* mcp = item ? item->as_table() : nullptr;
    if (!mcp || !mcp->remove_keeping_comments(server)) return {};
    return save_config(config_dir, *config);
}

}  // namespace core
