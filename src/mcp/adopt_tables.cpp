#include "mcp/adopt_tables.h"

#include <iterator>
#include <utility>

#include "mcp/adopt.h"

namespace mcp {

const util::Result<IndexedObject>& AgentTables::table(const core::Target& target, const fs::path& file) {
    auto known = reads_.find(file);
    if (known != reads_.end()) return known->second.table;
    const bool toml = target.spec->config_format == core::ConfigFormat::toml;
    auto read = core::read_agent_file(file, toml);
    if (!read) return reads_.emplace(file, Read{std::nullopt, read.error()}).first->second.table;
    auto table = core::config_table_of(file, *read, target.spec->servers_key);
    // Only the stamp is kept, to tell whether the file has changed since.
    read->text.clear();
    read->parsed.reset();
    read->document = json::Value();
    util::Result<IndexedObject> indexed = table ? util::Result<IndexedObject>(IndexedObject(std::move(*table)))
                                                : util::Result<IndexedObject>(table.error());
    return reads_.emplace(file, Read{std::move(*read), std::move(indexed)}).first->second.table;
}

void AgentTables::forget_changed() {
    for (auto it = reads_.begin(); it != reads_.end();) {
        const bool unchanged = it->second.stamp && core::unchanged_since(it->first, *it->second.stamp);
        it = unchanged ? std::next(it) : reads_.erase(it);
    }
}

std::vector<Candidate> every_server(const core::RunContext& ctx, const std::vector<core::Target>& targets,
                                    AgentTables& tables, std::vector<std::string>& errors) {
    std::vector<Candidate> candidates;
    for (const core::Target& target : targets) {
        auto file = join_optional_under_root(ctx, target.spec);
        if (!file) continue;
        const util::Result<IndexedObject>& table = tables.table(target, *file);
        if (!table) {
            errors.push_back(table.error().message);
            continue;
        }
        for (const auto& [name, entry] : table->members()) candidates.push_back({&target, name});
    }
    return candidates;
}

}  // namespace mcp
