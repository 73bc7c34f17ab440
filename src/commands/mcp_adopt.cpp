#include "commands/mcp_adopt.h"

#include <vector>

#include "core/agents.h"
#include "mcp/adoption.h"

namespace commands {

namespace {

// The one candidate "agent/server" names; nothing (reported) when it names none.
std::optional<mcp::Candidate> named_server(const std::string& spec, const std::vector<core::Target>& targets,
                                           core::Reporter& reporter) {
    const auto slash = spec.find('/');
    if (slash == std::string::npos) {
        reporter.report_error("`" + spec + "` is not an agent/server pair — try `mirthlode mcp adopt claude/serena`");
        return std::nullopt;
    }
    const std::string agent = spec.substr(0, slash);
    for (const core::Target& target : targets) {
        if (target.name == agent) return mcp::Candidate{&target, spec.substr(slash + 1)};
    }
    reporter.report_error("`" + agent + "` is not an agent mirthlode knows about, or it is not installed");
    return std::nullopt;
}

}  // namespace

int mcp_adopt(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
              const std::optional<std::string>& spec, bool all) {
    const std::vector<core::Target> targets = core::select_targets(ctx.home, config);
    if (all) return mcp::adopt_servers(ctx, reporter, targets, std::nullopt);
    if (!spec) {
        reporter.report_error("give a server to adopt as agent/server, or --all");
        return 1;
    }
    auto candidate = named_server(*spec, targets, reporter);
    if (!candidate) return 1;
    return mcp::adopt_servers(ctx, reporter, targets, candidate);
}

}  // namespace commands
