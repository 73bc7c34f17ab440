// The plan of the whole fan-out: every section `sync` applies and `status`
// reports, read from the Commons, the configuration and the agents' files.
#pragma once

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
    // Keep a record of every item already in place: link entries found
    // linked, MCP servers and rendered commands found managed. Without it
    // the plan holds only the items that are not in place; a link section
    // counts its linked entries.
    bool keep_in_place = true;
};

// Reads the Commons, the configuration and the agents' files; changes nothing.
SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config, const PlanOptions& options = {});

}  // namespace fanout
