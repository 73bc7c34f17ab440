// `mirthlode adopt PATH [--dry-run]`: take an existing path under management.
#pragma once

#include <optional>
#include <string>

#include "core/config.h"
#include "core/context.h"
#include "core/report.h"

namespace commands {

int adopt(const core::RunContext& ctx, const core::Config& config, core::Reporter& reporter, const std::string& path, bool dry_run);

}  // namespace commands
