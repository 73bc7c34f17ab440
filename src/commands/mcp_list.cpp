#include "commands/mcp_list.h"

#include <utility>

#include "core/agents.h"
#include "mcp/listing.h"
#include "mcp/plan.h"
#include "mcp/servers.h"
#include "platform/platform.h"
#include "util/text.h"

namespace commands {

namespace {

constexpr std::size_t state_column = 10;

std::string header(const mcp::ListedServer& server) {
    const char* origin = server.disabled ? "disabled" : server.managed ? "Commons" : "not in the Commons";
    return server.name + "  (" + origin + ")";
}

}  // namespace

int mcp_list(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool json) {
    // The plan and the list come from one read of mcp.json: a file that is
    // missing or not a regular file plans nothing and lists nothing.
    const auto mcp_json = ctx.commons / "mcp.json";
    mcp::McpServers commons;
    mcp::McpPlan plan;
    if (auto meta = platform::metadata(mcp_json); meta && meta->is_regular()) {
        auto loaded = mcp::parse_commons_servers(mcp_json);
        if (!loaded) {
            reporter.report_error(loaded.error().message);
            return 1;
        }
        commons = std::move(*loaded);
        // A listing shows states alone: nothing a merge would need is kept.
        mcp::plan_mcp_agent(ctx, config, core::select_targets(ctx.home, config), commons, plan, true, nullptr,
                            mcp::McpDetail::states);
    }
    if (!plan.errors.empty()) {
        for (const auto& text : plan.errors) reporter.report_error(text);
        return 1;
    }
    for (const auto& text : plan.read_errors) reporter.report_error(text);

    const mcp::ServerListing listing = mcp::list_servers(plan, commons);
    if (json) {
        reporter.print_json(mcp::listing_json(listing));
    } else if (listing.servers.empty()) {
        reporter.print_line("no MCP servers in the Commons, and none found in any agent's config");
    } else {
        for (const auto& server : listing.servers) {
            reporter.print_line(header(server));
            for (const auto& target : server.targets) {
                reporter.print_line(util::row_start(mcp::state_word(target.state), state_column) + target.agent);
            }
        }
    }
    if (listing.servers.empty()) return 0;
    if (reporter.errors() > 0) return 1;
    return listing.actionable > 0 ? 2 : 0;
}

}  // namespace commands
