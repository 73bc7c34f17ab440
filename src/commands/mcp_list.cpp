#include "commands/mcp_list.h"

#include <optional>
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
    return std::string(server.name) + "  (" + origin + ")";
}

}  // namespace

int mcp_list(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool json) {
    // The plan and the list come from one read of mcp.json: a file that is
    // missing or not a regular file plans nothing and lists nothing.
    const auto mcp_json = ctx.commons / "mcp.json";
    mcp::McpServers commons;
    mcp::McpPlan plan;
    if (auto meta = platform::metadata(mcp_json); meta && meta->is_regular()) {
        std::optional<util::Error> failed;
        // A listing shows states alone: nothing a merge would need is kept,
        // and each agent's file is let go once it is planned.
        mcp::plan_mcp_loading(
            ctx, config, core::select_targets(ctx.home, config),
            [&]() -> const mcp::McpServers* {
                auto loaded = mcp::parse_commons_servers(mcp_json);
                if (!loaded) {
                    failed = loaded.error();
                    return nullptr;
                }
                commons = std::move(*loaded);
                return &commons;
            },
            plan, true, nullptr, mcp::McpDetail::states);
        if (failed) {
            reporter.report_error(failed->message);
            return 1;
        }
    }
    if (!plan.errors.empty()) {
        for (const auto& text : plan.errors) reporter.report_error(text);
        return 1;
    }
    for (const auto& text : plan.read_errors) reporter.report_error(text);

    const mcp::ServerListing listing = mcp::list_servers(plan, commons);
    if (json) {
        mcp::write_listing_json(listing, [&](std::string_view part) { reporter.print_json_part(part); });
        reporter.print_json_end();
    } else if (listing.servers.empty()) {
        reporter.print_line("no MCP servers in the Commons, and none found in any agent's config");
    } else {
        for (const auto& server : listing.servers) {
            reporter.print_line(header(server));
            for (const auto& target : server.targets) {
                reporter.print_line(util::row_start(mcp::state_word(target.state), state_column).append(target.agent));
            }
        }
    }
    if (listing.servers.empty()) return 0;
    if (reporter.errors() > 0) return 1;
    return listing.actionable > 0 ? 2 : 0;
}

}  // namespace commands
