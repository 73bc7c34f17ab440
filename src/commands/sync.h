// `mirthlode sync [--dry-run]`: plan the whole fan-out, then list and apply
// it section by section.
#pragma once

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int sync(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, bool dry_run);

}  // namespace commands
