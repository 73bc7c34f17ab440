#include "mcp/adopt_tables.h"

#include <utility>

#include "mcp/adopt.h"

namespace mcp {

const util::Result<IndexedObject>& AgentTables::table(const core::Target& target, const fs::path& file) {
    auto known = tables_.find(file);
    if (known != tables_.end()) return known->second;
    const bool toml = target.spec->config_format == core::ConfigFormat::toml;
    auto read = core::read_agent_file(file, toml);
    if (!read) return tables_.emplace(file, read.error()).first->second;
    auto table = core::config_table_of(file, *read, target.spec->servers_key);
    util::Result<IndexedObject> indexed = table ? util::Result<IndexedObject>(IndexedObject(std::move(*table)))
                                                : util::Result<IndexedObject>(table.error());
    return tables_.emplace(file, std::move(indexed)).first->second;
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
