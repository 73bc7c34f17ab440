// The plan of the whole fan-out: every section `sync` applies and `status`
// reports, read from the Commons, the configuration and the agents' files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/context.h"
#include "fanout/hooks.h"
#include "fanout/instructions.h"
#include "fanout/link.h"
#include "fanout/render.h"
#include "mcp/plan.h"

namespace fanout {

// Everything sync lists and status reports, built whole before anything is
// printed.
struct SyncPlan {
    std::vector<std::string> warnings;  // Commons scan warnings, as text
    std::vector<LinkSection> link_sections;
    std::vector<InstructionItem> instructions;
    mcp::McpPlan mcp;                    // its blocking errors moved to `errors`
    std::vector<RenderedCommand> rendered;
    HookPlan hooks;                      // its blocking errors moved to `errors`
    std::vector<std::string> errors;     // planning errors that block every section
};

struct PlanOptions {
    // Keep a record of every link entry found linked; without it a link
    // section only counts them.
    bool keep_linked = true;
    // Keep a record of every MCP server and rendered command found managed;
    // without it the plan holds only those that are not.
    bool keep_managed = true;
};
// Reads the Commons, the configuration and the agents' files; changes nothing.
SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config, const PlanOptions& options = {});

// The states sync changes. A variant-identical link is listed with its note
// and left, so it is not among them.
bool is_actionable(LinkState state);
bool is_actionable(InstructionState state);

// What status counts as needing attention: what sync changes, and a
// variant-identical copy, which the user can re-link.
bool needs_attention(LinkState state);
template <class State>
bool needs_attention(State state) { return is_actionable(state); }

// The number of items of the plan that need attention.
std::uint64_t actionable_count(const SyncPlan& plan);

}  // namespace fanout
