// `mirthlode mcp adopt [SPEC] [--all]`: take servers the agents hold into the Commons.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int mcp_adopt(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, const std::optional<std::string>& spec, bool all);

}  // namespace commands
