// `mirthlode revert AGENT`: remove everything mirthlode put into one switched-off agent.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int revert(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, const std::string& agent);

}  // namespace commands
