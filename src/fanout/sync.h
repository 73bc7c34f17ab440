// `mirthlode sync [--dry-run]`: plan the whole fan-out, then list and apply
// it section by section.
#pragma once

#include <string>
#include <vector>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"
#include "fanout/hooks.h"
#include "fanout/instructions.h"
#include "fanout/link.h"
#include "fanout/render.h"
#include "mcp/plan.h"

namespace fanout {

// Everything sync will list, built whole before anything is printed.
struct SyncPlan {
    std::vector<std::string> warnings;  // Commons scan warnings, as text
    std::vector<LinkSection> link_sections;
    std::vector<InstructionItem> instructions;
    mcp::McpPlan mcp;                    // its blocking errors moved to `errors`
    std::vector<RenderedCommand> rendered;
    HookPlan hooks;                      // its blocking errors moved to `errors`
    std::vector<std::string> errors;     // planning errors that block every section
};

// Reads the Commons, the configuration and the agents' files; changes nothing.
SyncPlan plan_sync(const core::RunContext& ctx, const core::Config& config);

int run_sync(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
             bool dry_run);

}  // namespace fanout
