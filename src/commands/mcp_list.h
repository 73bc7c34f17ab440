// `mirthlode mcp list [--json]`: the MCP servers and their state in every agent.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int mcp_list(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool json);

}  // namespace commands
