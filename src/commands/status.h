// `mirthlode status [--json]`: what is in sync, what is not, what is not ours.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int status(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool json);

}  // namespace commands
