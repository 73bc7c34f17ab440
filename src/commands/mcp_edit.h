// `mirthlode mcp remove|disable|enable NAME`: delete, park or restore one
// Commons server everywhere.
#pragma once

#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int mcp_remove(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
               const std::string& name);
int mcp_disable(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
                const std::string& name);
int mcp_enable(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter,
               const std::string& name);

}  // namespace commands
